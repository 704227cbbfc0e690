"""Pillow (libjpeg-turbo inside) as a second oracle: grey and 4:4:4 files
decode close to its pixels (the colour conversions differ by a few levels),
its headers agree with jpg.info, and it opens every file jpg.encode writes."""
import io

import numpy
import pytest
from PIL import Image

import jpg
from conftest import ROOT, photo


def pillow_file(pixels, **options):
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="JPEG", **options)
    return out.getvalue()


def pillow_pixels(data):
    image = Image.open(io.BytesIO(data))
    return numpy.asarray(image.convert("L" if image.mode == "L" else "RGB"))


CLOSE_FILES = {
    "corpus grey": (ROOT / "fuzz/corpus/import/grey.jpg").read_bytes(),
    "corpus 4:4:4": (ROOT / "fuzz/corpus/import/444.jpg").read_bytes(),
    "grey q90": pillow_file(photo(120, 161, channels=1, seed=1), quality=90),
    "4:4:4 q90": pillow_file(photo(120, 161, seed=2), quality=90, subsampling=0),
    "4:4:4 q95 progressive": pillow_file(photo(97, 203, seed=3), quality=95, subsampling=0, progressive=True),
}


@pytest.mark.parametrize("name", CLOSE_FILES)
def test_grey_and_444_close_to_pillow(name):
    data = CLOSE_FILES[name]
    theirs = pillow_pixels(data).astype(numpy.float64)
    ours = jpg.decode(data, format="GREY" if theirs.ndim == 2 else "RGB").astype(numpy.float64)
    assert ours.shape == theirs.shape
    error = numpy.abs(ours - theirs)
    mse = (error ** 2).mean()
    psnr = 10 * numpy.log10(255 ** 2 / mse) if mse else float("inf")
    assert error.mean() <= 0.75 and psnr >= 45, f"mean difference {error.mean():.3f}, PSNR {psnr:.1f} dB"


def test_info_agrees_with_what_pillow_wrote():
    profile = bytes(range(256)) * 300  # 76,800 bytes: split over two APP2 chunks
    exif = Image.Exif()
    exif[0x0112] = 6
    data = pillow_file(photo(50, 70, seed=4), quality=80, subsampling=2, progressive=True, icc_profile=profile,
                       exif=exif.tobytes())
    info = jpg.info(data)
    assert (info.width, info.height, info.components) == (70, 50, 3)
    assert (info.colour_space, info.coding, info.sampling) == ("YCbCr", "progressive", ((2, 2), (1, 1), (1, 1)))
    assert (info.orientation, info.icc_profile, info.preview_layout) == (6, profile, None)
    assert info.decodable and info.reason == "" and info.scans > 1
    grey = jpg.info(pillow_file(photo(9, 11, channels=1)))
    assert (grey.colour_space, grey.coding, grey.sampling, grey.orientation, grey.icc_profile) == \
        ("GREY", "baseline", ((1, 1),), 0, None)


@pytest.mark.parametrize("channels, options", [
    (3, {}), (3, {"sampling": "444", "quality": 95}), (3, {"sampling": "420", "restart_interval": 3}),
    (1, {"quality": 30}), (4, {"sampling": "GREY", "preview": False}), (3, {"level": 7, "icc_profile": b"icc" * 9}),
])
def test_pillow_opens_what_we_encode(channels, options):
    pixels = photo(57, 83, channels=min(channels, 3), seed=channels)
    if channels == 4:
        pixels = numpy.concatenate([pixels, numpy.zeros((57, 83, 1), numpy.uint8)], axis=2)
    data = jpg.encode(pixels, **options)
    image = Image.open(io.BytesIO(data))
    image.load()
    assert image.size == (83, 57)
    theirs = numpy.asarray(image.convert("RGB")).astype(int)
    ours = jpg.decode(data).astype(int)
    assert numpy.abs(theirs - ours).mean() < 2  # the same picture, up to the colour conversions
    if "icc_profile" in options:
        assert image.info["icc_profile"] == options["icc_profile"]
