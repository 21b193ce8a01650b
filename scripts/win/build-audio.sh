#!/usr/bin/env bash
# Cross-builds the tool's audio file libraries (static) for Windows from Debian's
# source packages: libogg, libFLAC, libvorbis, libopus, libopusenc, libsndfile (with
# FLAC, Ogg Vorbis and Opus, without MPEG: the tool encodes MP3 with LAME itself) and
# libmp3lame.
#
#   scripts/win/build-audio.sh i686|x86_64
#
# Result: $VANTREL_CACHE/audio-ARCH/{include,lib}; prints that prefix on stdout.
# Each library has a stamp holding its settings and those of the libraries it is
# built on; a library whose stamp matches is not built again, so CI pays once per
# machine. Only the libraries and their headers are made: no shared libraries,
# programs, examples, tests or documentation.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

set_arch "${1:-}"
PREFIX=$VANTREL_CACHE/audio-$ARCH
JOBS=${VANTREL_JOBS:-2}
CC_BIN=$TRIPLE-gcc-posix
case $ARCH in
    # As for the project and libmpg123: SSE2 arithmetic, the same results as x86_64.
    i686) OPT_CFLAGS="-O2 -msse2 -mfpmath=sse" ;;
    x86_64) OPT_CFLAGS="-O2" ;;
esac
# libFLAC's headers declare its functions as DLL imports unless told otherwise. (The
# libraries' own hardening options are turned off below: _FORTIFY_SOURCE and the stack
# protector need MinGW's libssp, which the project does not link.)
CFLAGS_ALL="$OPT_CFLAGS -DFLAC__NO_DLL"
AUTO_CONF=(--host="$TRIPLE" --prefix="$PREFIX" --disable-shared --enable-static --disable-dependency-tracking)

# _FORTIFY_SOURCE and the stack protector call into MinGW's libssp, which the project
# does not link: a library built with them fails to link only later, in the project.
check_no_ssp() {
    if "$TRIPLE-nm" "$PREFIX/lib/$1" 2>/dev/null | grep -qE ' U (__[a-z]+_chk|__stack_chk_(fail|guard))$'; then
        die "$1 was built with _FORTIFY_SOURCE or the stack protector (it needs libssp)"
    fi
}

stamp_of() { cat "$PREFIX/.stamp-$1" 2>/dev/null || echo none; }

# built NAME TEXT: true when NAME's stamp holds TEXT and its files are there.
built() {
    [ "$(stamp_of "$1")" = "$2" ] && [ -f "$PREFIX/lib/$3" ]
}

# [LIB_CFLAGS=...] autotools_lib NAME SOURCE-PACKAGE LIBRARY "DEPENDENCIES" "FOLDER[:TARGET] ..."
#                               CONFIGURE-OPTIONS...
#   Configures out of tree and runs "make TARGET" (default: install) in the given
#   folders only, in order.
autotools_lib() {
    local name=$1 pkg=$2 lib=$3 deps=$4 dirs=$5
    shift 5
    local cflags="$CFLAGS_ALL${LIB_CFLAGS:+ $LIB_CFLAGS}"
    local text="$name ${AUTO_CONF[*]} $* CFLAGS=$cflags CC=$CC_BIN" d
    for d in $deps; do text+=" [$d: $(stamp_of "$d")]"; done
    if built "$name" "$text" "$lib"; then
        log "$name for $ARCH already in $PREFIX"
        return
    fi
    local t0=$SECONDS src bdir=$VANTREL_CACHE/build/$name-$ARCH
    src=$(deb_source_dir "$pkg")
    rm -rf "$bdir" "$PREFIX/.stamp-$name"
    mkdir -p "$bdir"
    log "$name: configure $*"
    (cd "$bdir" && PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig" PKG_CONFIG_PATH= \
        "$src/configure" "${AUTO_CONF[@]}" "$@" CC="$CC_BIN" CFLAGS="$cflags" \
        CPPFLAGS="-I$PREFIX/include" LDFLAGS="-L$PREFIX/lib" >configure.out 2>&1) || {
        tail -n 30 "$bdir/configure.out" >&2
        die "$name: configure failed (log: $bdir/configure.out)"
    }
    local target
    for d in $dirs; do
        target=install
        case $d in *:*) target=${d#*:}; d=${d%%:*} ;; esac
        (cd "$bdir" && make -C "$d" -j"$JOBS" "$target" >>make.out 2>&1) || {
            tail -n 30 "$bdir/make.out" >&2
            die "$name: make -C $d $target failed (log: $bdir/make.out)"
        }
    done
    check_no_ssp "$lib"
    printf '%s\n' "$text" >"$PREFIX/.stamp-$name"
    rm -rf "$bdir"
    log "$name for $ARCH built in $((SECONDS - t0)) s"
}

