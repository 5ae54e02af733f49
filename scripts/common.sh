# Shared by scripts/run and scripts/test: install what the build and the
# tests need, then configure and build. Sourced, not run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CINDREL_BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev qt5-image-formats-plugins
  libshp-dev shapelib
  libgtest-dev libgmock-dev libbenchmark-dev
  gdal-bin proj-bin geotiff-bin libtiff-tools
  xvfb xauth x11-apps imagemagick fonts-liberation fontconfig
  chromium
  g++-mingw-w64-x86-64
)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

build_all() {
  export CCACHE_BASEDIR="$ROOT"
  # Debug information would tie every cached object to its checkout; with
  # paths made relative to the checkout, a fresh clone reuses the cache.
  export CCACHE_NOHASHDIR=1
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$BUILD" -j "$(nproc)"
}
