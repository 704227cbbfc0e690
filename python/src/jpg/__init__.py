"""JPEG files to numpy arrays and back, through the JPG codec library.

    import jpg
    pixels = jpg.decode(open("photo.jpg", "rb").read())          # (H, W, 3) uint8, RGB
    thumb = jpg.decode(data, min_width=320, min_height=240)       # decoded at 1/2, 1/4 or 1/8
    jpg.info(data).width, jpg.info(data).coding                   # the headers alone
    data = jpg.encode(pixels, quality=85)                         # bytes of a JPEG file

Every function is thread-safe and releases the interpreter lock while it
works; every one is a plain top-level function, which pickles by name (Dask
and multiprocessing run them as they are). jpg.batch converts many files, on
this machine or on a Dask cluster.
"""
from dataclasses import dataclass

from ._jpg import DamagedDataWarning, JpgError, decode, decode_into, decoded_shape, encode, library_version, preview
from ._jpg import info as _info

__version__ = library_version

__all__ = ["DamagedDataWarning", "Info", "JpgError", "decode", "decode_into", "decoded_shape", "encode", "info",
           "preview"]


@dataclass(frozen=True)
class Info:
    """What a JPEG file's headers say, read without decoding it (jpg.info)."""

    width: int
    height: int
    components: int
    colour_space: str
    """'GREY', 'YCbCr', 'RGB' (three components taken as R, G, B) or 'other' (CMYK, YCCK, ...)."""
    coding: str
    """'baseline', 'extended', 'progressive', 'lossless', 'arithmetic', 'arithmetic progressive'
    or 'hierarchical'."""
    sampling: tuple[tuple[int, int], ...]
    """Each component's (horizontal, vertical) sampling factors, in frame order (at most four)."""
    restart_interval: int
    """MCUs between restart markers, 0 for none."""
    orientation: int
    """The Exif orientation tag, 1 to 8, or 0 when the file has none."""
    preview_layout: int | None
    """The layout tag of this library's preview segment, None when the file has none."""
    icc_profile: bytes | None
    """The embedded ICC profile (its APP2 chunks joined), None when there is none."""
    decodable: bool
    """Whether jpg.decode takes the file."""
    reason: str
    """Why not, in the library's words ('' when decodable)."""
    scans: int
    """Scan headers counted."""


def info(data) -> Info:
    """Reads the headers of a JPEG file held in any object with the buffer protocol.

    Also for a file that cannot be decoded: then decodable is False and reason
    says why. JpgError when not even the frame can be read (not a JPEG file,
    no frame header).
    """
    return Info(*_info(data))
