#!/usr/bin/env bash
# The i686 checks in the emulated PC: tests/win/run-guest.sh i686 (see there).
exec "$(dirname "${BASH_SOURCE[0]}")/run-guest.sh" i686 "$@"
