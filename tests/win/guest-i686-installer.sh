#!/bin/sh
# The i686 tool's audio files and the setup program, run inside the emulated PC
# under 32-bit wine (tests/win/run-installer-guest.sh boots it with
# scripts/win32vm/run.sh):
#
#   tests/win/guest-i686-installer.sh BUILD_DIR REFERENCE_DIR WORK_DIR SETUP_EXE
#
# BUILD_DIR is build-win-i686; REFERENCE_DIR holds the Linux outputs
# (check_tool.py --linux ... --reference DIR --files); WORK_DIR takes the outputs;
# SETUP_EXE is dist/vantrel-VERSION-setup.exe. Each step is reported as ok or
# FAILED, then the closing "N passed, M failed" line. Exit 0 only when every step
# passed.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$1 REF=$2 WORK=$3 SETUP=$4
WINE=$ROOT/scripts/win32vm/wine32.sh
mkdir -p "$WORK"

. "$ROOT/tests/win/guest-common.sh"

# An X display for the windows and dialogs (the fake player's window, the plug-in's
# information box).
start_display 8

export PYTHONUNBUFFERED=1
step "vantrel.exe render -o WAV/FLAC/Ogg/Opus/MP3 and pack vs Linux, i686 under wine" \
    python3 "$ROOT/tests/win/check_tool.py" --windows "$BUILD/vantrel.exe" --reference "$REF" \
    --wine "$WINE" --work "$WORK/tool" --files --skip-pcm "$ROOT/examples/demo.vn"
step "setup.exe: install, upgrade, running player, refusal, uninstall, i686 under wine" \
    python3 "$ROOT/tests/win/check_installer.py" --setup "$SETUP" --build "$BUILD" --wine "$WINE" \
    --work "$WORK"

finish
