#!/usr/bin/env bash
# Times jpgtool against the peer tools of libjpeg-turbo on photo-like
# pictures, side by side in one run: every case runs our command and the
# peers' in turn, RUNS times (default 9), and reports the median times, the
# ratios (ours / peer's: below 1 is faster) and the peak memory of one run.
#   bench/compare.sh [RUNS] [import|export|all]
# The machine is shared and noisy: compare the ratios, not the times.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
which=${2:-all}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DJPG_BUILD_BENCH=ON -DJPG_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$jobs" --target jpgtool make_photo >/dev/null
for tool in cjpeg djpeg python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compare.sh needs $tool" >&2; exit 1; }
done
scratch=$(mktemp -d "${TMPDIR:-$([ -w /dev/shm ] && echo /dev/shm || echo /tmp)}/jpgbench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
python3 bench/compare.py "$PWD/build-bench" "$scratch" "$runs" "$which"
