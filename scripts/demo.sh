#!/usr/bin/env bash
# The newcomer's first command: installs what building the engine and the tool needs
# (scripts/install-deps.sh build: no test bed), builds the tool, and renders the
# bundled demo song to demo.wav (a new random performance each time the tool is run
# with a different --performance). scripts/test.sh installs and builds the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
BUILD_TARGETS=vantrel scripts/build.sh
./build/vantrel info examples/demo.vn
./build/vantrel render examples/demo.vn -o demo.wav
