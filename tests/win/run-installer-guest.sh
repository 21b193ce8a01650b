#!/usr/bin/env bash
# The setup program and the i686 tool's audio files in the emulated PC:
# tests/win/run-guest.sh installer (see there).
exec "$(dirname "${BASH_SOURCE[0]}")/run-guest.sh" installer "$@"
