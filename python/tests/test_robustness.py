"""Cut-short, damaged and random bytes raise JpgError or warn, never crash,
and give the shape decoded_shape promised; eight threads at once give the
serial results."""
import io
import threading
import warnings

import numpy
import pytest
from PIL import Image

import jpg
from conftest import CORPUS, ROOT, photo

LIMIT = 64 << 20  # a mutated frame header may claim a picture of 65,535 x 65,535


def outcome(data, **options):
    """('pixels', array, warned) or ('refused', code): what jpg.decode made of data."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            pixels = jpg.decode(data, memory_limit=LIMIT, **options)
        except jpg.JpgError as error:
            assert str(error) and error.code < 0
            return ("refused", error.code)
    assert all(issubclass(w.category, jpg.DamagedDataWarning) for w in caught)
    assert pixels.shape == jpg.decoded_shape(data, **options)
    return ("pixels", pixels, bool(caught))


def test_every_prefix_of_a_file():
    for name in ("own-c.jpg", "progressive.jpg", "arithmetic.jpg"):
        data = (ROOT / "fuzz/corpus/import" / name).read_bytes()
        for end in range(len(data)):
            result = outcome(memoryview(data)[:end], format="RGB" if end % 2 else "GREY")
            if result[0] == "pixels":  # cut short in the scan data: the whole picture, with a warning
                assert result[2], (name, end)


def test_thousands_of_damaged_and_random_inputs():
    rng = numpy.random.default_rng(23)
    seeds = [path.read_bytes() for path in CORPUS]
    for case in range(3000):
        if case % 3 == 0:  # random bytes, half of them after a start-of-image marker
            data = rng.integers(0, 256, rng.integers(0, 300), numpy.uint8).tobytes()
            data = b"\xff\xd8" + data if case % 2 else data
        else:  # a real file with a few bytes changed
            data = bytearray(seeds[case % len(seeds)])
            for at in rng.integers(0, len(data), rng.integers(1, 9)):
                data[at] = rng.integers(0, 256)
        options = [{}, {"format": "GREY", "scale": 2}, {"format": "BGRA", "scale": 8}][case % 3]
        result = outcome(bytes(data), **options)
        if result[0] == "pixels":  # strict turns exactly the warning into an error
            try:
                jpg.decode(data, memory_limit=LIMIT, strict=True, **options)
                assert not result[2]
            except jpg.JpgError as error:
                assert result[2] and error.code == 1
        try:
            jpg.info(data)
        except jpg.JpgError as error:
            assert error.code < 0


def pillow_file(pixels, **options):
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="JPEG", **options)
    return out.getvalue()


def run_in_eight_threads(work, count):
    """work(i) for i in range(count), in eight threads at once, each in its own order."""
    results = [None] * count
    start = threading.Barrier(8)
    failures = []

    def worker(t):
        start.wait()
        try:
            for i in numpy.random.default_rng(t).permutation(count):
                results[i] = work(i)
        except BaseException as error:  # noqa: B902 (reported below)
            failures.append(error)

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not failures, failures
    return results


def test_eight_threads_decode_as_one():
    files = [pillow_file(photo(180 + 16 * i, 240 + 8 * i, channels=1 if i % 4 == 0 else 3, seed=i), quality=80,
                         subsampling=i % 3, progressive=i % 2 == 1) for i in range(8)]
    calls = [(data, options) for data in files
             for options in ({}, {"scale": 4, "format": "BGR"}, {"threads": 2, "format": "GREY"})]
    serial = [jpg.decode(data, **options) for data, options in calls]

    def work(i):
        data, options = calls[i]
        # Each call its own array: the eight threads make every call, and
        # calls writing one array at once would race (RGB is turned in place).
        into = jpg.decode_into(data, numpy.empty_like(serial[i]), **options)
        return jpg.decode(data, **options), into

    for (ours, into), expected in zip(run_in_eight_threads(work, len(calls)), serial):
        numpy.testing.assert_array_equal(ours, expected)
        numpy.testing.assert_array_equal(into, expected)


def test_eight_threads_encode_as_one():
    pictures = [photo(150 + 8 * i, 200 + 16 * i, channels=1 if i % 4 == 0 else 3, seed=i) for i in range(8)]
    calls = [(pixels, options) for pixels in pictures
             for options in ({}, {"quality": 90, "sampling": "444"}, {"level": 5, "threads": 2})]
    serial = [jpg.encode(pixels, **options) for pixels, options in calls]
    assert run_in_eight_threads(lambda i: jpg.encode(calls[i][0], **calls[i][1]), len(calls)) == serial
