"""The package gives the C library's results: jpg.decode equals `jpgtool
import` on every corpus file (pixels, warning, refusal), jpg.encode(level=L)
equals `jpgtool export`, jpg.preview equals `jpgtool preview`."""
import warnings

import numpy
import pytest
from PIL import Image

import jpg
from conftest import CORPUS, photo, read_netpbm, run_jpgtool


def decode_reporting(data, **options):
    """jpg.decode's pixels and whether it warned of damaged data."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        pixels = jpg.decode(data, **options)
    return pixels, any(issubclass(w.category, jpg.DamagedDataWarning) for w in caught)


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_decode_equals_jpgtool_import(path, jpgtool, tmp_path):
    data = path.read_bytes()
    out = tmp_path / "out.pnm"
    status, _ = run_jpgtool(jpgtool, "import", "--format", "pnm", str(path), str(out))
    if status == 1:
        with pytest.raises(jpg.JpgError) as refused:
            jpg.decode(data)
        assert refused.value.code < 0 and str(refused.value)
        return
    expected = read_netpbm(out)
    grey = expected.ndim == 2
    pixels, warned = decode_reporting(data, format="GREY" if grey else "RGB")
    assert warned == (status == 2)
    numpy.testing.assert_array_equal(pixels, expected)
    if status == 2:
        with pytest.raises(jpg.JpgError) as strict:
            jpg.decode(data, strict=True)
        assert strict.value.code == 1

    # The other formats are the same pixels rearranged, into a caller's array too.
    rgb, _ = decode_reporting(data)
    if grey:
        numpy.testing.assert_array_equal(rgb, numpy.repeat(expected[:, :, None], 3, axis=2))
    numpy.testing.assert_array_equal(decode_reporting(data, format="BGR")[0], rgb[:, :, ::-1])
    rgba = numpy.full(rgb.shape[:2] + (4,), 7, numpy.uint8)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", jpg.DamagedDataWarning)
        assert jpg.decode_into(data, rgba, format="RGBA") is rgba
    numpy.testing.assert_array_equal(rgba[:, :, :3], rgb)
    assert (rgba[:, :, 3] == 255).all()


def bmp_for_export(path, pixels):
    """The picture as a BMP file whose first stored row is its top row (what
    `jpgtool export --top-first`, as iExportJPG, takes): 8-bit grey or 24-bit."""
    Image.fromarray(pixels[::-1]).save(path, format="BMP")  # Pillow stores rows bottom-up


@pytest.mark.parametrize("level", [1, 3, 12, 40])
@pytest.mark.parametrize("channels, size", [(3, (48, 64)), (1, (37, 61)), (3, (17, 203))])
def test_encode_level_equals_jpgtool_export(level, channels, size, jpgtool, tmp_path):
    pixels = photo(*size, channels=channels, seed=level)
    bmp, out = tmp_path / "in.bmp", tmp_path / "out.jpg"
    bmp_for_export(bmp, pixels)
    assert run_jpgtool(jpgtool, "export", "--top-first", "--level", str(level), "--layout", "2", str(bmp),
                       str(out))[0] == 0
    assert jpg.encode(pixels, level=level, preview_layout=2) == out.read_bytes()


def test_preview_equals_jpgtool_preview(jpgtool, tmp_path):
    pixels = photo(90, 130, seed=5)
    bmp, exported, preview = tmp_path / "in.bmp", tmp_path / "out.jpg", tmp_path / "preview.bmp"
    bmp_for_export(bmp, pixels)
    assert run_jpgtool(jpgtool, "export", "--top-first", str(bmp), str(exported))[0] == 0
    assert run_jpgtool(jpgtool, "preview", str(exported), str(preview))[0] == 0
    data = exported.read_bytes()
    expected = numpy.asarray(Image.open(preview).convert("RGB"))
    numpy.testing.assert_array_equal(jpg.preview(data), expected)
    numpy.testing.assert_array_equal(jpg.preview(data, format="BGRA")[:, :, 2::-1], expected)
    assert jpg.info(data).preview_layout == 1
