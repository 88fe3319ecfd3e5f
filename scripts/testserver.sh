#!/usr/bin/env bash
# Starts or stops the private MariaDB server that the integration tests use.
#   testserver.sh start DIR   fresh data directory under DIR, server on
#                             127.0.0.1 at a free port with its own socket,
#                             test accounts created, DIR/server.env written;
#                             TLS with certificates made by testcerts.sh in
#                             DIR/certs (a test CA, the server's certificate
#                             for localhost and 127.0.0.1, a client's)
#   testserver.sh stop DIR    stops that server (never any other)
set -euo pipefail

cmd=${1:?usage: testserver.sh start|stop DIR}
dir=${2:?usage: testserver.sh start|stop DIR}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
pidfile=$dir/mysqld.pid
sock=$dir/mysqld.sock

find_bin() {
  for b in "$@"; do
    for d in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
      [[ -x $d/$b ]] && { echo "$d/$b"; return 0; }
    done
  done
  echo "testserver: none of $* found (install mariadb-server)" >&2
  return 1
}

stop_server() {
  if [[ -f $pidfile ]]; then
    local pid
    pid=$(cat "$pidfile" 2>/dev/null || true)
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
  fi
}

case $cmd in
  stop)
    stop_server
    exit 0
    ;;
  start)
    stop_server
    mariadbd=$(find_bin mariadbd mysqld)
    installdb=$(find_bin mariadb-install-db mysql_install_db)
    client=$(find_bin mariadb mysql)
    rm -rf "$dir/data" "$dir/server.env" "$dir/certs"
    "$(dirname "$0")/testcerts.sh" "$dir/certs"
    certs=$dir/certs
    "$installdb" --no-defaults --datadir="$dir/data" --user=root \
      --auth-root-authentication-method=socket >"$dir/install.log" 2>&1 || {
      cat "$dir/install.log" >&2; exit 1; }
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    "$mariadbd" --no-defaults --user=root --datadir="$dir/data" \
      --bind-address=127.0.0.1 --port="$port" --socket="$sock" \
      --pid-file="$pidfile" --log-error="$dir/error.log" \
      --secure-auth=0 --local-infile=1 --skip-name-resolve \
      --innodb-buffer-pool-size=128M --innodb-log-file-size=48M \
      --max-allowed-packet=64M --skip-log-bin --max-connections=500 \
      --ssl-ca="$certs/ca.pem" --ssl-cert="$certs/server.pem" --ssl-key="$certs/server-key.pem" \
      >/dev/null 2>&1 &
    for _ in $(seq 1 600); do
      if [[ -S $sock ]] && "$client" --no-defaults -S "$sock" -uroot -e 'select 1' >/dev/null 2>&1; then
        break
      fi
      sleep 0.1
    done
    "$client" --no-defaults -S "$sock" -uroot -e 'select 1' >/dev/null 2>&1 || {
      echo "testserver: server did not start" >&2; cat "$dir/error.log" >&2; exit 1; }
    # Accounts: no password, a plain (native) password, an old-style password
    # (the hash is the pre-4.1 hash of 'secret'). Anonymous accounts would
    # shadow these from localhost, so they go. Also an Ed25519 account and
    # accounts that must come over TLS (with any certificate, or with one the
    # test CA issued).
    "$client" --no-defaults -S "$sock" -uroot <<'SQL'
DELETE FROM mysql.global_priv WHERE User='';
FLUSH PRIVILEGES;
CREATE USER 'rowset_nopw'@'%';
CREATE USER 'rowset_pw'@'%' IDENTIFIED BY 'secret';
CREATE USER 'rowset_old'@'%' IDENTIFIED VIA mysql_old_password USING '428567f408994404';
GRANT ALL PRIVILEGES ON *.* TO 'rowset_nopw'@'%';
GRANT ALL PRIVILEGES ON *.* TO 'rowset_pw'@'%';
GRANT ALL PRIVILEGES ON *.* TO 'rowset_old'@'%';
INSTALL SONAME 'auth_ed25519';
CREATE USER 'rowset_ed'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('ed secret');
GRANT ALL PRIVILEGES ON *.* TO 'rowset_ed'@'%';
CREATE USER 'rowset_tls'@'%' IDENTIFIED BY 'tls secret' REQUIRE SSL;
GRANT ALL PRIVILEGES ON *.* TO 'rowset_tls'@'%';
CREATE USER 'rowset_x509'@'%' IDENTIFIED BY 'x509 secret' REQUIRE X509;
GRANT ALL PRIVILEGES ON *.* TO 'rowset_x509'@'%';
CREATE DATABASE rowset_test;
SQL
    # The root client talks over the socket without TLS: a handshake there
    # would only add time to each of the tests' many calls.
    cat >"$dir/server.env.tmp" <<ENV
ROWSET_TEST_HOST=127.0.0.1
ROWSET_TEST_PORT=$port
ROWSET_TEST_SOCKET=$sock
ROWSET_TEST_USER=rowset_nopw
ROWSET_TEST_PW_USER=rowset_pw
ROWSET_TEST_PW_PASSWORD=secret
ROWSET_TEST_OLD_USER=rowset_old
ROWSET_TEST_OLD_PASSWORD=secret
ROWSET_TEST_DATABASE=rowset_test
ROWSET_TEST_ED_USER=rowset_ed
ROWSET_TEST_ED_PASSWORD=ed secret
ROWSET_TEST_TLS_USER=rowset_tls
ROWSET_TEST_TLS_PASSWORD=tls secret
ROWSET_TEST_X509_USER=rowset_x509
ROWSET_TEST_X509_PASSWORD=x509 secret
ROWSET_TEST_SSL_CA=$certs/ca.pem
ROWSET_TEST_SSL_CERT=$certs/client.pem
ROWSET_TEST_SSL_KEY=$certs/client-key.pem
ROWSET_TEST_SSL_WRONG_CA=$certs/wrong-ca.pem
ROWSET_TEST_ROOT_CLIENT=$client --no-defaults --skip-ssl -S $sock -uroot
ENV
    mv "$dir/server.env.tmp" "$dir/server.env"
    echo "testserver: MariaDB on 127.0.0.1:$port, socket $sock"
    ;;
  *)
    echo "usage: testserver.sh start|stop DIR" >&2
    exit 2
    ;;
esac
