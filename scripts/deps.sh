#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and ./run need; does nothing when all are present.
set -euo pipefail
# clang-14 and libclang-rt-14-dev build the fuzz targets (libFuzzer and its sanitizers).
# qt6-httpserver-dev (with qt6-websockets-dev, which its CMake files need but do not pull in)
# builds kestrel-exporter; prometheus brings promtool and the server ./test scrapes through it.
packages=(build-essential cmake qt6-base-dev qt6-base-dev-tools libgl-dev libbenchmark-dev
          xvfb xauth fonts-dejavu-core clang-14 libclang-rt-14-dev
          qt6-httpserver-dev qt6-websockets-dev prometheus)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
