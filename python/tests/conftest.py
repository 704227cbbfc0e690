"""What the package's tests share: the repository's JPEG files, the built
jpgtool as the oracle and photo-like pictures."""
import os
import subprocess
from pathlib import Path

import numpy
import pytest

import jpg

ROOT = Path(__file__).resolve().parents[2]
CORPUS = sorted((ROOT / "tests/corpus/decoder").glob("*.jpg")) + sorted((ROOT / "fuzz/corpus/import").glob("*.jpg"))


@pytest.fixture(scope="session")
def jpgtool():
    """The built jpgtool: $JPGTOOL (which must then exist), else build/jpgtool of the repository."""
    given = os.environ.get("JPGTOOL")
    path = Path(given) if given else ROOT / "build" / "jpgtool"
    if not path.is_file():
        if given:
            pytest.fail(f"JPGTOOL={given} does not exist")
        pytest.skip(f"no jpgtool at {path}: build it (cmake -S . -B build && cmake --build build) or set JPGTOOL")
    return str(path)


def run_jpgtool(tool, *args):
    """jpgtool's exit status (0 written, 1 nothing written, 2 written with a warning) and its messages."""
    run = subprocess.run([tool, *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return run.returncode, run.stderr


def read_netpbm(path):
    """The pixels of a binary PPM (H, W, 3) or PGM (H, W) file with maxval 255."""
    data = Path(path).read_bytes()
    fields, at = [], 0
    while len(fields) < 4:  # magic, width, height, maxval
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    at += 1
    width, height = int(fields[1]), int(fields[2])
    shape = (height, width, 3) if fields[0] == b"P6" else (height, width)
    return numpy.frombuffer(data, numpy.uint8, numpy.prod(shape), at).reshape(shape)


def photo(height, width, channels=3, seed=0):
    """A photo-like picture: smooth shading, a few soft-edged discs and fine noise."""
    rng = numpy.random.default_rng(seed)
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float32)
    planes = []
    for c in range(channels):
        plane = 128 + 60 * numpy.sin(x / (17 + 5 * c) + y / 29) * numpy.cos(y / (23 + 3 * c))
        for _ in range(4):
            cy, cx, r = rng.uniform(0, height), rng.uniform(0, width), rng.uniform(2, 2 + max(width, height) / 3)
            plane += rng.uniform(-60, 60) * numpy.clip(r - numpy.hypot(y - cy, x - cx), 0, 3) / 3
        planes.append(plane + rng.normal(0, 4, (height, width)))
    pixels = numpy.clip(numpy.stack(planes, axis=-1), 0, 255).round().astype(numpy.uint8)
    return pixels[:, :, 0] if channels == 1 else pixels
