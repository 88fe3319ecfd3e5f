#!/usr/bin/env bash
# One entry point for set-up, build, tests and the demo program.
#   ./dev.sh test    install what is missing, build, run every test
#   ./dev.sh demo    install what is missing, build, run the demo program
#   ./dev.sh build   install what is missing and build
#   ./dev.sh deps    install the Debian packages the project needs
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${ROWSET_BUILD_DIR:-build}
PACKAGES=(build-essential cmake g++ python3 zlib1g-dev libgtest-dev googletest
  mariadb-server mariadb-client libmariadb3 libmariadb-dev libmariadbd19 ccache tmux)

deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
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

build() {
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

case ${1:-test} in
  deps) deps ;;
  build) deps; build ;;
  test)
    deps; build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)" ;;
  demo)
    deps; build
    shift
    "$BUILD_DIR/rowset-demo" "$@" ;;
  *) echo "usage: ./dev.sh test|demo|build|deps" >&2; exit 2 ;;
esac
