#!/usr/bin/env bash
# Times the codec API (bench/codec_api_bench) against libjpeg-turbo's own
# in-memory benchmark, tjbench, on the same 12 MP photo-like files in one
# run: each case runs ours and tjbench in turn, ROUNDS times (default 3),
# and reports the median rates and the median of the rounds' ratios of the
# times (ours / tjbench: below 1 is faster).
#   bench/compare_codec.sh [ROUNDS] [BENCHTIME]
# The machine is shared and noisy: compare the ratios, not the rates.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
benchtime=${2:-2}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DJPG_BUILD_BENCH=ON -DJPG_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$jobs" --target codec_api_bench make_photo >/dev/null
for tool in tjbench cjpeg jpegtran python3; do
  command -v "$tool" >/dev/null || { echo "compare_codec.sh needs $tool (libjpeg-turbo-progs, python3)" >&2; exit 1; }
done
scratch=$(mktemp -d "${TMPDIR:-$([ -w /dev/shm ] && echo /dev/shm || echo /tmp)}/jpgcodec-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
python3 bench/compare_codec.py "$PWD/build-bench" "$scratch" "$rounds" "$benchtime"
