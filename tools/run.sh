#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
#
# With a display this opens the window, started from the home folder as a
# desktop menu starts it: its settings live in the per-user data folder
# (~/.local/share/tamblin) and it proposes ~/Documents/Morvane for the
# pictures. Without a display it runs the offline demo of tamblin-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running the offline tamblin-cli demo instead of the window."
  exec bash tools/demo.sh
fi
program=$PWD/build/src/apps/tamblin
cd ~
exec "$program"
