#!/usr/bin/env bash
# Installs what Bundlex needs from Debian's packages, then configures and builds.
#   scripts/setup.sh [--minimal] [--target NAME] [build-dir] [extra cmake options...]
# --target builds that target alone instead of all (scripts/test.sh builds
# test_programs, which leaves out the tools). --minimal installs only what
# building the program itself needs (no test or fuzzing tools).
set -euo pipefail
cd "$(dirname "$0")/.."

MINIMAL=0
if [ "${1:-}" = --minimal ]; then
  MINIMAL=1
  shift
fi
TARGET=()
if [ "${1:-}" = --target ]; then
  TARGET=(--target "$2")
  shift 2
fi

PACKAGES=(cmake g++ make pkg-config
  libsdl1.2-dev libsdl-mixer1.2-dev libpng-dev zlib1g-dev libtinyxml-dev libucl-dev nettle-dev)
if [ "$MINIMAL" = 0 ]; then
  PACKAGES+=(libgtest-dev libxml2-utils pngcheck groff-base jq python3
    clang-14 libclang-rt-14-dev clang-format-14 chromium chromium-driver)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  # Recommended packages (sound fonts and the like) are not needed to build
  # or test.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

BUILD="${1:-build}"
shift || true
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" "${TARGET[@]}"
