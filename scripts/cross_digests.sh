#!/usr/bin/env bash
# The digests of every case of the differential check on this machine
# (x86-64), for the runs on other architectures to compare with:
#   scripts/cross_digests.sh FILE
# Builds the native check in build/ when it is not there.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$jobs" --target jpg_differential >/dev/null
build/tests/differential/jpg_differential --quick --write-digests "$1" tests/corpus fuzz/corpus/import fuzz/corpus/show fuzz/corpus/export \
  | tail -n 1
