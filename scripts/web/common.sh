# shellcheck shell=bash
# Shared settings of the WebAssembly build scripts; sourced, not run. The cache,
# the Debian source fetch and the package installs are the Windows builds' own
# (scripts/win/common.sh).
. "$(dirname "${BASH_SOURCE[0]}")/../win/common.sh"

# Debian's emcc finds its acorn (a Node module packaged separately) only here.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

WEB_PACKAGES=(emscripten nodejs npm chromium zip)

# The project's version, from the top CMakeLists.txt's project(... VERSION x.y.z.w).
project_version() {
    sed -n 's/^project(vantrel VERSION \([0-9.]*\).*/\1/p' "$VANTREL_ROOT/CMakeLists.txt"
}
