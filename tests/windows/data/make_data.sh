#!/usr/bin/env bash
# Makes the small JPEG files the Windows host test decodes, and the reference
# decodes it compares them with (djpeg, integer IDCT, no fancy upsampling).
# Needs python3 and libjpeg-turbo's cjpeg and djpeg. The results are committed.
set -euo pipefail
cd "$(dirname "$0")"
python3 - <<'PY'
# A 45 x 30 picture: smooth ramps, a hard-edged red square and a blue bar.
w, h = 45, 30
rows = []
for y in range(h):
    row = bytearray()
    for x in range(w):
        r, g, b = (x * 255) // (w - 1), (y * 255) // (h - 1), 128
        if 5 <= x < 17 and 4 <= y < 14:
            r, g, b = 230, 20, 30
        if 28 <= x < 40 and 18 <= y < 24:
            r, g, b = 10, 40, 220
        row += bytes((r, g, b))
    rows.append(bytes(row))
with open("source.ppm", "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h) + b"".join(rows))
PY
cjpeg -quality 90 -grayscale -outfile grey.jpg source.ppm
cjpeg -quality 90 -sample 1x1 -outfile h1v1.jpg source.ppm
cjpeg -quality 90 -sample 2x1 -outfile h2v1.jpg source.ppm
cjpeg -quality 90 -sample 2x2 -restart 3B -outfile h2v2_restart.jpg source.ppm
cjpeg -quality 90 -sample 1x2 -outfile h1v2.jpg source.ppm
for f in grey h1v1 h2v1 h2v2_restart h1v2; do
  djpeg -dct int -nosmooth -pnm -outfile "$f.pnm" "$f.jpg"
done
rm source.ppm
