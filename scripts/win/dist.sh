#!/usr/bin/env bash
# Builds the plug-in for users: dist/in_vantrel.dll, the 32-bit DLL that the media
# player loads, self-contained (imports only Windows system DLLs).
#
#   scripts/win/dist.sh
#
# Builds i686 (scripts/win/build.sh, into build-win-i686/), checks the DLL's exports,
# imports, version block and dialog (tests/win/check_plugin_pe.py), then copies it.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages python3
"$VANTREL_ROOT/scripts/win/build.sh" i686
DLL=${BUILD_DIR:-$VANTREL_ROOT/build-win-i686}/in_vantrel.dll
python3 "$VANTREL_ROOT/tests/win/check_plugin_pe.py" "$DLL" --machine i386 >&2
mkdir -p "$VANTREL_ROOT/dist"
cp "$DLL" "$VANTREL_ROOT/dist/in_vantrel.dll"
log "wrote dist/in_vantrel.dll ($(stat -c %s "$VANTREL_ROOT/dist/in_vantrel.dll") bytes)"
