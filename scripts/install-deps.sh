#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build and test Vantrel on Linux.
# Runs apt-get only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libmpg123-dev libout123-0
  mpg123                 # the audio output modules libout123 loads (vantrel play)
  nlohmann-json3-dev libcli11-dev
  libsndfile1-dev libmp3lame-dev lame
  libcairo2-dev libfontconfig-dev  # pictures of songs and performances (PNG, SVG)
  libopusenc-dev libopusfile-dev  # render's Opus output, and its test's decoder
  googletest libgtest-dev
  clang libclang-rt-14-dev  # the fuzz build: libFuzzer and the sanitizer runtimes
  lintian                # checks the Debian packages (scripts/check-packages.sh)
  # The GStreamer plug-in (gst/): headers, and the tools and elements its tests use
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
  # A real sound server for vantrel play and gst-play-1.0 (tests/sound/run.sh)
  pulseaudio pulseaudio-utils gstreamer1.0-pulseaudio tmux
  qemu-system-x86 debootstrap e2fsprogs  # the emulated PC that runs the i686 build (scripts/win32vm)
  # The Linux desktop (tests/desktop/; the demo needs none of it): VLC's plug-in
  # headers for the VLC plug-in (vlc/), VLC and its Python binding to check it, and
  # the desktop's MIME tools to check the audio/x-vnf type and the thumbnailer
  libvlccore-dev vlc-bin vlc-plugin-base python3-vlc
  shared-mime-info xdg-utils libfile-mimeinfo-perl libglib2.0-bin python3-gi
  # The web target and its tests (scripts/web/test.sh; the demo does not need them):
  # Emscripten (with clang, lld and binaryen), Chromium for the player's test, zip for
  # the site's archive. Node.js 18 or later with npm is the machine's own.
  emscripten chromium zip
)
PACKAGES+=("$@")

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
