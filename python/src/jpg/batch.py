"""Converting many JPEG files at once: on this machine, or on a Dask
(`distributed`) cluster whose workers see the same files (a shared file
system).

    import jpg.batch
    results = jpg.batch.convert("photos", "thumbs", to="jpeg", min_width=320, min_height=240)

    from distributed import Client
    with Client("tcp://scheduler:8786") as client:          # or Client(LocalCluster(...))
        results = jpg.batch.convert("photos", "png", to="png", client=client)

What it does for you: finds the files of a tree, mirrors the tree under the
output directory, writes each output whole or not at all (a task that a
lost worker runs again finds no half-written file), records a damaged or
refused file in the results instead of stopping the batch, and hands the
cluster tasks of several files each, so that a million files are not a
million tasks. Each task reads, converts and writes one file at a time:
a worker holds one picture per thread of its own, whatever the batch's size.
"""
import os
import secrets
from dataclasses import dataclass
from pathlib import Path

from . import JpgError, decode, encode, info

FORMATS = {"jpeg": ".jpg", "png": ".png", "ppm": ".ppm"}  # grey pictures as .pgm
JPEG_SUFFIXES = (".jpg", ".jpeg", ".jpe", ".jfif")


@dataclass(frozen=True)
class Converted:
    """What became of one file."""

    source: str
    output: str | None
    """The file written, None when none was."""
    damaged: bool
    """The data was damaged or cut short: the picture written is whole, the rest filled in."""
    error: str | None
    """Why nothing was written (the file refused or unreadable), None when it was."""


def jpeg_files(directory):
    """The JPEG files (named .jpg, .jpeg, .jpe or .jfif, in any case) in a directory tree, in sorted order."""
    return sorted(str(p) for p in Path(directory).rglob("*") if p.suffix.lower() in JPEG_SUFFIXES and p.is_file())


def convert(paths, out_dir, to="png", *, root=None, client=None, min_width=0, min_height=0, quality=75,
            files_per_task=16):
    """Converts JPEG files to `to` ('png', 'ppm' or 'jpeg') under out_dir.

    paths: a directory (its JPEG files, at any depth) or an iterable of file paths.
    root: the directory the outputs' places are taken relative to: out_dir/a/b.png for
        root/a/b.jpg. Default: the directory given, or the files' common directory.
    client: a distributed.Client to run the conversions on its cluster; None runs
        them here, one after another.
    min_width, min_height: decode at the largest reduction (1/2, 1/4, 1/8) still at
        least that large (see jpg.decode); 0 keeps the full size.
    quality: for 'jpeg' outputs.
    files_per_task: files converted in turn by one task of the cluster.

    Returns a Converted record for every file, in the order of `paths`.
    Pillow is needed for 'png'.
    """
    if to not in FORMATS:
        raise ValueError(f"to must be one of {', '.join(map(repr, FORMATS))}, not {to!r}")
    if isinstance(paths, (str, os.PathLike)):
        root = paths if root is None else root
        paths = jpeg_files(paths)
    else:
        paths = [os.fspath(p) for p in paths]
    if not paths:
        return []
    if root is None:
        root = os.path.commonpath([os.path.dirname(os.path.abspath(p)) for p in paths])
    root, out_dir = os.path.abspath(root), os.path.abspath(out_dir)
    options = {"to": to, "min_width": min_width, "min_height": min_height, "quality": quality,
               "threads": 0 if client is None else 1}  # on a cluster the files are the parallel work
    tasks = []
    for path in paths:
        place = os.path.relpath(os.path.abspath(path), root)
        if place.startswith(os.pardir):
            raise ValueError(f"{path} is not inside root {root}")
        tasks.append((path, os.path.join(out_dir, place)))
    if client is None:
        return convert_files(tasks, options)
    chunks = [tasks[i:i + files_per_task] for i in range(0, len(tasks), files_per_task)]
    futures = client.map(convert_files, chunks, options=options, pure=False)
    return [record for chunk in client.gather(futures) for record in chunk]


def convert_files(tasks, options):
    """Converts each (source, output without its suffix) of `tasks` in turn: a task of convert()."""
    return [convert_file(source, output, **options) for source, output in tasks]


def convert_file(source, output, to, min_width=0, min_height=0, quality=75, threads=0):
    """Converts one JPEG file; `output` is its path, whose suffix is replaced by the format's."""
    decode_options = {"min_width": min_width, "min_height": min_height, "threads": threads}
    damaged = False
    try:
        with open(source, "rb") as file:
            data = file.read()
        decode_options["format"] = "GREY" if info(data).components == 1 else "RGB"
        try:
            pixels = decode(data, strict=True, **decode_options)
        except JpgError as error:
            if error.code != 1:  # 1: damaged data; anything else refuses the file
                raise
            damaged = True
            pixels = decode(data, **decode_options)  # the whole picture, and a DamagedDataWarning
        output = os.path.splitext(output)[0] + (".pgm" if to == "ppm" and pixels.ndim == 2 else FORMATS[to])
        write_whole(output, encoded(pixels, to, quality))
        return Converted(source, output, damaged, None)
    except (JpgError, OSError, MemoryError) as error:
        return Converted(source, None, damaged, f"{type(error).__name__}: {error}")


def encoded(pixels, to, quality):
    """The bytes of the picture's file in format `to`."""
    if to == "jpeg":
        return encode(pixels, quality=quality)
    if to == "ppm":
        height, width = pixels.shape[:2]
        return b"P%d\n%d %d\n255\n" % (5 if pixels.ndim == 2 else 6, width, height) + pixels.tobytes()
    import io

    from PIL import Image
    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="PNG")
    return out.getvalue()


def write_whole(path, data):
    """Writes data to path through a new file beside it, renamed over it when complete."""
    directory, name = os.path.split(path)
    os.makedirs(directory, exist_ok=True)
    part = os.path.join(directory, f".{name}.part-{secrets.token_hex(6)}")
    descriptor = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)  # the umask applies, as for any file
    try:
        with os.fdopen(descriptor, "wb") as file:
            file.write(data)
        os.replace(part, path)
    except BaseException:
        if os.path.exists(part):
            os.unlink(part)
        raise
