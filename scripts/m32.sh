#!/usr/bin/env bash
# Builds the library and its differential check for 32-bit x86 (-m32,
# statically linked) and runs the check under qemu-i386: with the emulator's
# own processor (SSE2 and AVX2 kernels against the reference), and as a
# Pentium III, which has no SSE2, where only the plain kernels may run. This
# is the only place the 32-bit SSE2 path runs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=Release -DJPG_BUILD_TESTS=OFF -DJPG_BUILD_DIFFERENTIAL=ON \
  -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS="-m32 -static" \
  -DCMAKE_SHARED_LINKER_FLAGS=-m32 >/dev/null
cmake --build build-m32 -j"$jobs" --target jpg_differential
corpora=(tests/corpus fuzz/corpus/import fuzz/corpus/show)
for cpu in max pentium3; do
  echo "== qemu-i386 -cpu $cpu"
  qemu-i386 -cpu "$cpu" build-m32/tests/differential/jpg_differential --quick "${corpora[@]}"
done
