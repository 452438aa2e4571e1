#!/usr/bin/env bash
# One entry point for people and CI: installs what is missing, configures, builds, then runs,
# tests, benchmarks or fuzzes. Safe to run again and again.
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${LUMARET_BUILD_DIR:-build}

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6
  libicu-dev qtkeychain-qt6-dev libssl-dev libgl-dev libbenchmark-dev libsimdjson-dev)
RUN_PACKAGES=(qt6-qpa-plugins fonts-noto-cjk)
# The accessibility test walks the window as a screen reader does: over AT-SPI, on a session bus.
TEST_PACKAGES=(xvfb xauth xdotool apache2 nodejs dbus-daemon at-spi2-core python3-pyatspi)
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
FORMAT_PACKAGES=(clang-format)

usage() {
  echo "usage: ./build.sh run | test | sanitize | bench [FILTER] | fuzz [SECONDS] | format-check" >&2
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

# The sign-in tests run a real OpenID provider from the pinned npm packages of this fixture.
prepare_oidc_fixture() {
  # Node.js packages from outside Debian carry their own npm, which Debian's would conflict with.
  command -v npm >/dev/null || ensure_packages npm
  local fixture=tests/fixtures/oidc
  if [[ ! $fixture/node_modules/.package-lock.json -nt $fixture/package-lock.json ]]; then
    npm ci --prefix "$fixture" --no-audit --no-fund >/dev/null
  fi
}

# Benchmarks build only for `bench`: the other commands do not need them.
configure_and_build() {
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMARET_WERROR=ON \
    -DLUMARET_BUILD_BENCHMARKS=OFF "$@" >/dev/null
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
    prepare_oidc_fixture
    configure_and_build
    cd "$BUILD_DIR"
    ctest --no-tests=error --output-on-failure --parallel "$(nproc)" "$@"
    ;;
  sanitize)
    # The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer, halting on the
    # first error.
    ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    prepare_oidc_fixture
    cmake --preset sanitizers >/dev/null
    cmake --build --preset sanitizers --parallel "$(nproc)"
    ctest --preset sanitizers --parallel "$(nproc)" "$@"
    ;;
  fuzz)
    seconds=${1:-60}
    ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DLUMARET_FUZZ=ON >/dev/null
    cmake --build build-fuzz --parallel "$(nproc)"
    export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    for target in build-fuzz/fuzz/fuzz_*; do
      [[ -f $target && -x $target ]] || continue
      name=$(basename "$target")
      corpus=fuzz/corpus/${name#fuzz_}
      work=fuzz/work/${name#fuzz_}
      mkdir -p "$work" "$corpus"
      # Inputs that once failed stay as fixtures: replay them first.
      if compgen -G "fuzz/regressions/${name#fuzz_}/*" >/dev/null; then
        "$target" fuzz/regressions/"${name#fuzz_}"/* 2>&1 | tail -n 1
      fi
      echo "fuzzing $name for ${seconds}s"
      "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
        "$work" "$corpus" 2>&1 | grep -E "stat::number_of_executed_units|ERROR|SUMMARY|crash-|Done" || true
      if compgen -G "$work/crash-*" >/dev/null || compgen -G "$work/leak-*" >/dev/null; then
        echo "$name found a failing input in $work" >&2
        exit 1
      fi
    done
    ;;
  format-check)
    # Every C++ file as .clang-format lays it out; prints the differences and fails otherwise.
    ensure_packages "${FORMAT_PACKAGES[@]}"
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
    echo "format-check: all C++ files follow .clang-format"
    ;;
  bench)
    ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
    configure_and_build -DLUMARET_BUILD_BENCHMARKS=ON
    for bench in "$BUILD_DIR"/bench/bench_*; do
      [[ -x $bench ]] || continue
      "$bench" ${1:+--benchmark_filter="$1"}
    done
    ;;
  *)
    usage
    ;;
esac
