#!/usr/bin/env bash
# Starts or stops the replicated servers that the cluster tests use, all on
# 127.0.0.1 at free ports: a three-node MariaDB Galera cluster (galera-4,
# rsync state transfer) and a primary with one GTID replica.
#   cluster.sh start DIR      fresh data directories under DIR, every server
#                             started, test accounts created, DIR/cluster.env
#                             written
#   cluster.sh stop DIR       stops those servers (never any other)
#   cluster.sh kill DIR N     kill -9 of Galera node N (1..3)
#   cluster.sh restart DIR N  starts node N again and waits until it has
#                             rejoined the cluster (Synced)
# The servers run as the `mysql` user with data directories it owns (the
# rsync state transfer fails with "Permission denied" otherwise); DIR and
# its parents must be searchable by that user.
set -euo pipefail

cmd=${1:?usage: cluster.sh start|stop|kill|restart DIR [N]}
dir=${2:?usage: cluster.sh start|stop|kill|restart DIR [N]}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
provider=/usr/lib/galera/libgalera_smm.so
run_user=mysql

find_bin() {
  for b in "$@"; do
    for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
      [[ -x $d/$b ]] && { echo "$d/$b"; return 0; }
    done
  done
  echo "cluster: none of $* found (install mariadb-server galera-4 rsync)" >&2
  return 1
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Stops the server whose pid file is $1: TERM, then KILL after 20 s.
stop_pid() {
  local pidfile=$1 pid
  [[ -f $pidfile ]] || return 0
  pid=$(cat "$pidfile" 2>/dev/null || true)
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 200); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

stop_all() {
  local d
  for d in "$dir"/node* "$dir"/primary "$dir"/replica; do
    [[ -d $d ]] && stop_pid "$d/mysqld.pid"
  done
  return 0
}

client() {  # client DIR-of-server [mariadb args...]
  local d=$1
  shift
  "$mariadb" --no-defaults -S "$d/mysqld.sock" -uroot "$@"
}

wait_up() {  # wait_up DIR seconds
  local d=$1 limit=$2
  for _ in $(seq 1 $((limit * 10))); do
    if [[ -S $d/mysqld.sock ]] && client "$d" -e 'select 1' >/dev/null 2>&1; then return 0; fi
    if [[ -f $d/mysqld.pid ]]; then
      local pid
      pid=$(cat "$d/mysqld.pid" 2>/dev/null || true)
      [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null && break
    fi
    sleep 0.1
  done
  echo "cluster: server in $d did not start" >&2
  tail -n 40 "$d/error.log" >&2 || true
  return 1
}

wait_synced() {  # wait_synced DIR seconds
  local d=$1 limit=$2 state
  for _ in $(seq 1 $((limit * 10))); do
    state=$(client "$d" -N -e "show global status like 'wsrep_local_state'" 2>/dev/null | cut -f2 || true)
    [[ $state == 4 ]] && return 0
    sleep 0.1
  done
  echo "cluster: node in $d did not reach Synced" >&2
  tail -n 40 "$d/error.log" >&2 || true
  return 1
}

# The cluster's ports, read back from cluster.env.
load_env() {
  # shellcheck disable=SC1091
  source "$dir/ports.env"
}

start_node() {  # start_node N [bootstrap]
  local n=$1 bootstrap=${2:-} d=$dir/node$1
  local port_var=NODE${n}_PORT gcomm_var=NODE${n}_GCOMM ist_var=NODE${n}_IST sst_var=NODE${n}_SST
  mkdir -p "$d/data"
  chown -R "$run_user:" "$d"
  local extra=()
  [[ -n $bootstrap ]] && extra+=(--wsrep-new-cluster)
  "$mariadbd" --no-defaults --user="$run_user" --datadir="$d/data" \
    --bind-address=127.0.0.1 --port="${!port_var}" --socket="$d/mysqld.sock" \
    --pid-file="$d/mysqld.pid" --log-error="$d/error.log" --skip-name-resolve \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=48M --max-allowed-packet=64M \
    --binlog-format=ROW --default-storage-engine=InnoDB --innodb-autoinc-lock-mode=2 \
    --wsrep-on=ON --wsrep-provider="$provider" --wsrep-node-name="node$n" \
    --wsrep-cluster-name=rowset_test \
    --wsrep-cluster-address="gcomm://127.0.0.1:$NODE1_GCOMM,127.0.0.1:$NODE2_GCOMM,127.0.0.1:$NODE3_GCOMM" \
    --wsrep-node-address="127.0.0.1:${!gcomm_var}" \
    --wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:${!gcomm_var};ist.recv_addr=127.0.0.1:${!ist_var};gcache.size=64M;evs.suspect_timeout=PT3S;evs.inactive_timeout=PT6S;evs.install_timeout=PT5S" \
    --wsrep-sst-method=rsync --wsrep-sst-receive-address="127.0.0.1:${!sst_var}" \
    "${extra[@]}" >/dev/null 2>&1 &
}

start_plain() {  # start_plain NAME PORT SERVER_ID
  local name=$1 port=$2 id=$3 d=$dir/$1
  mkdir -p "$d"
  chown -R "$run_user:" "$d"
  "$mariadbd" --no-defaults --user="$run_user" --datadir="$d/data" \
    --bind-address=127.0.0.1 --port="$port" --socket="$d/mysqld.sock" \
    --pid-file="$d/mysqld.pid" --log-error="$d/error.log" --skip-name-resolve \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=48M --max-allowed-packet=64M \
    --server-id="$id" --log-bin="$d/data/binlog" --gtid-strict-mode=1 \
    --binlog-format=ROW >/dev/null 2>&1 &
}

install_db() {  # install_db DIR
  local d=$1
  mkdir -p "$d"
  chown -R "$run_user:" "$d"
  "$installdb" --no-defaults --datadir="$d/data" --user="$run_user" \
    --auth-root-authentication-method=socket >"$d/install.log" 2>&1 || {
    cat "$d/install.log" >&2; return 1; }
}

accounts_sql() {
  cat <<'SQL'
DELETE FROM mysql.global_priv WHERE User='';
FLUSH PRIVILEGES;
CREATE USER 'rowset_nopw'@'%';
GRANT ALL PRIVILEGES ON *.* TO 'rowset_nopw'@'%';
CREATE DATABASE rowset_test;
SQL
}

case $cmd in
  stop)
    stop_all
    exit 0
    ;;
  kill)
    n=${3:?usage: cluster.sh kill DIR N}
    pid=$(cat "$dir/node$n/mysqld.pid")
    kill -9 "$pid"
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    rm -f "$dir/node$n/mysqld.pid"
    exit 0
    ;;
  restart)
    n=${3:?usage: cluster.sh restart DIR N}
    mariadbd=$(find_bin mariadbd mysqld)
    mariadb=$(find_bin mariadb mysql)
    load_env
    start_node "$n"
    wait_up "$dir/node$n" 180
    wait_synced "$dir/node$n" 180
    exit 0
    ;;
  start)
    stop_all
    [[ -x $provider ]] || [[ -f $provider ]] || {
      echo "cluster: $provider missing (install galera-4)" >&2; exit 1; }
    command -v rsync >/dev/null || { echo "cluster: rsync missing" >&2; exit 1; }
    mariadbd=$(find_bin mariadbd mysqld)
    installdb=$(find_bin mariadb-install-db mysql_install_db)
    mariadb=$(find_bin mariadb mysql)
    rm -rf "$dir"/node* "$dir"/primary "$dir"/replica "$dir/cluster.env" "$dir/ports.env"
    chmod 755 "$dir"
    {
      for n in 1 2 3; do
        echo "NODE${n}_PORT=$(free_port)"
        echo "NODE${n}_GCOMM=$(free_port)"
        echo "NODE${n}_IST=$(free_port)"
        echo "NODE${n}_SST=$(free_port)"
      done
      echo "PRIMARY_PORT=$(free_port)"
      echo "REPLICA_PORT=$(free_port)"
    } >"$dir/ports.env"
    load_env

    # Galera: node 1 starts the cluster, the others join it by state transfer.
    install_db "$dir/node1"
    start_node 1 bootstrap
    wait_up "$dir/node1" 120
    wait_synced "$dir/node1" 120
    accounts_sql | client "$dir/node1"
    for n in 2 3; do
      start_node "$n"
      wait_up "$dir/node$n" 180
      wait_synced "$dir/node$n" 180
    done

    # Primary and replica: the replica follows the primary by GTID from the
    # start, so the accounts reach it by replication.
    install_db "$dir/primary"
    install_db "$dir/replica"
    start_plain primary "$PRIMARY_PORT" 1
    start_plain replica "$REPLICA_PORT" 2
    wait_up "$dir/primary" 120
    wait_up "$dir/replica" 120
    client "$dir/primary" <<'SQL'
