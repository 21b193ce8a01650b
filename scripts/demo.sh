#!/usr/bin/env bash
# The newcomer's first command: installs what is missing, builds, and renders the
# bundled demo song to demo.wav (a new random performance each time the tool is run
# with a different --performance).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
./build/vantrel info examples/demo.vn
./build/vantrel render examples/demo.vn -o demo.wav
