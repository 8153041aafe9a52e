#!/usr/bin/env bash
# Kestrel: install what is missing, build, then play a recording or run the tests.
#
#   ./kestrel.sh play [FILE]   build and open FILE (or the bundled sample) in the player
#   ./kestrel.sh test          build and run every test
#   ./kestrel.sh build         build only
#
# Environment: KESTREL_BUILD_DIR (default build), KESTREL_BUILD_TYPE (default RelWithDebInfo),
# KESTREL_CMAKE_ARGS (extra arguments for the configure step), KESTREL_JOBS.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$top"

build_dir=${KESTREL_BUILD_DIR:-build}
build_type=${KESTREL_BUILD_TYPE:-RelWithDebInfo}
jobs=${KESTREL_JOBS:-$(nproc 2>/dev/null || echo 2)}

# Debian 12 packages the build, the tests and the player need.
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libxvidcore-dev zlib1g-dev
  libsdl2-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libqt6svg6 fonts-wqy-microhei
  libgl-dev libegl-dev
  xvfb xauth x11-utils
  shared-mime-info xdg-utils desktop-file-utils
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "kestrel: installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {
  install_missing
  # shellcheck disable=SC2086
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" ${KESTREL_CMAKE_ARGS:-}
  cmake --build "$build_dir" -j "$jobs"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
  build)
    build
    ;;
  test)
    build
    ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" "$@"
    ;;
  play)
    build
    file=${1:-}
    if [ -z "$file" ]; then
      file="$top/samples/sample.h64"
    fi
    if [ -x "$build_dir/app/kestrel-player" ]; then
      exec "$build_dir/app/kestrel-player" "$file"
    fi
    echo "kestrel: the player window is not built yet; showing what the engine reads from the file."
    exec "$build_dir/tools/kestrel-cli" info "$file"
    ;;
  *)
    echo "usage: $0 play [FILE] | test | build" >&2
    exit 2
    ;;
esac
