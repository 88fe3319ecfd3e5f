#!/usr/bin/env bash
# One entry point for set-up, build, tests and the demo program.
#   ./dev.sh test    install what is missing, build, run every test
#   ./dev.sh demo    install what is missing, build, run the main program's
#                    demo (rowset demo; more options are passed on)
#   ./dev.sh build   install what is missing and build
#   ./dev.sh deps    install the Debian packages the project needs
#   ./dev.sh docs    API reference with Doxygen into build/docs (installs
#                    doxygen when it is missing)
#   ./dev.sh test-asan  every test in an address/undefined-behaviour
#                    sanitizer build (build-asan), stopping at a finding
#   ./dev.sh test-tsan  thread, driver and host thread tests in a thread
#                    sanitizer build (build-tsan)
#   ./dev.sh test-cluster  the tests against replicated servers (a three-node
#                    Galera cluster, a primary with a replica; label
#                    `cluster`), which the other stages leave out
#   ./dev.sh fuzz [seconds]  each libFuzzer target for that long (default
#                    60) in build-fuzz (installs clang when it is missing)
set -euo pipefail
cd "$(dirname "$0")"
# Compiler cache entries keyed by paths relative to the checkout, so that a
# fresh clone in another folder reuses what an earlier build compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

BUILD_DIR=${ROWSET_BUILD_DIR:-build}
PACKAGES=(build-essential cmake g++ python3 zlib1g-dev libgtest-dev googletest
  mariadb-server mariadb-client libmariadb3 libmariadb-dev libmariadbd19 ccache pkgconf tmux
  libedit-dev dpkg-dev galera-4 rsync iproute2 libssl-dev openssl)

deps() {
  install_packages "${PACKAGES[@]}"
}

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "dev.sh: installing ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# The API reference from the public headers. Fails when a public class, or a
# public member of a class or namespace, of the connection component, the
# datasets, the threads or the drivers (components/, drivers/) has no doc
# comment; members listed in cmake/docs_undocumented.txt are the
# documentation still owed and only counted (document them and drop them
# from the list; nothing new joins it).
docs() {
  install_packages doxygen
  local out="$BUILD_DIR/docs"
  mkdir -p "$out"
  rm -rf "$out/xml"
  local dirs=()
  for d in host util wire drivers parser components design; do [[ -d $d ]] && dirs+=("$d"); done
  ROWSET_DOCS_DIR="$out" ROWSET_DOCS_INPUT="${dirs[*]}" ROWSET_VERSION=$(sed -n 's/^project(rowset VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) \
    doxygen cmake/Doxyfile
  echo "dev.sh: API reference in $out/html/index.html ($(grep -c 'warning:' "$out/warnings.log" || true) warnings in $out/warnings.log)"
  local undocumented
  if ! undocumented=$(python3 cmake/doxygen_undocumented.py --known cmake/docs_undocumented.txt \
      "$out/xml" components drivers); then
    echo "$undocumented" >&2
    echo "dev.sh: the public classes and members above have no doc comment" >&2
    return 1
  fi
}

build() {
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

# Sanitizer and fuzzing stages: each build tree has its own private test
# server (started by the CTest fixture).
sanitized_tests() {
  local dir=$1 option=$2 select=$3
  shift 3
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-D$option=ON" >/dev/null
  # Only the named test programs when given (the thread-sanitizer stage),
  # otherwise everything.
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
  # shellcheck disable=SC2086
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" -LE cluster $select
}

# The test programs of the thread-sanitizer stage: the worker threads, the
# drivers and the host's threads.
tsan_targets() {
  local f
  for f in tests/threads/*.cpp tests/drivers/*.cpp; do
    [[ -e $f ]] || continue
    f=${f#tests/}
    echo "test_${f%%/*}_$(basename "$f" .cpp)"
  done
  echo test_host_threads_test
}

fuzz() {
  local seconds=${1:-60}
  install_packages clang libclang-rt-14-dev
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DROWSET_FUZZ=ON >/dev/null
  local targets=()
  for f in fuzz/*.cpp; do targets+=("fuzz_$(basename "$f" .cpp)"); done
  cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"
  for t in "${targets[@]}"; do
    local name=${t#fuzz_} work=build-fuzz/corpus/${t#fuzz_}
    mkdir -p "$work"
    echo "dev.sh: fuzzing $name for ${seconds}s"
    # New inputs go to the work corpus; the committed seeds are read only.
    local log=build-fuzz/$name.log
    if ! build-fuzz/"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix=build-fuzz/"$name"- "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
      tail -n 60 "$log" >&2
      echo "dev.sh: $name found a fault (input saved as build-fuzz/$name-*)" >&2
      return 1
    fi
    grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)' "$log" || tail -n 2 "$log"
  done
}

case ${1:-test} in
  deps) deps ;;
  build) deps; build ;;
  test)
    deps; build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" -LE cluster ;;
  test-cluster)
    deps; build
    # One at a time: each test drives the whole cluster.
    ctest --test-dir "$BUILD_DIR" --output-on-failure -L cluster ;;
  demo)
    deps; build
    shift
    "$BUILD_DIR/rowset" demo "$@" ;;
  docs) docs ;;
  test-asan) deps; sanitized_tests build-asan ROWSET_SANITIZE "" ;;
  test-tsan) deps; mapfile -t tsan < <(tsan_targets)
    sanitized_tests build-tsan ROWSET_TSAN "-R ^(threads\.|drivers\.|host\.threads_test)" "${tsan[@]}" ;;
  fuzz) deps; shift; fuzz "$@" ;;
  *) echo "usage: ./dev.sh test|demo|build|deps|docs|test-asan|test-tsan|test-cluster|fuzz [seconds]" >&2; exit 2 ;;
esac
