#!/usr/bin/env bash
# Builds the library and its differential check for 32-bit x86 (-m32,
# statically linked) and runs the check under qemu-i386: with the emulator's
# own processor (SSE2 and AVX2 kernels against the reference), and as a
# Pentium III, which has no SSE2, where only the plain kernels may run; each
# run's bytes are also compared with the x86-64 build's. This is the only
# place the 32-bit SSE2 path runs.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# Debian's g++-multilib links /usr/include/asm for -m32; without it (it
# cannot stay installed beside a cross compiler) a directory of our own
# holds that link.
flags=-m32
if [ ! -e /usr/include/asm ] && [ -d /usr/include/x86_64-linux-gnu/asm ]; then
  mkdir -p build-m32/include
  ln -sfn /usr/include/x86_64-linux-gnu/asm build-m32/include/asm
  flags="-m32 -isystem $PWD/build-m32/include"
fi
cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=Release -DJPG_BUILD_TESTS=OFF -DJPG_BUILD_DIFFERENTIAL=ON \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-m32 -static" \
  -DCMAKE_SHARED_LINKER_FLAGS=-m32 >/dev/null
cmake --build build-m32 -j"$jobs" --target jpg_differential
corpora=(tests/corpus fuzz/corpus/import fuzz/corpus/show fuzz/corpus/export)
digests=build-m32/x86-64-digests.txt
echo "== x86-64 digests"
scripts/cross_digests.sh "$digests"
for cpu in max pentium3; do
  echo "== qemu-i386 -cpu $cpu"
  qemu-i386 -cpu "$cpu" build-m32/tests/differential/jpg_differential --quick --check-digests "$digests" "${corpora[@]}"
done
