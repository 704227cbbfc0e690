"""The cases of bench/compare.sh and their timing (run through it)."""
import os
import statistics
import subprocess
import sys
import time

build, scratch, runs, which = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
jpgtool = os.path.join(build, "jpgtool")
make_photo = os.path.join(build, "bench", "make_photo")


def path(name):
    return os.path.join(scratch, name)


def sh(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def picture(width, height, channels):
    """The photo-like picture as PPM or PGM, made once."""
    name = path(f"photo-{width}x{height}.{'ppm' if channels == 3 else 'pgm'}")
    if not os.path.exists(name):
        sh(make_photo, str(width), str(height), str(channels), name)
    return name


def seconds(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_kb(command):
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, check=True, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1])


def measure(label, ours, peers):
    """Runs ours and each peer in turn, `runs` times; prints medians and ratios."""
    commands = [ours] + [command for _, command in peers]
    for command in commands:  # warm the caches once
        seconds(command)
    times = [[] for _ in commands]
    for _ in range(runs):
        for i, command in enumerate(commands):
            times[i].append(seconds(command))
    medians = [statistics.median(t) for t in times]
    memory = [peak_kb(command) for command in commands]
    ratios = "  ".join(f"{name} {medians[0] / medians[i + 1]:.2f}" for i, (name, _) in enumerate(peers))
    print(f"{label:<34} ours {medians[0] * 1000:7.1f} ms {memory[0] / 1024:6.1f} MB | "
          + " | ".join(f"{name} {medians[i + 1] * 1000:7.1f} ms {memory[i + 1] / 1024:6.1f} MB"
                       for i, (name, _) in enumerate(peers))
          + f" | ratio {ratios}", flush=True)


# Import: cjpeg's files of every layout (quality 75), decoded by jpgtool and
# by djpeg's streaming path to PPM, and to BMP (which djpeg buffers whole to
# reverse the rows).
IMPORT_LAYOUTS = [
    ("4:2:0", ["-sample", "2x2"], 3),
    ("4:2:2", ["-sample", "2x1"], 3),
    ("4:4:4", ["-sample", "1x1"], 3),
    ("grey", ["-grayscale"], 1),
    ("4:2:0, restart every MCU row", ["-sample", "2x2", "-restart", "1"], 3),
]
SIZES = [(4000, 3000), (640, 480)]


def import_cases():
    print("import: jpgtool import X.jpg OUT.bmp against djpeg -dct int -nosmooth (ratio: ours / djpeg's)")
    for width, height in SIZES:
        for name, options, channels in IMPORT_LAYOUTS:
            jpeg = path(f"in-{width}x{height}-{len(options)}-{name[:5]}.jpg".replace(":", "").replace(" ", ""))
            sh("cjpeg", "-quality", "75", "-dct", "int", *options, "-outfile", jpeg, picture(width, height, channels))
            measure(f"{width}x{height} {name}", [jpgtool, "import", jpeg, path("out.bmp")], [
                ("ppm", ["djpeg", "-dct", "int", "-nosmooth", "-outfile", path("out.ppm"), jpeg]),
                ("bmp", ["djpeg", "-dct", "int", "-nosmooth", "-bmp", "-outfile", path("out-peer.bmp"), jpeg]),
            ])


def bmp_picture(width, height, channels):
    """The same picture as a BMP file in the library's row order, made once."""
    name = path(f"photo-{width}x{height}-{channels}.bmp")
    if not os.path.exists(name):
        sh(make_photo, str(width), str(height), str(channels), name)
    return name


# Export: the same picture from PPM/PGM and from BMP (--top-first: the rows as
# iExportJPG takes them), against cjpeg with the same tables and sampling
# (level 3 is quality 50; colour 2x1, grey), from PPM/PGM (its streaming
# path) and from BMP (which it buffers whole).
EXPORT_KINDS = [("colour", 3, ["-sample", "2x1"]), ("grey", 1, ["-grayscale"])]


def export_cases():
    print("export: jpgtool export against cjpeg -quality 50 -dct int (ratio: ours / cjpeg's)")
    for width, height in SIZES:
        for name, channels, options in EXPORT_KINDS:
            pnm, bmp = picture(width, height, channels), bmp_picture(width, height, channels)
            netpbm = "ppm" if channels == 3 else "pgm"
            cjpeg = ["cjpeg", "-quality", "50", "-dct", "int", *options, "-outfile", path("peer.jpg")]
            measure(f"{width}x{height} {name} from bmp", [jpgtool, "export", "--top-first", bmp, path("out.jpg")], [
                (netpbm, cjpeg + [pnm]),
                ("bmp", cjpeg + [bmp]),
            ])
            measure(f"{width}x{height} {name} from {netpbm}", [jpgtool, "export", pnm, path("out.jpg")], [
                (netpbm, cjpeg + [pnm]),
            ])


print(f"{runs} runs each, medians; scratch files in {scratch}")
if which in ("import", "all"):
    import_cases()
if which in ("export", "all"):
    export_cases()
