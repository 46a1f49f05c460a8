#!/usr/bin/env bash
# Builds the Debian package tamblin_<version>_amd64.deb: installs what is
# missing, builds the two programs in build-package/ (the default preset's
# optimisation, without tests and benchmarks; CPack strips the binaries) and
# packs them with the desktop entry, the icons and the AppStream metadata.
# Depends is computed from the binaries by dpkg-shlibdeps. Prints the path.
#
#   bash tools/package.sh
#   sudo apt install ./build-package/tamblin_*_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMBLIN_BUILD_TESTS=OFF -DTAMBLIN_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j2
(cd build-package && cpack -G DEB >/dev/null)
ls "$PWD"/build-package/tamblin_*_amd64.deb
