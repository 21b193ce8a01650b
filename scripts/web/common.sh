# shellcheck shell=bash
# Shared settings of the WebAssembly build scripts; sourced, not run. The cache,
# the Debian source fetch and the package installs are the Windows builds' own
# (scripts/win/common.sh).
. "$(dirname "${BASH_SOURCE[0]}")/../win/common.sh"

# Debian's emcc finds its acorn (a Node module packaged separately) only here.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

WEB_PACKAGES=(emscripten zip)

# Runs "$@" in folder $1 with its output in $1/$2; on failure shows the log's end
# and stops with "$3 failed".
logged_in() {
    local dir=$1 out=$2 what=$3
    shift 3
    (cd "$dir" && "$@" >"$out" 2>&1) || {
        tail -n 30 "$dir/$out" >&2
        die "$what failed (log: $dir/$out)"
    }
}

# The project's version, from the top CMakeLists.txt's project(... VERSION x.y.z.w).
project_version() {
    sed -n 's/^project(vantrel VERSION \([0-9.]*\).*/\1/p' "$VANTREL_ROOT/CMakeLists.txt"
}

# npm versions have three numbers: the fourth (the build) becomes a pre-release
# number, so that 1.0.0.1 is 1.0.0-1 and later builds sort later.
npm_version() {
    local IFS=.
    # shellcheck disable=SC2086 # split on dots
    set -- $1
    printf '%s.%s.%s-%s\n' "$1" "$2" "$3" "${4:-0}"
}

# The project's licence for the artefacts: the top LICENSE file when there is one.
write_licence() {
    if [ -f "$VANTREL_ROOT/LICENSE" ]; then
        cp "$VANTREL_ROOT/LICENSE" "$1"
        return
    fi
    cat >"$1" <<'TEXT'
Copyright (c) 2026 the Vantrel developers

Redistribution and use in source and binary forms, with or without modification,
are permitted provided that the following conditions are met:

1. Redistributions of source code must retain the above copyright notice, this
   list of conditions and the following disclaimer.
2. Redistributions in binary form must reproduce the above copyright notice, this
   list of conditions and the following disclaimer in the documentation and/or
   other materials provided with the distribution.
3. Neither the name of the copyright holder nor the names of its contributors may
   be used to endorse or promote products derived from this software without
   specific prior written permission.

THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS "AS IS" AND
ANY EXPRESS OR IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE IMPLIED
WARRANTIES OF MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE ARE
DISCLAIMED. IN NO EVENT SHALL THE COPYRIGHT HOLDER OR CONTRIBUTORS BE LIABLE FOR
ANY DIRECT, INDIRECT, INCIDENTAL, SPECIAL, EXEMPLARY, OR CONSEQUENTIAL DAMAGES
(INCLUDING, BUT NOT LIMITED TO, PROCUREMENT OF SUBSTITUTE GOODS OR SERVICES;
LOSS OF USE, DATA, OR PROFITS; OR BUSINESS INTERRUPTION) HOWEVER CAUSED AND ON
ANY THEORY OF LIABILITY, WHETHER IN CONTRACT, STRICT LIABILITY, OR TORT
(INCLUDING NEGLIGENCE OR OTHERWISE) ARISING IN ANY WAY OUT OF THE USE OF THIS
SOFTWARE, EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGE.

The package also carries libmpg123, under the GNU Lesser General Public License
version 2.1 (NOTICE-mpg123.txt).
TEXT
}