RESET MASTER;
CREATE USER 'rowset_repl'@'127.0.0.1' IDENTIFIED BY 'repl';
GRANT REPLICATION SLAVE ON *.* TO 'rowset_repl'@'127.0.0.1';
SQL
    client "$dir/replica" <<SQL
RESET MASTER;
SET GLOBAL gtid_slave_pos = '';
CHANGE MASTER TO MASTER_HOST='127.0.0.1', MASTER_PORT=$PRIMARY_PORT,
  MASTER_USER='rowset_repl', MASTER_PASSWORD='repl', MASTER_USE_GTID=slave_pos,
  MASTER_CONNECT_RETRY=1;
START SLAVE;
SQL
    accounts_sql | client "$dir/primary"
    for _ in $(seq 1 300); do
      client "$dir/replica" -N -e "select 1 from information_schema.schemata where schema_name='rowset_test'" 2>/dev/null | grep -q 1 && break
      sleep 0.1
    done

    cat >"$dir/cluster.env.tmp" <<ENV
ROWSET_CLUSTER_NODES=127.0.0.1:$NODE1_PORT,127.0.0.1:$NODE2_PORT,127.0.0.1:$NODE3_PORT
ROWSET_CLUSTER_PRIMARY=127.0.0.1:$PRIMARY_PORT
ROWSET_CLUSTER_REPLICA=127.0.0.1:$REPLICA_PORT
ROWSET_CLUSTER_USER=rowset_nopw
ROWSET_CLUSTER_DATABASE=rowset_test
ROWSET_CLUSTER_DIR=$dir
ROWSET_CLUSTER_SCRIPT=$(cd "$(dirname "$0")" && pwd)/cluster.sh
ROWSET_CLUSTER_CLIENT=$mariadb --no-defaults -uroot
ENV
    mv "$dir/cluster.env.tmp" "$dir/cluster.env"
    echo "cluster: Galera nodes on 127.0.0.1:$NODE1_PORT,$NODE2_PORT,$NODE3_PORT; primary $PRIMARY_PORT, replica $REPLICA_PORT"
    ;;
  *)
    echo "usage: cluster.sh start|stop|kill|restart DIR [N]" >&2
    exit 2
    ;;
esac
