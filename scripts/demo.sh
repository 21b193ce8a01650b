#!/usr/bin/env bash
# The newcomer's first command: installs what is missing, builds, and runs the main
# job on the bundled demo song.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
./build/vantrel info examples/demo.vn
