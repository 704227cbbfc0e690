"""Every kind of argument is taken, or refused with JpgError or TypeError
naming what is wrong: buffer types of the data, shapes, dtypes and strides
of arrays, option names and values."""
import array
import mmap

import numpy
import pytest

import jpg
from conftest import ROOT, photo

JPEG = (ROOT / "fuzz/corpus/import/own-c.jpg").read_bytes()  # 24 x 16, colour, with a preview


def jpeg_in(kind):
    """The same file in an object of another buffer type."""
    if kind == "mmap":
        block = mmap.mmap(-1, len(JPEG))
        block.write(JPEG)
        return block
    return {"bytes": lambda: JPEG, "bytearray": lambda: bytearray(JPEG), "memoryview": lambda: memoryview(JPEG),
            "memoryview slice": lambda: memoryview(b"xx" + JPEG + b"yy")[2:-2],
            "numpy uint8": lambda: numpy.frombuffer(JPEG, numpy.uint8),
            "numpy uint16": lambda: numpy.frombuffer(JPEG + bytes(len(JPEG) % 2), numpy.uint16),
            "array.array": lambda: array.array("B", JPEG)}[kind]()


@pytest.mark.parametrize("kind", ["bytes", "bytearray", "memoryview", "memoryview slice", "mmap", "numpy uint8",
                                  "numpy uint16", "array.array"])
def test_data_of_every_buffer_type(kind):
    data = jpeg_in(kind)
    expected = jpg.decode(JPEG)
    numpy.testing.assert_array_equal(jpg.decode(data), expected)
    assert jpg.info(data) == jpg.info(JPEG)
    numpy.testing.assert_array_equal(jpg.preview(data), jpg.preview(JPEG))
    assert jpg.decode_into(data, numpy.empty_like(expected)).tobytes() == expected.tobytes()


@pytest.mark.parametrize("data, error, words", [
    ("a string", TypeError, "data must be a bytes-like object.*not str"),
    ([0xFF, 0xD8], TypeError, "data must be a bytes-like object.*not list"),
    (None, TypeError, "not NoneType"),
    (memoryview(JPEG)[::2], TypeError, "data must be.*contiguous"),
    (numpy.frombuffer(JPEG, numpy.uint8)[::2], TypeError, "data must be.*contiguous"),
    (b"", jpg.JpgError, "not a JPEG file"),
    (b"GIF89a" + bytes(40), jpg.JpgError, "not a JPEG file"),
])
def test_data_refused(data, error, words):
    for call in (jpg.decode, jpg.info, jpg.preview, jpg.decoded_shape):
        with pytest.raises(error, match=words):
            call(data)


@pytest.mark.parametrize("options, error, words", [
    ({"format": "rgb"}, jpg.JpgError, "format must be one of 'GREY', 'RGB', 'BGR', 'RGBA', 'BGRA', not 'rgb'"),
    ({"format": 2}, TypeError, "format must be a str, not int"),
    ({"scale": 3}, jpg.JpgError, "scale must be 1, 2, 4 or 8, not 3"),
    ({"scale": 2.0}, TypeError, "scale must be an int, not float"),
    ({"scale": 2, "min_width": 4}, jpg.JpgError, "give scale or min_width/min_height, not both"),
    ({"min_width": -1}, jpg.JpgError, r"min_width is out of range \(0 to"),
    ({"min_height": 2 ** 40}, jpg.JpgError, "min_height is out of range"),
    ({"threads": -1}, jpg.JpgError, "the thread count is negative"),
    ({"threads": "2"}, TypeError, "threads must be an int, not str"),
    ({"kernels": "neon"}, jpg.JpgError, "kernels must be one of 'auto', 'reference', 'plain', 'sse2', 'avx2'"),
    ({"memory_limit": -5}, jpg.JpgError, "memory_limit is out of range"),
    ({"memory_limit": 1000}, jpg.JpgError, "the picture needs 1152 bytes, more than the memory limit of 1000"),
    ({"memory_limit": 1200}, jpg.JpgError, "more working memory than the limit"),
    ({"bogus": 1}, TypeError, "'bogus' is an invalid keyword argument"),
])
def test_decode_options_refused(options, error, words):
    with pytest.raises(error, match=words) as refused:
        jpg.decode(JPEG, **options)
    if error is jpg.JpgError:
        assert refused.value.code in (-1, -5)


