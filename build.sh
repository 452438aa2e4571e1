#!/usr/bin/env bash
# One entry point for people and CI: installs what is missing, configures, builds, then runs,
# tests, benchmarks or fuzzes. Safe to run again and again.
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${LUMARET_BUILD_DIR:-build}

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6
  libicu-dev qtkeychain-qt6-dev libssl-dev libgl-dev libbenchmark-dev libsimdjson-dev)
RUN_PACKAGES=(qt6-qpa-plugins fonts-noto-cjk)
TEST_PACKAGES=(xvfb xauth xdotool apache2 nodejs)

usage() {
  echo "usage: ./build.sh run | test | bench [FILTER]" >&2
  exit 2
}

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=()
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]})); then
    echo "Installing ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

configure_and_build() {
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMARET_WERROR=ON "$@" >/dev/null
  cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}

command=${1:-}
[[ -n $command ]] || usage
shift

case $command in
  run)
    ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
    configure_and_build
    if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
      echo "No display: Lumaret needs a graphical session (set DISPLAY or WAYLAND_DISPLAY)." >&2
      exit 1
    fi
    exec "$BUILD_DIR/lumaret" "$@"
    ;;
  test)
    ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    # The sign-in tests run a real OpenID provider from the pinned packages of this fixture.
    # Node.js packages from outside Debian carry their own npm, which Debian's would conflict with.
    command -v npm >/dev/null || ensure_packages npm
    oidc_fixture=tests/fixtures/oidc
    if [[ ! $oidc_fixture/node_modules/.package-lock.json -nt $oidc_fixture/package-lock.json ]]; then
      npm ci --prefix "$oidc_fixture" --no-audit --no-fund >/dev/null
    fi
    configure_and_build
    cd "$BUILD_DIR"
    ctest --no-tests=error --output-on-failure --parallel "$(nproc)" "$@"
    ;;
  bench)
    ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
    configure_and_build
    for bench in "$BUILD_DIR"/bench/bench_*; do
      [[ -x $bench ]] || continue
      "$bench" ${1:+--benchmark_filter="$1"}
    done
    ;;
  *)
    usage
    ;;
esac
