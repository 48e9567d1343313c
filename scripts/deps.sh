#!/usr/bin/env bash
# Installs the Debian packages that are missing from the groups named (default: all of them);
# does nothing when all are present.
#   app      build and run kestrel and kestrel-sim, and build kestrel-cli and kestrel-exporter
#            (libmicrohttpd for HTTP and TLS, libcrypt for bcrypt, found with pkg-config; openssl
#            makes the certificate the exporter's TLS test serves)
#   xvfb     a virtual X server, for running the windows without a display
#   bench    the benchmarks (Google Benchmark)
#   fuzz     the fuzz targets: clang with libFuzzer and its sanitizers
#   package  the Debian package and its checks: manual pages from --help, lintian,
#            desktop-file-validate, and file for the package's library dependencies
#   prometheus  promtool and the Prometheus server that ./test scrapes the exporter with; openssl
#            for the exporter's certificate, curl to ask it with and without a password, jq to
#            read the dashboard and Prometheus's answers (the bcrypt hash comes from perl, which
#            every Debian system has)
#   all      every group above: what ./test needs
# As root it runs apt-get itself, otherwise through sudo; without sudo it names what is missing
# and exits 1.
set -euo pipefail
declare -A group=(
    [app]="build-essential cmake qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
           libmicrohttpd-dev libcrypt-dev pkg-config openssl"
    [xvfb]="xvfb xauth"
    [bench]="libbenchmark-dev"
    [fuzz]="clang-14 libclang-rt-14-dev"
    [package]="help2man lintian desktop-file-utils file"
    [prometheus]="prometheus openssl curl jq"
)
names=("$@")
((${#names[@]} > 0)) || names=(all)
packages=()
for name in "${names[@]}"; do
    if [[ $name == all ]]; then
        packages+=(${group[app]} ${group[xvfb]} ${group[bench]} ${group[fuzz]} ${group[package]}
                   ${group[prometheus]})
    elif [[ -n ${group[$name]:-} ]]; then
        packages+=(${group[$name]})
    else
        echo "deps.sh: no group \"$name\" (app, xvfb, bench, fuzz, package, prometheus, all)" >&2
        exit 2
    fi
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
    exit 0
fi

# sudo clears the environment, so the variable goes in through env.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "There is no sudo: install them as root, then run this again:" >&2
        echo "    apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo "${as_root[@]}")
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
