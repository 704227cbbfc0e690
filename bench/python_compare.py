"""Times the Python package jpg against Pillow on photo-like files, side by
side in one run, and the package's own overhead over the C API.

    .venv/bin/python bench/python_compare.py [RUNS]

Run it with the interpreter the package is installed in (the README's
.venv). The pictures are bench/make_photo's (built into build-bench as
bench/compare.sh builds it), 12 MP and 640 x 480, saved by Pillow at quality
75 (4:2:0). Each case runs ours and Pillow's in turn, RUNS times (default 7;
ten times as many at 640 x 480) and reports the medians and their ratio
(ours / Pillow's: below 1 is faster). Pillow's side is the usual idiom,
numpy.asarray(Image.open(...).convert("RGB")) (with Image.draft for 1/8);
a second row compares Pillow's decode alone, Image.load(). The machine may be shared and noisy:
compare the ratios, not the times; the load average is printed beside them.
"""
import io
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy
from PIL import Image

import jpg
import jpg._jpg

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")


def photo(width, height, scratch):
    """bench/make_photo's picture as an array (H, W, 3)."""
    make_photo = os.path.join(BUILD, "bench", "make_photo")
    if not os.path.exists(make_photo):
        subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release", "-DJPG_BUILD_BENCH=ON",
                        "-DJPG_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", BUILD, "--target", "make_photo", "-j2"], check=True,
                       stdout=subprocess.DEVNULL)
    path = os.path.join(scratch, f"photo-{width}x{height}.ppm")
    subprocess.run([make_photo, str(width), str(height), "3", path], check=True)
    return numpy.asarray(Image.open(path).convert("RGB"))


def pillow_jpeg(pixels):
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="JPEG", quality=75)
    return out.getvalue()


def pillow_decode(data, scale=1):
    image = Image.open(io.BytesIO(data))
    if scale != 1:
        image.draft("RGB", (image.width // scale, image.height // scale))
    return numpy.asarray(image.convert("RGB"))


def seconds(function):
    start = time.perf_counter()
    function()
    return time.perf_counter() - start


def medians(functions, runs):
    """Each function's median time over `runs` rounds, the functions taking turns."""
    for function in functions:  # warm the caches once
        function()
    times = [[] for _ in functions]
    for _ in range(runs):
        for i, function in enumerate(functions):
            times[i].append(seconds(function))
    return [statistics.median(t) for t in times]


def row(label, ours, theirs):
    print(f"| {label:<44} | {ours * 1000:9.2f} | {theirs * 1000:9.2f} | {ours / theirs:5.2f} |", flush=True)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    with open("/proc/cpuinfo") as cpuinfo:
        model = next((line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name")), "?")
    print(f"jpg {jpg.__version__}, Pillow {Image.__version__}, numpy {numpy.__version__}, Python "
          f"{sys.version.split()[0]}; {os.cpu_count()} cores ({model}); load average {os.getloadavg()[0]:.2f} "
          f"at the start", flush=True)
    with tempfile.TemporaryDirectory() as scratch:
        pictures = {"12 MP": photo(4000, 3000, scratch), "640 x 480": photo(640, 480, scratch)}
    files = {name: pillow_jpeg(pixels) for name, pixels in pictures.items()}
    print("Files: " + ", ".join(f"{name} {len(data) / 1000:.0f} kB" for name, data in files.items()), flush=True)

    print("\n| case | jpg ms | Pillow ms | ratio |\n|---|---:|---:|---:|")
    for name, data in files.items():
        n = runs if name == "12 MP" else runs * 10
        for scale in (1, 8):
            size = "full size" if scale == 1 else "1/8 (draft)"
            ours, theirs = medians([lambda: jpg.decode(data, scale=scale),
                                    lambda: pillow_decode(data, scale)], n)
            row(f"decode {name}, {size}", ours, theirs)
            if scale == 1:
                # Pillow's decode alone, before the idiom's two copies
                # (convert and numpy.asarray); ours on one thread.
                one, loaded = medians([lambda: jpg.decode(data, threads=1),
                                       lambda: Image.open(io.BytesIO(data)).load()], n)
                row(f"decode {name}, threads=1 / Pillow load()", one, loaded)
        pixels = pictures[name]
        ours, theirs = medians([lambda: jpg.encode(pixels, quality=75),
                                lambda: Image.fromarray(pixels).save(io.BytesIO(), format="JPEG", quality=75)], n)
        row(f"encode {name}, quality 75", ours, theirs)

    # The package's cost over the C API's own: the same calls timed in C
    # (jpgReadInfo, a block of the picture's size, jpgDecode, free).
    print("\n| per-call overhead at 640 x 480 | Python ms | C API ms | overhead |\n|---|---:|---:|---:|")
    data = files["640 x 480"]
    n = runs * 30
    for label, scale in [("decode RGB", 1), ("decode RGB 1/8", 8)]:
        python_times, c_times = [], []
        for _ in range(n):  # in turns, so that both see the same load
            python_times.append(seconds(lambda: jpg.decode(data, scale=scale, threads=1)))
            c_times.append(jpg._jpg._time_c_decode(data, 1, "RGB", scale, 1)[0])
        py, c = statistics.median(python_times), statistics.median(c_times)
        print(f"| {label:<30} | {py * 1000:9.3f} | {c * 1000:8.3f} | {100 * (py - c) / c:6.1f} % |", flush=True)
    pixels = pictures["640 x 480"]
    python_times = [seconds(lambda: jpg.encode(pixels, threads=1)) for _ in range(n)]
    c_times = jpg._jpg._time_c_encode(pixels, n, 75, 1)
    py, c = statistics.median(python_times), statistics.median(c_times)
    print(f"| {'encode quality 75':<30} | {py * 1000:9.3f} | {c * 1000:8.3f} | {100 * (py - c) / c:6.1f} % |")

    # The lock released: two threads each decoding a 12 MP file on one
    # thread of the library, against one thread decoding both.
    data = files["12 MP"]
    serial, = medians([lambda: (jpg.decode(data, threads=1), jpg.decode(data, threads=1))], runs)

    def two_threads():
        workers = [threading.Thread(target=jpg.decode, args=(data,), kwargs={"threads": 1}) for _ in range(2)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()

    parallel, = medians([two_threads], runs)
    print(f"\nTwo 12 MP decodes (threads=1): one Python thread {serial * 1000:.1f} ms, two Python threads "
          f"{parallel * 1000:.1f} ms: {parallel / serial:.2f} of the time.")
    print(f"Load average {os.getloadavg()[0]:.2f} at the end.")


if __name__ == "__main__":
    main()
