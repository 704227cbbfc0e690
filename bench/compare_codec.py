"""The cases of bench/compare_codec.sh and their timing (run through it)."""
import os
import re
import shutil
import statistics
import subprocess
import sys

build, scratch, rounds, benchtime = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
ours = os.path.join(build, "bench", "codec_api_bench")
make_photo = os.path.join(build, "bench", "make_photo")
warmup = "0.5"
# tjbench and our one-thread cases run on one processor, the same for both:
# a virtual machine's processors may differ in speed (this one's second is
# up to a third slower on these cases), and a pinned pair compares the
# codecs, not the processors. Two-thread cases take any.
first_cpu = str(min(os.sched_getaffinity(0))) if hasattr(os, "sched_getaffinity") else None
pinned = ["taskset", "-c", first_cpu] if first_cpu is not None and shutil.which("taskset") else []


def path(name):
    return os.path.join(scratch, name)


def sh(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def picture(channels):
    name = path("photo.ppm" if channels == 3 else "photo.pgm")
    if not os.path.exists(name):
        sh(make_photo, "4000", "3000", str(channels), name)
    return name


def jpeg(name, cjpeg_options, jpegtran_options=None):
    """cjpeg's file of the photo (quality 75), transcoded by jpegtran when asked."""
    out = path(name)
    if not os.path.exists(out):
        channels = 1 if "-grayscale" in cjpeg_options else 3
        base = path(name + ".base.jpg")
        sh("cjpeg", "-quality", "75", *cjpeg_options, "-outfile", base, picture(channels))
        if jpegtran_options:
            sh("jpegtran", *jpegtran_options, "-outfile", out, base)
        else:
            os.replace(base, out)
    return out


def rate_of_ours(args):
    one_thread = args[args.index("--threads") + 1] == "1"
    command = [*(pinned if one_thread else []), ours, *args, "--benchtime", benchtime, "--warmup", warmup]
    text = subprocess.run(command, check=True,
                          capture_output=True, text=True).stdout
    return float(text.split()[0])


def rate_of_tjbench(args, compress):
    command = [*pinned, "tjbench", *args, "-quiet", "-nowrite", "-benchtime", benchtime, "-warmup", warmup]
    text = subprocess.run(command, check=True,
                          capture_output=True, text=True).stdout
    rows = [line.split() for line in text.splitlines() if re.match(r"^(BGR|Gray|RGB)", line)]
    fields = rows[-1]
    return float(fields[-3] if compress else fields[-1])


# (label, our arguments, tjbench's arguments, compression, goal for the ratio)
L = {"420": ["-sample", "2x2"], "422": ["-sample", "2x1"], "444": ["-sample", "1x1"], "grey": ["-grayscale"]}
cases = []
for layout in ["420", "422", "444", "grey"]:
    f = jpeg(f"{layout}.jpg", L[layout])
    fmt = ["--format", "grey"] if layout == "grey" else []
    for threads, goal in [(1, 1.0), (2, 0.5)]:
        cases.append((f"decode {layout}, {threads} thread{'s' if threads > 1 else ''}",
                      ["decode", f, "--threads", str(threads), *fmt], [f, "-fastupsample"], False, goal))
f = jpeg("420-restart.jpg", L["420"] + ["-restart", "1"])
for threads, goal in [(1, 1.0), (2, 0.5)]:
    cases.append((f"decode 420 restart every row, {threads} thread{'s' if threads > 1 else ''}",
                  ["decode", f, "--threads", str(threads)], [f, "-fastupsample"], False, goal))
f = jpeg("420.jpg", L["420"])
for scale in [2, 8]:
    cases.append((f"decode 420 at 1/{scale}, 1 thread", ["decode", f, "--scale", str(scale), "--threads", "1"],
                  [f, "-fastupsample", "-scale", f"1/{scale}"], False, 1.0))
for layout in ["420", "422", "444", "grey"]:
    f = jpeg(f"{layout}-progressive.jpg", L[layout], ["-progressive"])
    fmt = ["--format", "grey"] if layout == "grey" else []
    for threads, goal in [(1, 0.8), (2, 0.5)]:
        cases.append((f"decode {layout} progressive, {threads} thread{'s' if threads > 1 else ''}",
                      ["decode", f, "--threads", str(threads), *fmt], [f, "-fastupsample"], False, goal))
f = jpeg("420-arithmetic.jpg", L["420"], ["-arithmetic"])
cases.append(("decode 420 arithmetic, 1 thread", ["decode", f, "--threads", "1"], [f, "-fastupsample"], False, 1.0))
for sampling in ["422", "420"]:
    for threads, goal in [(1, 0.8), (2, 0.45)]:
        cases.append((f"encode q75 {sampling}, {threads} thread{'s' if threads > 1 else ''}",
                      ["encode", picture(3), "--quality", "75", "--sampling", sampling, "--threads", str(threads)],
                      [picture(3), "75", "-subsamp", sampling, "-componly"], True, goal))

print(f"{rounds} rounds of {benchtime} s each, medians; Mpixels/s of the full-size picture, as tjbench counts them")
print(f"{'case':44} {'ours':>9} {'tjbench':>9} {'ratio':>7} {'goal':>6}")
for label, our_args, their_args, compress, goal in cases:
    mine, theirs = [], []
    for _ in range(rounds):
        mine.append(rate_of_ours(our_args))
        theirs.append(rate_of_tjbench(their_args, compress))
    m, t = statistics.median(mine), statistics.median(theirs)
    # Each round's two runs are next to each other in time: the median of
    # their ratios follows the machine's changes of speed less than the
    # ratio of the medians would.
    ratio = statistics.median(b / a for a, b in zip(mine, theirs))  # time ours / time tjbench
    print(f"{label:44} {m:9.1f} {t:9.1f} {ratio:7.2f} {'<= ' + str(goal):>6} {'' if ratio <= goal else 'MISSED'}")
    sys.stdout.flush()
