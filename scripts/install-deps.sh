#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the main job need.
# Quiet and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config python3 clang libclang-rt-14-dev
  libglib2.0-dev libgtk-3-dev libpulse-dev
  libopus-dev libsamplerate0-dev libsndfile1-dev libsbc-dev
  nlohmann-json3-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  pulseaudio pulseaudio-utils sox ffmpeg
  pipewire pipewire-pulse wireplumber dbus-daemon
  xvfb x11-utils xdotool imagemagick
  dbus policykit-1
  python3-gi python3-pyatspi at-spi2-core
  procps binutils libglib2.0-bin
  git dpkg-dev file lintian desktop-file-utils appstream libxml2-utils man-db polkitd
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
