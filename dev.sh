#!/usr/bin/env bash
# One entry point for set-up, build, tests and the demo program.
#   ./dev.sh test    install what is missing, build, run every test
#   ./dev.sh demo    install what is missing, build, run the main program's
#                    demo (rowset demo; more options are passed on)
#   ./dev.sh build   install what is missing and build
#   ./dev.sh deps    install the Debian packages the project needs
#   ./dev.sh docs    API reference with Doxygen into build/docs (installs
#                    doxygen when it is missing)
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${ROWSET_BUILD_DIR:-build}
PACKAGES=(build-essential cmake g++ python3 zlib1g-dev libgtest-dev googletest
  mariadb-server mariadb-client libmariadb3 libmariadb-dev libmariadbd19 ccache pkgconf tmux
  libedit-dev)

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

# The API reference from the public headers. Fails when a public class of the
# connection component, the datasets or the drivers has no doc comment.
docs() {
  install_packages doxygen
  local out="$BUILD_DIR/docs"
  mkdir -p "$out"
  local dirs=()
  for d in host util wire drivers parser components design; do [[ -d $d ]] && dirs+=("$d"); done
  ROWSET_DOCS_DIR="$out" ROWSET_DOCS_INPUT="${dirs[*]}" ROWSET_VERSION=$(sed -n 's/^project(rowset VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) \
    doxygen cmake/Doxyfile
  local undocumented
  undocumented=$(grep -E '(^|/)(components|drivers)/[^/:]*:[0-9]+: warning: Compound .* is not documented' \
    "$out/warnings.log" || true)
  echo "dev.sh: API reference in $out/html/index.html ($(grep -c 'warning:' "$out/warnings.log" || true) warnings in $out/warnings.log)"
  if [[ -n $undocumented ]]; then
    echo "$undocumented" >&2
    echo "dev.sh: public classes above have no doc comment" >&2
    return 1
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
    "$BUILD_DIR/rowset" demo "$@" ;;
  docs) docs ;;
  *) echo "usage: ./dev.sh test|demo|build|deps|docs" >&2; exit 2 ;;
esac
