#!/usr/bin/env bash
# Makes the seed corpora under fuzz/corpus/ with the project's own tool and
# with cjpeg: small JPEG files of every layout, BMP files of every depth.
# Usage: fuzz/make_corpus.sh BUILD_DIR   (a build with jpgtool)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool="$1/jpgtool"
out="$root/fuzz/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"/{import,import_kernels,export,export_kernels,preview,show,headers,coefficients}

# Source pictures: a colour and a grey gradient with some texture.
convert -size 24x16 -seed 3 plasma:fractal "$work/c.ppm"
convert "$work/c.ppm" -colorspace gray "$work/g.pgm"
convert -size 17x9 -seed 5 plasma:fractal "$work/odd.ppm"

n=0
jpeg() {  # name, cjpeg options, source
  cjpeg "${@:3}" "$2" > "$out/import/$1.jpg"
}
jpeg 444 "$work/c.ppm" -sample 1x1,1x1,1x1 -quality 80
jpeg 422 "$work/c.ppm" -sample 2x1,1x1,1x1 -quality 60
jpeg 420 "$work/c.ppm" -sample 2x2,1x1,1x1 -quality 50
jpeg 440 "$work/c.ppm" -sample 1x2,1x1,1x1 -quality 70
jpeg 411 "$work/c.ppm" -sample 4x1,1x1,1x1 -quality 70
jpeg grey "$work/g.pgm" -quality 75
jpeg restart "$work/c.ppm" -restart 1 -quality 50
jpeg optimized "$work/odd.ppm" -optimize -quality 90
jpeg progressive "$work/c.ppm" -progressive
jpeg arithmetic "$work/g.pgm" -arithmetic
jpeg rgb444 "$work/c.ppm" -rgb -quality 80
jpeg rgb420 "$work/c.ppm" -rgb -sample 2x2,1x1,1x1 -quality 70

# Files of the coefficient decoder, transcoded by jpegtran: progressive and
# arithmetic-coded, several sequential scans, an unusual progressive script,
# restart markers. Three of them seed the import too, which refuses them.
printf '0,1,2: 0 0 0 2; 0: 1 1 0 0; 2: 1 63 0 1; 0: 2 9 0 1; 1: 1 63 0 0; 0: 10 63 0 2; 0,1,2: 0 0 2 1; 0,1,2: 0 0 1 0; 0: 10 63 2 1; 0: 10 63 1 0; 0: 2 9 1 0; 2: 1 63 1 0;' >"$work/prog.txt"
printf '2: 0 63 0 0; 0: 0 63 0 0; 1: 0 63 0 0;' >"$work/seq.txt"
printf '1,2: 0 63 0 0; 0: 0 63 0 0;' >"$work/pair.txt"
transcode() {  # name, source, jpegtran options
  jpegtran "${@:3}" -outfile "$out/coefficients/$1.jpg" "$out/import/$2.jpg"
}
transcode prog-420 420 -progressive
transcode prog-420-restart 420 -progressive -restart 1B
transcode script-422 422 -scans "$work/prog.txt"
transcode arith-444-restart 444 -arithmetic -restart 2B
transcode arith-prog-411 411 -progressive -arithmetic
transcode arith-prog-grey-restart grey -progressive -arithmetic -restart 1
transcode arith-script-440 440 -arithmetic -scans "$work/prog.txt"
transcode multiscan-440 440 -scans "$work/seq.txt"
transcode arith-multiscan-420 420 -arithmetic -scans "$work/pair.txt"
transcode prog-odd optimized -progressive
cp "$out/import/progressive.jpg" "$out/import/arithmetic.jpg" "$out/coefficients/"
cp "$out/coefficients/prog-420-restart.jpg" "$out/import/progressive-restart.jpg"
cp "$out/coefficients/arith-prog-411.jpg" "$out/import/arithmetic-progressive.jpg"
cp "$out/coefficients/multiscan-440.jpg" "$out/import/multiscan.jpg"

# BMP sources of every depth.
convert "$work/c.ppm" -type TrueColor BMP3:"$work/c24.bmp"
convert "$work/c.ppm" -define bmp:format=bmp4 -type TrueColorAlpha -alpha on BMP:"$work/c32.bmp"
convert "$work/g.pgm" -type Grayscale BMP3:"$work/g8.bmp"
convert "$work/c.ppm" -colors 16 -type Palette -compress none BMP3:"$work/p4.bmp"
convert "$work/c.ppm" -colors 2 -type Bilevel BMP3:"$work/b1.bmp"
convert "$work/odd.ppm" -colors 200 -type Palette -compress none BMP3:"$work/p8.bmp"
convert "$work/g.pgm" -negate -colors 50 -type Palette -compress none BMP3:"$work/g8inv.bmp"
convert "$work/c.ppm" -colors 2 -type Palette -compress none BMP3:"$work/p1.bmp"
convert "$work/c.ppm" -define bmp:subtype=RGB565 BMP:"$work/c16.bmp"
convert "$work/c.ppm" -colors 16 -type Palette BMP3:"$work/rle4.bmp"
convert "$work/odd.ppm" -colors 200 -type Palette BMP3:"$work/rle8.bmp"
options=0
for f in "$work"/*.bmp; do
  b=$(basename "$f" .bmp)
  cp "$f" "$out/show/$b.bmp"
  printf '\001\003' | cat - "$f" > "$out/export/$b.bmp"
  # The kernel sets and thread counts in turn.
  printf "\\001\\003\\$(printf %03o $((options++ % 8)))" | cat - "$f" > "$out/export_kernels/$b.bmp"
  printf '\000' | cat - "$f" > "$out/headers/$b.bmp"
done

# Files of our own: exports (colour, grey, odd size, coarse level), their
# imports, and the preview segments.
"$tool" export "$work/c24.bmp" "$work/own-c.jpg" --level 3
"$tool" export "$work/g8.bmp" "$work/own-g.jpg" --level 10
"$tool" export "$work/p8.bmp" "$work/own-odd.jpg" --level 0 --layout 0
for j in "$work"/own-*.jpg; do
  b=$(basename "$j" .jpg)
  cp "$j" "$out/import/$b.jpg"
  head -c 4820 "$j" > "$out/preview/$b.seg"
  "$tool" import "$j" "$work/$b.bmp" && cp "$work/$b.bmp" "$out/show/$b.bmp"
done
options=0
for j in "$out"/import/*.jpg; do
  printf '\001' | cat - "$j" > "$out/headers/$(basename "$j" .jpg).jpg"
  # The kernel sets and thread counts in turn.
  printf "\\$(printf %03o $((options++ % 8)))" | cat - "$j" > "$out/import_kernels/$(basename "$j" .jpg).jpg"
done
ls -R "$out" | wc -l
