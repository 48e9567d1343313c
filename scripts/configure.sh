#!/usr/bin/env bash
# Configures a build folder with the options its name stands for, so that each folder holds the
# build it is called:
#   build           RelWithDebInfo: the programs, tests and benchmarks
#   *asan*          Debug under AddressSanitizer and UndefinedBehaviorSanitizer, no benchmarks
#   *fuzz*          clang with libFuzzer and the sanitizers: the fuzz targets
#   *package*       what the Debian package holds, with Debian's compiler flags
#                   (dpkg-buildflags): the four programs and their manual pages, no tests
# Any other name is configured like build. KESTREL_WERROR=ON in the environment turns warnings
# into errors (./test does so); unset, the folder keeps what it had.
#   scripts/configure.sh DIR
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:?usage: scripts/configure.sh DIR}
case $(basename "$dir") in
    *asan*)
        args=(-DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_BENCHMARKS=OFF) ;;
    *fuzz*)
        export CC=clang-14 CXX=clang++-14
        args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_FUZZ=ON -DKESTREL_BENCHMARKS=OFF) ;;
    *package*)
        # CMake reads CXXFLAGS and LDFLAGS, not CPPFLAGS: the preprocessor's flags go with the
        # compiler's, as Debian's own CMake builds pass them.
        export DEB_BUILD_MAINT_OPTIONS=hardening=+all
        CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
        LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
        export CXXFLAGS LDFLAGS
        args=(-DCMAKE_BUILD_TYPE=None -DKESTREL_TESTS=OFF -DKESTREL_MANPAGES=ON) ;;
    *)
        args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
esac
if [[ -n ${KESTREL_WERROR:-} ]]; then
    args+=(-DKESTREL_WERROR="$KESTREL_WERROR")
fi
cmake -S . -B "$dir" "${args[@]}" >/dev/null