sndfile_lib() {
    local opts=(-DBUILD_SHARED_LIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF
        -DBUILD_REGTEST=OFF -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=OFF -DENABLE_CPACK=OFF
        -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_MANPAGES=OFF -DENABLE_EXPERIMENTAL=OFF
        -DCMAKE_BUILD_TYPE=None)
    local text="sndfile ${opts[*]} CFLAGS=$CFLAGS_ALL" d
    for d in ogg flac vorbis opus; do text+=" [$d: $(stamp_of "$d")]"; done
    if built sndfile "$text" libsndfile.a; then
        log "sndfile for $ARCH already in $PREFIX"
        return
    fi
    local t0=$SECONDS src bdir=$VANTREL_CACHE/build/sndfile-$ARCH
    src=$(deb_source_dir libsndfile)
    rm -rf "$bdir" "$PREFIX/.stamp-sndfile"
    mkdir -p "$bdir"
    # Our toolchain, with the prefix added to the places where libraries are found.
    cat >"$bdir/toolchain.cmake" <<EOF
include($VANTREL_ROOT/cmake/toolchains/mingw-$ARCH.cmake)
list(APPEND CMAKE_FIND_ROOT_PATH "$PREFIX")
set(CMAKE_C_FLAGS_INIT "$CFLAGS_ALL")
EOF
    log "sndfile: cmake ${opts[*]}"
    (cd "$bdir" && PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig" PKG_CONFIG_PATH= \
        cmake -S "$src" -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$bdir/toolchain.cmake" \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" "${opts[@]}" >configure.out 2>&1) || {
        tail -n 30 "$bdir/configure.out" >&2
        die "sndfile: cmake failed (log: $bdir/configure.out)"
    }
    # Every codec must have been found: without them libsndfile builds silently.
    for d in Ogg Vorbis FLAC Opus; do
        grep -q "^-- Found $d: $PREFIX/" "$bdir/configure.out" ||
            die "sndfile: $d not found in $PREFIX (log: $bdir/configure.out)"
    done
    (cd "$bdir" && cmake --build build -j "$JOBS" >make.out 2>&1 && cmake --install build >>make.out 2>&1) || {
        tail -n 30 "$bdir/make.out" >&2
        die "sndfile: build failed (log: $bdir/make.out)"
    }
    check_no_ssp libsndfile.a
    printf '%s\n' "$text" >"$PREFIX/.stamp-sndfile"
    rm -rf "$bdir"
    log "sndfile for $ARCH built in $((SECONDS - t0)) s"
}

build_all() {
    local t0=$SECONDS
    # shellcheck disable=SC2046 # a list of package names
    ensure_packages make cmake ninja-build pkg-config $(mingw_packages "$ARCH")
    mkdir -p "$PREFIX"
    autotools_lib ogg libogg libogg.a "" "src include .:install-pkgconfigDATA"
    autotools_lib flac flac libFLAC.a "" "src/libFLAC include/FLAC" \
        --disable-programs --disable-examples --disable-cpplibs --disable-doxygen-docs \
        --disable-xmms-plugin --disable-ogg --disable-rpath --disable-stack-smash-protection \
        --disable-fortify-source
    autotools_lib vorbis libvorbis libvorbisenc.a "ogg" "lib include .:install-pkgconfigDATA" \
        --disable-docs --disable-examples --disable-oggtest
    # opus adds _FORTIFY_SOURCE whenever the compiler is GCC, unless it is set already.
    LIB_CFLAGS=-D_FORTIFY_SOURCE=0 autotools_lib opus opus libopus.a "" "." \
        --disable-doc --disable-extra-programs --disable-hardening
    autotools_lib opusenc libopusenc libopusenc.a "opus" "." --disable-doc --disable-examples
    sndfile_lib
    autotools_lib mp3lame lame libmp3lame.a "" "mpglib:all libmp3lame include" \
        --disable-frontend --disable-gtktest --disable-rpath
    log "audio libraries for $ARCH ready in $((SECONDS - t0)) s"
}

with_cache_lock "audio-$ARCH" build_all
echo "$PREFIX"
