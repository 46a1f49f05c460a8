#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then builds the fuzz
# targets and runs each for 20 seconds as a smoke test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
ctest --preset default
bash fuzz/run.sh 20
