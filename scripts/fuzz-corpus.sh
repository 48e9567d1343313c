#!/usr/bin/env bash
# Writes the fuzz targets' seed corpus (tests/fuzz/corpus/<target>/) anew from the answers of a
# simulated pair. Inputs that once broke a target live beside the seeds and are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/fuzz-build.sh make_corpus
build-fuzz/tests/fuzz/make_corpus tests/fuzz/corpus
