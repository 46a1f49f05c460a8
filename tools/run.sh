#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
#
# Until the desktop window is in place, the program is tamblin-cli: this runs
# its offline demo against the bundled fake Sina service on loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
exec bash tools/demo.sh
