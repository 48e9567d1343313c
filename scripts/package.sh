#!/usr/bin/env bash
# Builds the Debian package of the four programs, the utility's desktop entry and icon, their
# manual pages, the exporter's unit and examples, changelog and copyright in build-package/,
# without building any test:
# build-package/kestrel_<version>_amd64.deb. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh app package
scripts/configure.sh build-package
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack >/dev/null)
ls build-package/kestrel_*.deb