def test_decode_options_taken():
    full = jpg.decode(JPEG)
    assert jpg.decode(JPEG, memory_limit=0, threads=1, kernels="reference", strict=True).tobytes() == full.tobytes()
    for scale in (1, 2, 4, 8):
        assert jpg.decode(JPEG, scale=scale).shape == (-(-16 // scale), -(-24 // scale), 3)
    # min_width/min_height: the largest reduction still that large.
    assert jpg.decode(JPEG, min_width=6).shape == (4, 6, 3)
    assert jpg.decode(JPEG, min_width=7).shape == (8, 12, 3)
    assert jpg.decode(JPEG, min_width=6, min_height=5).shape == (8, 12, 3)
    assert jpg.decode(JPEG, min_width=1000).shape == (16, 24, 3)
    assert jpg.decoded_shape(JPEG, format="GREY", min_height=2) == (2, 3)
    assert jpg.decode(JPEG, "BGRA", 2).shape == (8, 12, 4)


@pytest.mark.parametrize("out, error, words", [
    (numpy.empty((16, 24, 4), numpy.uint8), jpg.JpgError,
     r"out has the shape \(16, 24, 4\); the picture in format RGB at scale 1 needs \(16, 24, 3\)"),
    (numpy.empty((8, 12, 3), numpy.uint8), jpg.JpgError, r"needs \(16, 24, 3\)"),
    (numpy.empty((16, 24, 3), numpy.float32), TypeError, "out must hold uint8, not float32"),
    (numpy.empty((16, 24, 3), numpy.int8), TypeError, "out must hold uint8, not int8"),
    (numpy.empty((16, 24, 3), numpy.uint8, order="F"), jpg.JpgError, "out's rows must each be contiguous"),
    (numpy.empty((16, 48, 3), numpy.uint8)[:, ::2], jpg.JpgError, "out's rows must each be contiguous"),
    (numpy.empty((16, 24, 3), numpy.uint8)[::-1], jpg.JpgError, "out's rows must each be contiguous"),
    (numpy.empty(16 * 24 * 3, numpy.uint8), jpg.JpgError, r"out must have the shape \(H, W\), \(H, W, 3\) or "
                                                          r"\(H, W, 4\), not \(1152,\)"),
    (bytearray(16 * 24 * 3), jpg.JpgError, r"not \(1152,\)"),
    (bytes(16 * 24 * 3), TypeError, "out must be a writable numpy array of uint8"),
    ([[0] * 24] * 16, TypeError, "out must be a writable numpy array of uint8, not list"),
])
def test_decode_into_refused(out, error, words):
    with pytest.raises(error, match=words):
        jpg.decode_into(JPEG, out)


def test_decode_into_read_only_refused():
    out = numpy.empty((16, 24, 3), numpy.uint8)
    out.flags.writeable = False
    with pytest.raises(TypeError, match="out must be a writable numpy array of uint8: .*read-only"):
        jpg.decode_into(JPEG, out)


def test_decode_into_rows_of_a_larger_array():
    canvas = numpy.full((20, 30, 3), 9, numpy.uint8)
    jpg.decode_into(JPEG, canvas[2:18, 3:27])
    numpy.testing.assert_array_equal(canvas[2:18, 3:27], jpg.decode(JPEG))
    canvas[2:18, 3:27] = 9
    assert (canvas == 9).all()  # nothing written outside
    grey = numpy.empty((16, 24, 1), numpy.uint8)
    jpg.decode_into(JPEG, grey, format="GREY")
    numpy.testing.assert_array_equal(grey[:, :, 0], jpg.decode(JPEG, format="GREY"))


PIXELS = photo(16, 24, seed=3)


@pytest.mark.parametrize("source, options, error, words", [
    (PIXELS.astype(numpy.float64), {}, TypeError, "array must hold uint8, not float64"),
    (PIXELS.astype(numpy.int16), {}, TypeError, "array must hold uint8, not int16"),
    (PIXELS > 100, {}, TypeError, "array must hold uint8, not bool"),
    (PIXELS.tolist(), {}, TypeError, "array must be a numpy array of uint8, not list"),
    ("pixels", {}, TypeError, "not str"),
    (bytes(PIXELS), {}, jpg.JpgError, r"array must have the shape \(H, W\), \(H, W, 3\) or \(H, W, 4\), "
                                      r"not \(1152,\)"),
    (PIXELS[None], {}, jpg.JpgError, r"not \(1, 16, 24, 3\)"),
    (PIXELS[:, :, :2], {}, jpg.JpgError, r"array must have 1, 3 or 4 channels, not 2 \(shape \(16, 24, 2\)\)"),
    (numpy.zeros((16, 24, 5), numpy.uint8), {}, jpg.JpgError, "not 5"),
    (PIXELS[:0], {}, jpg.JpgError, r"array is empty \(shape \(0, 24, 3\)\)"),
    (PIXELS[:, :0, 0], {}, jpg.JpgError, r"array is empty \(shape \(16, 0\)\)"),
    (PIXELS, {"format": "GREY"}, jpg.JpgError, r"format GREY needs 1 channel\(s\); the array has 3"),
    (PIXELS, {"format": "RGBA"}, jpg.JpgError, r"format RGBA needs 4 channel\(s\); the array has 3"),
    (PIXELS, {"format": "YUV"}, jpg.JpgError, "format must be one of"),
    (PIXELS, {"sampling": "411"}, jpg.JpgError, "sampling must be one of '444', '422', '420', 'GREY', not '411'"),
    (PIXELS, {"sampling": 422}, TypeError, "sampling must be a str, not int"),
    (PIXELS, {"quality": "75"}, TypeError, "quality must be an int, not str"),
    (PIXELS, {"level": 1.5}, TypeError, "level must be an int, not float"),
    (PIXELS, {"restart_interval": -1}, jpg.JpgError, "restart_interval is out of range"),
    (PIXELS, {"preview_layout": None}, TypeError, "preview_layout must be an int, not NoneType"),
    (PIXELS, {"icc_profile": "sRGB"}, TypeError, "icc_profile must be a bytes-like object.*not str"),
    (PIXELS, {"kernels": "AVX2"}, jpg.JpgError, "kernels must be one of"),
])
def test_encode_refused(source, options, error, words):
    with pytest.raises(error, match=words):
        jpg.encode(source, **options)


def test_encode_of_every_layout_equals_the_contiguous_array():
    """Strided arrays are read through their pitch or copied: every layout
    of the same pixels gives the same file."""
    rgb = photo(30, 41, seed=4)
    expected = jpg.encode(rgb)
    canvas = numpy.zeros((34, 50, 3), numpy.uint8)
    canvas[2:32, 5:46] = rgb
    read_only = rgb.copy()
    read_only.flags.writeable = False
    rgba = numpy.concatenate([rgb, numpy.full((30, 41, 1), 17, numpy.uint8)], axis=2)
    layouts = {
        "rows of a larger array": canvas[2:32, 5:46],
        "Fortran order": numpy.asfortranarray(rgb),
        "every other pixel": numpy.repeat(rgb, 2, axis=1)[:, ::2],
        "rows backwards": rgb[::-1].copy()[::-1],
        "columns backwards": rgb[:, ::-1].copy()[:, ::-1],
        "read-only": read_only,
        "memoryview": memoryview(rgb),
    }
    for name, source in layouts.items():
        assert jpg.encode(source) == expected, name
    assert jpg.encode(rgb[:, :, ::-1], format="BGR") == expected
    assert jpg.encode(rgba) == expected  # the fourth byte is ignored
    assert jpg.encode(rgba[:, :, [2, 1, 0, 3]], format="BGRA") == expected
    grey = photo(30, 41, channels=1, seed=4)
    assert jpg.encode(grey[:, :, None]) == jpg.encode(grey) == jpg.encode(numpy.asfortranarray(grey), format="GREY")
    assert jpg.encode(numpy.broadcast_to(grey[:1], (30, 41))) == jpg.encode(numpy.repeat(grey[:1], 30, axis=0))
