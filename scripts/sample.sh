#!/usr/bin/env bash
# The main job on the bundled sample: build jpgtool, decode the sample JPEG
# to BMP, encode that BMP back to JPEG with a preview, and extract the
# preview. Results land in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-sample -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJPG_BUILD_TESTS=OFF >/dev/null
cmake --build build-sample -j"$(nproc 2>/dev/null || echo 2)" --target jpgtool >/dev/null
mkdir -p out
tool=build-sample/jpgtool
set -x
"$tool" info samples/sample.jpg
"$tool" import samples/sample.jpg out/sample.bmp
"$tool" export out/sample.bmp out/sample.jpg
"$tool" preview out/sample.jpg out/sample-preview.bmp
"$tool" import out/sample.jpg out/sample-again.bmp
"$tool" info out/sample.jpg
