#!/usr/bin/env bash
# Builds the web target:
#   build/web/package/          the npm package's files (vantrel.mjs, the WebAssembly, types, README)
#   dist/vantrel-VERSION.tgz    the npm package (npm pack)
#   build/web/site/             the web player; any static server serves it:
#                               python3 -m http.server -d build/web/site
#   dist/vantrel-web-VERSION.zip  the same site as one archive
#
# libmpg123 comes from scripts/web/build-mpg123.sh (Debian's source, built once into
# the cache); the engine and the C library are built with Emscripten into
# build/web/cmake. VERSION is the project's (top CMakeLists.txt), as npm writes
# versions: 1.0.0.1 becomes 1.0.0-1.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VANTREL_ROOT"

ensure_packages "${WEB_PACKAGES[@]}" make cmake ninja-build
t0=$SECONDS
MPG123=$(scripts/web/build-mpg123.sh)
OUT=build/web
VERSION=$(project_version)
NPM_VERSION=$(npm_version "$VERSION")

log "engine (emcmake, Release)"
env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
  emcmake cmake -S . -B "$OUT/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVANTREL_MPG123_PREFIX="$MPG123" -DVANTREL_TESTS=OFF -DVANTREL_TOOLS=OFF \
    -DVANTREL_BENCH=OFF -DVANTREL_GST=OFF -DVANTREL_VLC=OFF >"$OUT.cmake.log" 2>&1 || { cat "$OUT.cmake.log" >&2; die "cmake failed"; }
cmake --build "$OUT/cmake" -j"${VANTREL_JOBS:-2}" --target vantrel_web >"$OUT.build.log" 2>&1 ||
    { tail -n 40 "$OUT.build.log" >&2; die "the WebAssembly build failed"; }

log "npm package $NPM_VERSION"
pkg=$OUT/package
rm -rf "$pkg"
mkdir -p "$pkg" dist
cp web/package/vantrel.mjs web/package/vantrel.d.ts web/package/README.md web/package/package.json "$pkg/"
cp "$OUT/cmake/vantrel-core.mjs" "$OUT/cmake/vantrel-core.wasm" "$pkg/"
write_licence "$pkg/LICENSE"
cp "$MPG123/share/COPYING.mpg123" "$pkg/NOTICE-mpg123.txt"
(cd "$pkg" && npm pkg set version="$NPM_VERSION" >/dev/null)
rm -f dist/vantrel-*.tgz
(cd "$pkg" && npm pack --silent --pack-destination "$VANTREL_ROOT/dist" >/dev/null)
[ -f "dist/vantrel-$NPM_VERSION.tgz" ] || die "npm pack made no dist/vantrel-$NPM_VERSION.tgz"

log "site"
site=$OUT/site
rm -rf "$site"
mkdir -p "$site/vantrel"
cp web/site/index.html web/site/*.js web/site/*.css "$site/"
cp "$pkg"/vantrel.mjs "$pkg"/vantrel-core.mjs "$pkg"/vantrel-core.wasm "$pkg/LICENSE" "$pkg/NOTICE-mpg123.txt" "$site/vantrel/"
cp examples/demo.vn "$site/demo.vn"
rm -f dist/vantrel-web-*.zip
(cd "$site" && zip -qr -X "$VANTREL_ROOT/dist/vantrel-web-$VERSION.zip" .)

log "done in $((SECONDS - t0)) s: $site, dist/vantrel-$NPM_VERSION.tgz, dist/vantrel-web-$VERSION.zip"
