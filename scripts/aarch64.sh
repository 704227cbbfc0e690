#!/usr/bin/env bash
# Cross-builds the library and its differential check for 64-bit ARM
# (aarch64, statically linked) and runs the check under qemu-aarch64: the
# kernel sets there (reference and plain) against each other, and every
# case's bytes against those of the x86-64 build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# The tool chain is chosen once, when the build directory is made.
toolchain=()
[ -f build-aarch64/CMakeCache.txt ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux.cmake)
cmake -S . -B build-aarch64 "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DJPG_BUILD_TESTS=OFF -DJPG_BUILD_DIFFERENTIAL=ON >/dev/null
cmake --build build-aarch64 -j"$jobs" --target jpg_differential
digests=build-aarch64/x86-64-digests.txt
echo "== x86-64 digests"
scripts/cross_digests.sh "$digests"
echo "== qemu-aarch64"
qemu-aarch64 build-aarch64/tests/differential/jpg_differential --quick --check-digests "$digests" \
  tests/corpus fuzz/corpus/import fuzz/corpus/show fuzz/corpus/export
