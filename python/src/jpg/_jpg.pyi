from typing import Literal

import numpy
import numpy.typing
from typing_extensions import Buffer

Format = Literal["GREY", "RGB", "BGR", "RGBA", "BGRA"]
Kernels = Literal["auto", "reference", "plain", "sse2", "avx2"]
Sampling = Literal["444", "422", "420", "GREY"]
BytesLike = Buffer
Pixels = numpy.typing.NDArray[numpy.uint8]

library_version: str

class JpgError(ValueError):
    code: int

class DamagedDataWarning(UserWarning): ...

def decode(data: BytesLike, format: Format = "RGB", scale: int = 1, min_width: int = 0, min_height: int = 0,
           threads: int = 0, kernels: Kernels = "auto", memory_limit: int | None = None,
           strict: bool = False) -> Pixels: ...
def decode_into(data: BytesLike, out: Pixels, format: Format = "RGB", scale: int = 1, min_width: int = 0,
                min_height: int = 0, threads: int = 0, kernels: Kernels = "auto", memory_limit: int | None = None,
                strict: bool = False) -> Pixels: ...
def decoded_shape(data: BytesLike, format: Format = "RGB", scale: int = 1, min_width: int = 0,
                  min_height: int = 0) -> tuple[int, int] | tuple[int, int, int]: ...
def encode(array: Pixels | BytesLike, format: Format = "RGB", quality: int = 75, level: int | None = None,
           sampling: Sampling = "422", restart_interval: int = 0, preview: bool = True, preview_layout: int = 1,
           icc_profile: BytesLike | None = None, threads: int = 0, kernels: Kernels = "auto") -> bytes: ...
def preview(data: BytesLike, format: Format = "RGB") -> Pixels: ...
def info(data: BytesLike) -> tuple: ...
def _time_c_decode(data: BytesLike, repeats: int, format: Format, scale: int, threads: int) -> list[float]: ...
def _time_c_encode(array: Pixels, repeats: int, quality: int, threads: int) -> list[float]: ...
