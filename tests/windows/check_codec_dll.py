#!/usr/bin/env python3
"""Checks jpgcodec.dll, 32- or 64-bit, as a program using the codec API sees
it: the export table names the module jpgcodec.dll and holds exactly the
codec API's functions by their plain names (the plain C calling convention);
the DLL imports nothing beyond KERNEL32, USER32, GDI32 and msvcrt; and, given
Visual C++'s jpgcodec.lib, it holds a short import record from jpgcodec.dll
for each function, named as a compiler refers to it (with the leading
underscore of 32-bit C names).

usage: check_codec_dll.py OBJDUMP jpgcodec.dll [--msvc-lib jpgcodec.lib]
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_dll import ALLOWED_IMPORTS, objdump, parse_headers, short_import_records  # noqa: E402

FUNCTIONS = ["jpgReadInfo", "jpgReadIcc", "jpgReadPreview", "jpgDefaultDecodeSettings", "jpgScaledSize",
             "jpgScaleFor", "jpgDecode", "jpgDefaultEncodeSettings", "jpgEncode", "jpgFree", "jpgVersion"]


def main():
    args = sys.argv[1:]
    msvc_lib = None
    if "--msvc-lib" in args:
        at = args.index("--msvc-lib")
        msvc_lib = args[at + 1] if at + 1 < len(args) else None
        del args[at:at + 2]
    if len(args) != 2:
        print(__doc__)
        return 2
    tool, dll = args
    info = parse_headers(objdump(tool, "-p", dll))
    failures = []

    def check(ok, message):
        print(("ok    " if ok else "FAIL  ") + message)
        if not ok:
            failures.append(message)

    check(info["module"] == "jpgcodec.dll", "module name is jpgcodec.dll (found %s)" % info["module"])
    names = sorted(info["names"].values())
    check(names == sorted(FUNCTIONS), "exports exactly the codec API (found %s)" % ", ".join(names))
    imports = {name.lower() for name in info["imports"]}
    check(bool(imports) and imports <= ALLOWED_IMPORTS,
          "imports only KERNEL32, USER32, GDI32, msvcrt (found %s)" % ", ".join(sorted(info["imports"])))
    if msvc_lib:
        records = short_import_records(msvc_lib)
        symbols = {symbol: dll_name for symbol, (dll_name, _, _) in records.items()}
        underscore = "_" if "pei-i386" in objdump(tool, "-f", dll) else ""
        wanted = {underscore + name: "jpgcodec.dll" for name in FUNCTIONS}
        check(symbols == wanted, "jpgcodec.lib imports each function from jpgcodec.dll (found %s)" % symbols)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("jpgcodec.dll: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
