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

# Unpacks Debian's source package PKG (apt-get source, with Debian's patches applied)
# into $VANTREL_CACHE/src/PKG-VERSION once, and leaves that path in SRC_DIR. Run it
# under with_cache_lock "src-PKG". The files' checksums are checked against the .dsc,
# which apt has itself checked against the signed index; a missing detached upstream
# signature (.asc) on the mirror is tolerated for that reason.
fetch_deb_source() {
    local pkg=$1
    local dl=$VANTREL_CACHE/src/$pkg-download
    mkdir -p "$VANTREL_CACHE/src"
    SRC_DIR=$(find "$VANTREL_CACHE/src" -maxdepth 2 -name .vantrel-unpacked -path "*/$pkg-[0-9]*/*" \
        -printf '%h\n' 2>/dev/null | sort -V | tail -n 1)
    if [ -n "$SRC_DIR" ]; then
        log "using unpacked source $SRC_DIR"
        return
    fi
    ensure_packages dpkg-dev
    [ "$(id -u)" = 0 ] || die "need root to add deb-src entries and fetch the source"
    local changed
    changed=$("$VANTREL_ROOT/scripts/win/enable-deb-src.sh")
    if [ "$changed" = changed ] || [ -z "$(apt-cache showsrc "$pkg" 2>/dev/null)" ]; then
        _apt_updated=0
        apt_update_once
    fi
    rm -rf "$dl"
    mkdir -p "$dl"
    log "apt-get source --download-only $pkg"
    # Fails when the mirror lacks the .asc; the checks below decide.
    (cd "$dl" && apt-get source --download-only -qq "$pkg" >&2) || true
    local dsc
    dsc=$(ls "$dl/${pkg}_"*.dsc 2>/dev/null | sort -V | tail -n 1)
    [ -n "$dsc" ] || die "apt-get source did not fetch a .dsc for $pkg"
    # Every file named in Checksums-Sha256 must match; only a .asc may be absent.
    local sum name n=0
    while read -r sum _ name; do
        if [ ! -f "$dl/$name" ]; then
            case $name in *.asc) log "not on the mirror (ignored): $name"; continue ;; esac
            die "missing source file $name"
        fi
        [ "$(sha256sum "$dl/$name" | cut -d' ' -f1)" = "$sum" ] || die "checksum mismatch: $name"
        n=$((n + 1))
    done < <(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print }' "$dsc")
    [ "$n" -ge 2 ] || die "no verified source files in $dsc"
    local version
    version=$(awk '/^Version:/ { print $2 }' "$dsc")
    SRC_DIR=$VANTREL_CACHE/src/$pkg-$version
    rm -rf "$SRC_DIR"
    # Checksums were verified above; --no-check only skips the signature check
    # for which no keyring is installed.
    dpkg-source --no-check -x "$dsc" "$SRC_DIR" >&2
    touch "$SRC_DIR/.vantrel-unpacked"
    # dpkg-source leaves copies of the upstream tarballs beside the tree.
    rm -rf "$dl" "$VANTREL_CACHE/src/${pkg}_"*.orig.tar.*
}

# Prints the unpacked source tree of Debian's source package PKG, fetching it first
# if needed (under a cache lock, so parallel builds fetch it once).
deb_source_dir() {
    with_cache_lock "src-$1" _deb_source_dir_locked "$1"
}
_deb_source_dir_locked() {
    fetch_deb_source "$1"
    printf '%s\n' "$SRC_DIR"
}
