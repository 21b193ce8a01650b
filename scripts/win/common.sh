# shellcheck shell=bash
# Shared helpers for the Windows cross-build scripts; sourced, not run.
# Everything downloaded or built from third-party sources lives in the cache
# directory, never in the source tree.

VANTREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
VANTREL_CACHE=${VANTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vantrel}

log() { printf '[%s] %s\n' "$(basename "$0")" "$*" >&2; }
die() { log "error: $*"; exit 1; }
# A command failing under "set -e" says where, instead of ending silently.
trap 'rc=$?; log "failed (exit $rc) at ${BASH_SOURCE[0]}:$LINENO: $BASH_COMMAND"' ERR

# Checks the architecture argument and sets ARCH and TRIPLE.
set_arch() {
    case "${1:-}" in
        i686 | x86_64) ARCH=$1 ;;
        *) die "architecture must be i686 or x86_64 (got '${1:-}')" ;;
    esac
    TRIPLE=$ARCH-w64-mingw32
}

# Debian package names of the mingw compilers for an architecture.
mingw_packages() {
    case "$1" in
        i686) echo g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 ;;
        x86_64) echo g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 ;;
    esac
}

_apt_updated=0
apt_update_once() {
    if [ "$_apt_updated" = 0 ]; then
        log "apt-get update"
        DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
        _apt_updated=1
    fi
}

# Installs the Debian packages among the arguments that are not installed yet.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    [ "$(id -u)" = 0 ] || die "missing packages (need root to install): ${missing[*]}"
    apt_update_once
    log "apt-get install ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# Runs "$@" while holding an exclusive lock on a file in the cache, so that
# parallel builds of both architectures do not fetch or build the same thing at once.
with_cache_lock() {
    local name=$1
    shift
    mkdir -p "$VANTREL_CACHE"
    (
        flock 9
        "$@"
    ) 9>"$VANTREL_CACHE/.$name.lock"
}
