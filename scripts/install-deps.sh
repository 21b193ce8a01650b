#!/usr/bin/env bash
# Installs the Debian 12 packages that Vantrel needs, in named groups, and runs
# apt-get only when something is missing.
#
#   scripts/install-deps.sh                 every group (scripts/test.sh)
#   scripts/install-deps.sh build           one group (scripts/demo.sh)
#   scripts/install-deps.sh build valgrind  groups, and any other name as a package
#   scripts/install-deps.sh --list          the groups and their packages
#
# Each group is one line of GROUPS below: "name: packages". `build` is what building
# the engine, the tool and the demo needs, and nothing more; every other group
# serves a test, a front end or a check, and the CMake build leaves out what a
# missing group leaves it without, saying so (a front end or test whose packages are
# missing is one "-- ... left out" line of the configure). To add a group, add a
# line; scripts/test.sh installs every group.
set -euo pipefail

GROUPS_TEXT='
build:    build-essential cmake ninja-build pkg-config libmpg123-dev nlohmann-json3-dev libcli11-dev libsndfile1-dev libmp3lame-dev libcairo2-dev libfontconfig-dev libopusenc-dev
tests:    googletest libgtest-dev libopusfile-dev lame python3 ccache
play:     mpg123
gst:      libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
sound:    pulseaudio pulseaudio-utils gstreamer1.0-pulseaudio tmux python3
packages: lintian
fuzz:     clang libclang-rt-14-dev
win32vm:  qemu-system-x86 debootstrap e2fsprogs
desktop:  libvlccore-dev vlc-bin vlc-plugin-base python3-vlc shared-mime-info xdg-utils libfile-mimeinfo-perl libglib2.0-bin python3-gi
web:      emscripten chromium zip
'
# What each group is for:
#   build     compiler, CMake, Ninja; libmpg123 (and libout123 with it); the tool's
#             CLI11, nlohmann-json, libsndfile, LAME, cairo and fontconfig (pictures),
#             libopusenc (Opus output)
#   tests     GoogleTest, and libopusfile to read the tool's Opus output back; lame
#             and python3 make the test clips again (tests/data/clips/make_clips.py);
#             ccache, through which scripts/test.sh compiles
#   play      mpg123: the audio output modules that libout123 loads (vantrel play)
#   gst       the GStreamer plug-in (gst/): headers, and the tools and elements its tests use
#   sound     a real sound server for vantrel play and gst-play-1.0 (tests/sound/run.sh)
#   packages  lintian, which checks the Debian packages (scripts/check-packages.sh)
#   fuzz      clang with libFuzzer and the sanitizer runtimes (scripts/fuzz.sh)
#   win32vm   the emulated PC that runs the i686 build (scripts/win32vm); the Windows
#             scripts install their own cross compilers, wine and NSIS (scripts/win/common.sh)
#   desktop   the Linux desktop (tests/desktop/): VLC's plug-in headers for the VLC
#             plug-in (vlc/), VLC and its Python binding to check it, and the desktop's
#             MIME tools to check the audio/x-vnf type and the thumbnailer
#   web       the web target and its tests (scripts/web/test.sh): Emscripten (with
#             clang, lld and binaryen), Chromium for the player's test, zip for the
#             site's archive; Node.js 18 or later with npm is the machine's own

group_packages() { # NAME: prints the group's packages, or fails when there is no such group
  local line
  line=$(printf '%s\n' "$GROUPS_TEXT" | grep -E "^$1:" || true)
  [ -n "$line" ] || return 1
  printf '%s\n' "${line#*:}" | xargs -n1
}
group_names() { printf '%s\n' "$GROUPS_TEXT" | sed -n 's/^\([a-z0-9_-]*\):.*/\1/p'; }

if [ "${1:-}" = --list ]; then
  printf '%s\n' "$GROUPS_TEXT" | sed '/^$/d'
  exit 0
fi

wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || mapfile -t wanted < <(group_names)
PACKAGES=()
for name in "${wanted[@]}"; do
  if pkgs=$(group_packages "$name"); then
    mapfile -t -O ${#PACKAGES[@]} PACKAGES <<<"$pkgs"
  else
    PACKAGES+=("$name")
  fi
done

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
# Another apt-get (an unattended upgrade, a parallel install) may hold the lock: wait for it.
APT=(apt-get -o DPkg::Lock::Timeout=900)
$SUDO "${APT[@]}" update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive "${APT[@]}" install -y -qq --no-install-recommends "${missing[@]}"
