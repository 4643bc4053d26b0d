#!/usr/bin/env bash
# Installs the Debian 12 packages Vostrel needs. "run" (default): to build and run the
# program; "package": also to build its Debian package; "test": also what the tests (the
# package's checks among them) and benchmarks need.
set -euo pipefail

packages=(g++ cmake make qtbase5-dev libqt5svg5-dev libmarble-dev marble-plugins
          marble-data fonts-dejavu-core zlib1g-dev)
if [[ "${1:-run}" == "package" || "${1:-run}" == "test" ]]; then
  packages+=(build-essential debhelper dpkg-dev)
fi
if [[ "${1:-run}" == "test" ]]; then
  packages+=(googletest libgtest-dev libgmock-dev locales xvfb xauth xdotool
             x11-utils openbox imagemagick qtbase5-private-dev at-spi2-core python3-pyatspi
             dbus-daemon lintian desktop-file-utils appstream)
  packages+=(clang-14 libclang-rt-14-dev)  # the fuzz targets (libFuzzer)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ "$(id -u)" -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
  "${missing[@]}"
