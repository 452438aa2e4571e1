#!/usr/bin/env bash
# One entry point for people and CI: installs what is missing, configures, builds, then runs,
# tests, benchmarks or fuzzes. Safe to run again and again.
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${LUMARET_BUILD_DIR:-build}

# libcjose-dev's pkg-config file requires jansson's, which that package does not pull in.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6
  libicu-dev libfontconfig-dev qtkeychain-qt6-dev libssl-dev libgl-dev libbenchmark-dev libsimdjson-dev
  libcjose-dev libjansson-dev)
RUN_PACKAGES=(qt6-qpa-plugins fonts-noto-cjk)
TEST_PACKAGES=(xvfb xauth xdotool apache2 lighttpd lighttpd-mod-webdav rclone nginx
  libnginx-mod-http-dav-ext php-cli php-sabre-dav nodejs
  desktop-file-utils appstream dbus-daemon dpkg-dev file)
# dpkg-shlibdeps (dpkg-dev, which calls file) works out the package's Depends.
PACKAGE_PACKAGES=(dpkg-dev file)
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)
FORMAT_PACKAGES=(clang-format)

usage() {
  echo "usage: ./build.sh run | test | sanitize | bench [FILTER] | fuzz [SECONDS] | format-check" >&2
  echo "       ./build.sh install | uninstall | package   (install to PREFIX, default /usr/local)" >&2
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
  install)
    # Builds as the calling user; only the copy into PREFIX runs as root, and only when PREFIX
    # is not writable.
    prefix=${PREFIX:-/usr/local}
    ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
    configure_and_build
    if [[ -w $prefix || ( ! -e $prefix && -w $(dirname "$prefix") ) ]]; then
      cmake --install "$BUILD_DIR" --prefix "$prefix" --strip
    else
      as_root cmake --install "$BUILD_DIR" --prefix "$prefix" --strip
    fi
    # Menus and icon themes that keep caches pick up the new entry at once.
    if [[ -w $prefix/share/applications ]]; then
      update-desktop-database -q "$prefix/share/applications" 2>/dev/null || true
      gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" 2>/dev/null || true
    fi
    echo "Installed Lumaret into $prefix (file list: $BUILD_DIR/install_manifest.txt)"
    ;;
  uninstall)
    # Removes exactly the files the last install put in place, as CMake recorded them.
    manifest=$BUILD_DIR/install_manifest.txt
    if [[ ! -f $manifest ]]; then
      echo "Nothing to uninstall: $manifest is missing (run ./build.sh install first)." >&2
      exit 1
    fi
    removed=0
    # CMake ends the list without a final newline.
    while IFS= read -r installed || [[ -n $installed ]]; do
      if [[ -w $(dirname "$installed") ]]; then rm -f -- "$installed"; else as_root rm -f -- "$installed"; fi
      removed=$((removed + 1))
      applications=$(dirname "$installed")
      [[ $applications == */share/applications ]] && menu_folder=$applications
    done <"$manifest"
    if [[ -n ${menu_folder:-} && -w $menu_folder ]]; then
      update-desktop-database -q "$menu_folder" 2>/dev/null || true
      gtk-update-icon-cache -q -t "${menu_folder%/applications}/icons/hicolor" 2>/dev/null || true
    fi
    echo "Removed the $removed files listed in $manifest"
    ;;
  package)
    ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    configure_and_build
    (cd "$BUILD_DIR" && cpack -G DEB)
    deb=$(ls -t "$BUILD_DIR"/lumaret_*.deb | head -n 1)
    echo "Built $deb; install it with: sudo apt install ./$deb"
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
      # CMake keeps folders such as bench_board_autogen beside the programs; a folder passes -x.
      [[ -f $bench && -x $bench ]] || continue
      "$bench" ${1:+--benchmark_filter="$1"}
    done
    ;;
  *)
    usage
    ;;
esac
