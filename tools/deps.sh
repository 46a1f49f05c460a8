#!/usr/bin/env bash
# Installs the Debian 12 packages the program, its tests and benchmarks need,
# only those that are missing. Needs root when anything is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libqt6svg6-dev
  libcurl4-openssl-dev libicu-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-noto-cjk python3
  nginx-light aria2 gallery-dl curl openssl libnss3-tools
  dpkg-dev file desktop-file-utils appstream man-db bash-completion lintian
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run this command as root, or install them with apt-get first." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
