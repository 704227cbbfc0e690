#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and the sanitizers, and runs each
# for a fixed number of inputs from its seed corpus, or SECONDS if that comes
# first (the encoder's target makes pictures of up to 4 MP, two encodes
# each). Findings are written to build-fuzz/findings/; copy each one to
# fuzz/regressions/TARGET/.
#   scripts/fuzz_smoke.sh [RUNS] [SECONDS]   (default 4000 inputs, 90 s per target)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-4000}
seconds=${2:-90}
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz >/dev/null
cmake --build build-fuzz -j"$(nproc 2>/dev/null || echo 2)"
mkdir -p build-fuzz/findings
status=0
for exe in build-fuzz/fuzz_*; do
  name=$(basename "$exe")
  target=${name#fuzz_}
  scratch=$(mktemp -d)
  echo "== $name: $runs inputs or $seconds s"
  log=build-fuzz/findings/"$target".log
  if "$exe" -runs="$runs" -max_total_time="$seconds" -seed=1 -max_len=65536 -timeout=30 -rss_limit_mb=2048 -close_fd_mask=2 \
      -artifact_prefix=build-fuzz/findings/"$target"- "$scratch" fuzz/corpus/"$target" >"$log" 2>&1; then
    grep -E '^Done|cov:' "$log" | tail -n 1
  else
    tail -n 30 "$log"
    status=1
  fi
  rm -rf "$scratch"
done
if [ "$status" != 0 ]; then
  echo "fuzz smoke: a target failed; see build-fuzz/findings/" >&2
fi
exit "$status"
