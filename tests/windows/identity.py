#!/usr/bin/env python3
"""The Windows build and the native build write byte-identical files.

Makes BMP sources (8-bit grey, 8-bit with a 16-colour table, 24-bit, 32-bit;
odd and even sizes) and JPEG sources (cjpeg: grey, 1x1, 2x1, 2x2, 1x2, 4x1,
restart intervals, RGB; and files cut short before their end marker), then runs
`jpgtool export` and `jpgtool import` of both builds on each and compares
exit statuses and output bytes: with --top-first, the bytes of the exports
themselves (iExportJPG, iImportJPG); by default, standard BMP files
(bottom-up) and netpbm files. The previews of the exported files
(`jpgtool preview`) and the BMP sources drawn by iShowMeta (`jpgtool show`)
are compared the same way.

usage: identity.py --native JPGTOOL --windows JPGTOOL.EXE [--emulator WINE] --work DIR
"""
import argparse
import math
import os
import shutil
import subprocess
import sys


def picture(width, height, seed):
    """Rows top first, R, G, B."""
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            r = (40 + 170 * x // max(1, width - 1) + seed * 13) % 256
            g = (30 + 180 * y // max(1, height - 1) + seed * 7) % 256
            b = int(128 + 90 * math.sin((x + 2 * y + seed) / 5.0))
            if width // 3 < x < width // 2 and height // 4 < y < height // 2:
                r, g, b = 230, 30, 40
            row += bytes((r, g, b))
        rows.append(bytes(row))
    return rows


def grey_of(rows):
    return [bytes((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8 for p in zip(r[0::3], r[1::3], r[2::3])) for r in rows]


def bmp(rows, width, bits, palette=None):
    """A BMP file as the library stores them: top row first, positive height."""
    stride = ((bits * width + 31) >> 3) & ~3
    colours = (len(palette) // 4 if palette else 256) if bits == 8 else 0
    off = 54 + 4 * colours
    image = bytearray()
    for row in rows:
        if bits == 8:
            line = bytearray(row)
        else:
            line = bytearray()
            for x in range(width):
                r, g, b = row[3 * x:3 * x + 3]
                line += bytes((b, g, r)) + (b"\0" if bits == 32 else b"")
        image += line + bytes(stride - len(line))
    header = bytearray(54)
    header[0:2] = b"BM"
    header[2:6] = (off + len(image)).to_bytes(4, "little")
    header[10:14] = off.to_bytes(4, "little")
    header[14:18] = (40).to_bytes(4, "little")
    header[18:22] = width.to_bytes(4, "little")
    header[22:26] = len(rows).to_bytes(4, "little")
    header[26:28] = (1).to_bytes(2, "little")
    header[28:30] = bits.to_bytes(2, "little")
    header[34:38] = len(image).to_bytes(4, "little")
    header[46:50] = (colours if bits == 8 else 0).to_bytes(4, "little")
    table = b""
    if bits == 8:
        table = palette if palette else b"".join(bytes((i, i, i, 0)) for i in range(256))
    return bytes(header) + table + bytes(image)


def pnm(rows, width, grey):
    magic = b"P5" if grey else b"P6"
    return magic + b"\n%d %d\n255\n" % (width, len(rows)) + b"".join(rows)


class Runner:
    def __init__(self, native, windows, emulator, messages):
        self.native = native
        self.messages = messages  # the Windows build's last messages
        self.windows = windows
        self.emulator = emulator

    def run_native(self, args):
        return subprocess.run([self.native, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def run_windows(self, args):
        # Absolute Unix paths are drive Z: under Wine.
        converted = ["Z:" + a if a.startswith("/") else a for a in args]
        command = ([self.emulator] if self.emulator else []) + [self.windows, *converted]
        # No pipes: the processes Wine starts for its services inherit them,
        # and reading a pipe would wait until those end.
        # Its messages go to a file, printed with a difference.
        with open(self.messages, "wb") as messages:
            return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=messages).returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--work", required=True)
    options = parser.parse_args()
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    runner = Runner(os.path.abspath(options.native), os.path.abspath(options.windows), options.emulator,
                    os.path.join(work, "windows-messages.txt"))
    if options.emulator:
        # Keep one Wine server up between the many short runs (it would
        # otherwise start again, with its services, for nearly every run);
        # it leaves a minute after the last one.
        server = os.path.join(os.path.dirname(options.emulator), "wineserver")
        if not os.path.exists(server):
            server = shutil.which("wineserver") or ""
        if server:
            subprocess.run([server, "-p60"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

    def path(name):
        return os.path.join(work, name)

    def write(name, data):
        with open(path(name), "wb") as f:
            f.write(data)
        return path(name)

    # Sources.
    bmps = []
    palette = b"".join(bytes((255 - 16 * i, 7 * i + 3, 16 * i, 0)) for i in range(16))
    for width, height, seed in ((1, 1, 0), (17, 9, 1), (64, 48, 2), (33, 70, 3)):
        rows = picture(width, height, seed)
        bmps.append(write("grey8_%dx%d.bmp" % (width, height), bmp(grey_of(rows), width, 8)))
        bmps.append(write("colour24_%dx%d.bmp" % (width, height), bmp(rows, width, 24)))
        bmps.append(write("colour32_%dx%d.bmp" % (width, height), bmp(rows, width, 32)))
        indexed = [bytes(v % 16 for v in r) for r in grey_of(rows)]
        bmps.append(write("palette16_%dx%d.bmp" % (width, height), bmp(indexed, width, 8, palette)))
    bmps.append(write("not_a_bmp.bmp", b"PK\3\4 not a bitmap"))

    jpegs = []
    have_cjpeg = shutil.which("cjpeg") is not None
    if have_cjpeg:
        for width, height, seed in ((23, 17, 4), (64, 48, 5)):
            rows = picture(width, height, seed)
            colour = write("source_%dx%d.ppm" % (width, height), pnm(rows, width, False))
            grey = write("source_%dx%d.pgm" % (width, height), pnm(grey_of(rows), width, True))
            variants = [("grey", grey, []), ("h1v1", colour, ["-sample", "1x1"]), ("h2v1", colour, ["-sample", "2x1"]),
                        ("h2v2", colour, ["-sample", "2x2"]), ("h1v2", colour, ["-sample", "1x2"]),
                        ("h4v1", colour, ["-sample", "4x1"]), ("h2v2_restart", colour, ["-sample", "2x2", "-restart", "2B"]),
                        ("grey_restart", grey, ["-restart", "1"]), ("rgb_h2v2", colour, ["-rgb", "-sample", "2x2"])]
            for name, source, flags in variants:
                out = path("%s_%dx%d.jpg" % (name, width, height))
                subprocess.run(["cjpeg", "-quality", "85", *flags, "-outfile", out, source], check=True)
                jpegs.append(out)
    else:
        print("note: cjpeg not found, only exported files are decoded")

    compared = 0
    written = 0
    differences = []

    def differs(name_native, name_windows, status_native, status_windows):
        if status_native != status_windows:
            return "exit status %d (native) vs %d (Windows)" % (status_native, status_windows)
        exists = (os.path.exists(name_native), os.path.exists(name_windows))
        if exists[0] != exists[1]:
            return "output made by only one build"
        if exists[0]:
            with open(name_native, "rb") as a, open(name_windows, "rb") as b:
                if a.read() != b.read():
                    return "outputs differ"
        return None

    def same(label, name_native, name_windows, status_native, windows_args):
        """Runs the Windows build's conversion and compares it with the
        native one; a difference is counted, with what the Windows build
        said."""
        nonlocal compared, written
        compared += 1
        difference = differs(name_native, name_windows, status_native, runner.run_windows(windows_args))
        if difference is not None:
            with open(runner.messages, "rb") as messages:
                said = messages.read().decode("utf-8", "replace").strip()
            differences.append("%s: %s (it said: %s)" % (label, difference, said or "nothing"))
        elif os.path.exists(name_native):
            written += 1

    # Export with both builds, at a few levels and layouts, as iExportJPG
    # reads the rows; and once in the standard row order (the sources read
    # bottom-up), and from netpbm files.
    for source in bmps + [p for p in os.listdir(work) if p.endswith((".ppm", ".pgm"))]:
        source = path(source)
        base = os.path.basename(source).replace(".", "_")
        out_n = path("%s_standard.native.jpg" % base)
        out_w = path("%s_standard.windows.jpg" % base)
        same("export %s (standard rows)" % base, out_n, out_w, runner.run_native(["export", source, out_n]),
             ["export", source, out_w])
    for source in bmps:
        base = os.path.splitext(os.path.basename(source))[0]
        for level, layout in ((3, 1), (1, 0), (12, 2)):
            flags = ["--top-first", "--level", str(level), "--layout", str(layout)]
            out_n = path("%s_l%d_t%d.native.jpg" % (base, level, layout))
            out_w = path("%s_l%d_t%d.windows.jpg" % (base, level, layout))
            same("export %s level %d layout %d" % (base, level, layout), out_n, out_w,
                 runner.run_native(["export", source, out_n, *flags]),
                 ["export", source, out_w, *flags])
            if level == 3 and os.path.exists(out_n):
                jpegs.append(out_n)

    # The preview of every exported file, and every BMP source drawn with
    # iShowMeta (the native build's own drawing layer against the system's
    # GDI under Wine).
    for source in [j for j in jpegs if j.endswith(".native.jpg")]:
        base = os.path.basename(source)[:-len(".native.jpg")]
        out_n = path(base + ".preview.native.bmp")
        out_w = path(base + ".preview.windows.bmp")
        same("preview " + base, out_n, out_w, runner.run_native(["preview", source, out_n]),
             ["preview", source, out_w])
    for source in bmps:
        base = os.path.splitext(os.path.basename(source))[0]
        out_n = path(base + ".show.native.bmp")
        out_w = path(base + ".show.windows.bmp")
        same("show " + base, out_n, out_w, runner.run_native(["show", source, out_n]),
             ["show", source, out_w])

    # Files cut short before their end marker (status 3 of the import).
    for source in list(jpegs[:3]):
        with open(source, "rb") as f:
            data = f.read()
        jpegs.append(write(os.path.basename(source)[:-4] + "_cut.jpg", data[:-2]))
        jpegs.append(write(os.path.basename(source)[:-4] + "_half.jpg", data[:len(data) // 2]))

    # Import with both builds: the BMP file of iImportJPG (--top-first), a
    # standard BMP file and a netpbm file.
    for source in jpegs:
        base = os.path.basename(source)[:-4]
        for flags, ending in ((["--top-first"], ".bmp"), ([], ".standard.bmp"), ([], ".pnm")):
            out_n = path(base + ".native" + ending)
            out_w = path(base + ".windows" + ending)
            same("import %s %s" % (" ".join(flags), base + ending), out_n, out_w,
                 runner.run_native(["import", *flags, source, out_n]),
                 ["import", *flags, source, out_w])

    for line in differences:
        print("DIFFERENT " + line)
    print("%d conversions compared (%d wrote a file), %d differ" % (compared, written, len(differences)))
    if written == 0:
        differences.append("no conversion wrote a file")
        print("FAIL: nothing to compare")
    if not differences:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
