#!/usr/bin/env python3
"""Checks the shipping 32-bit JPG.dll as a host sees it.

Reads `objdump -p` (export and import tables) and `objdump -d` (code) and
checks: the export table names the module JPG.dll; it holds exactly the six
functions, undecorated, with ordinals 1 to 6 in order; each function returns
with `ret $N`, removing its own argument bytes (__stdcall); and the DLL
imports nothing beyond KERNEL32, USER32, GDI32 and msvcrt.

Given host programs linked with JPG.dll's import libraries (MinGW's
libJPG.dll.a, Visual C++'s JPG.lib), also checks that each host imports the
six functions from JPG.dll by their plain names. Given JPG.lib, checks that
it holds a short import record (the format of Microsoft's librarian) for each
export, of name type "undecorate", naming the decorated symbol (_WEP@4) that
hosts compiled with jpg.h refer to.

usage: check_dll.py OBJDUMP JPG.dll [HOST.exe...] [--msvc-lib JPG.lib]
"""
import re
import struct
import subprocess
import sys

# name, ordinal, argument bytes the callee removes
EXPORTS = [
    ("WEP", 1, 4),
    ("iDecode_Init", 2, 4),
    ("iExportJPG", 3, 16),
    ("iImportJPG", 4, 8),
    ("iRead_APP1", 5, 8),
    ("iShowMeta", 6, 12),
]
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def parse_headers(text):
    """Module name, ordinal base, {ordinal: rva}, {ordinal: name}, image base, imported DLLs."""
    info = {"module": None, "base": None, "rva": {}, "names": {}, "image_base": None, "imports": []}
    section = None
    for line in text.splitlines():
        m = re.match(r"^ImageBase\s+([0-9a-fA-F]+)", line)
        if m:
            info["image_base"] = int(m.group(1), 16)
        m = re.match(r"^Name\s+[0-9a-fA-F]+\s+(\S+)", line)
        if m:
            info["module"] = m.group(1)
        m = re.match(r"^Ordinal Base\s+(\d+)", line)
        if m:
            info["base"] = int(m.group(1))
        m = re.match(r"^\s+DLL Name:\s+(\S+)", line)
        if m:
            info["imports"].append(m.group(1))
        if line.startswith("Export Address Table -- Ordinal Base"):
            section = "addresses"
            continue
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
            continue
        if not line.strip():
            section = None
            continue
        if section == "addresses":
            m = re.match(r"^\s+\[\s*\d+\] \+base\[\s*(\d+)\]\s+([0-9a-fA-F]+) Export RVA", line)
            if m:
                info["rva"][int(m.group(1))] = int(m.group(2), 16)
        elif section == "names":
            m = re.match(r"^\s+\[\s*(\d+)\]\s+(\S+)$", line)
            if m:
                info["names"][int(m.group(1)) + (info["base"] or 0)] = m.group(2)
    return info


def imports_from(text, module):
    """Names a program imports from `module`, from `objdump -p`."""
    names = []
    inside = False
    for line in text.splitlines():
        m = re.match(r"^\s+DLL Name:\s+(\S+)", line)
        if m:
            inside = m.group(1).lower() == module.lower()
            continue
        if inside:
            if not line.strip():
                inside = False
                continue
            m = re.match(r"^\s+[0-9a-fA-F]+\s+\d+\s+(\S+)$", line)
            if m:
                names.append(m.group(1))
    return names


IMPORT_NAME_TYPES = {0: "ordinal", 1: "name", 2: "noprefix", 3: "undecorate"}


def short_import_records(path):
    """{symbol: (dll, name type, machine)} of the short import records in an
    archive (Microsoft's import library format); other members are skipped."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"!<arch>\n"):
        raise ValueError("%s is not an archive" % path)
    records = {}
    pos = 8
    while pos + 60 <= len(data):
        size = int(data[pos + 48:pos + 58].decode().strip())
        member = data[pos + 60:pos + 60 + size]
        pos += 60 + size + (size & 1)
        if len(member) < 20:
            continue
        sig1, sig2, _version, machine = struct.unpack_from("<HHHH", member, 0)
        if sig1 != 0 or sig2 != 0xFFFF:
            continue  # a linker member or an ordinary object (import descriptors)
        (kind,) = struct.unpack_from("<H", member, 18)
        symbol, dll = member[20:].split(b"\0")[:2]
        records[symbol.decode()] = (dll.decode(), IMPORT_NAME_TYPES.get((kind >> 2) & 7, "?"), machine)
    return records


def returns_of(disassembly, address):
    """The `ret` instructions of the function that starts at `address`, and
    of its split-off cold part, if any. In a DLL without symbols, where the
    function's end is unknown, the first `ret` from its start."""
    rets = []
    inside = False
    label = None
    start = "%08x <" % address
    for line in disassembly.splitlines():
        m = re.match(r"^([0-9a-f]+) <(.+)>:$", line)
        if m:
            if line.startswith(start):
                inside, label = True, m.group(2)
            else:
                inside = label is not None and m.group(2).startswith(label + ".")
            continue
        if inside:
            m = re.match(r"^\s*[0-9a-f]+:\s+(ret[lw]?)\b\s*(\S*)", line)
            if m:
                rets.append(m.group(2))
    if label is None:
        for line in disassembly.splitlines():
            m = re.match(r"^\s*([0-9a-f]+):\s+(ret[lw]?)\b\s*(\S*)", line)
            if m and int(m.group(1), 16) >= address:
                return [m.group(3)]
    return rets


def main():
    args = sys.argv[1:]
    msvc_lib = None
    if "--msvc-lib" in args:
        at = args.index("--msvc-lib")
        msvc_lib = args[at + 1] if at + 1 < len(args) else None
        del args[at:at + 2]
    if len(args) < 2 or ("--msvc-lib" in sys.argv and not msvc_lib):
        print(__doc__)
        return 2
    tool, dll, hosts = args[0], args[1], args[2:]
    info = parse_headers(objdump(tool, "-p", dll))
    disassembly = objdump(tool, "-d", "--no-show-raw-insn", dll)
    failures = []

    def check(ok, message):
        print(("ok    " if ok else "FAIL  ") + message)
        if not ok:
            failures.append(message)

    check(info["module"] == "JPG.dll", "module name is JPG.dll (found %s)" % info["module"])
    check(info["base"] == 1, "ordinal base is 1 (found %s)" % info["base"])
    check(sorted(info["rva"]) == [1, 2, 3, 4, 5, 6], "export address table has ordinals 1 to 6 (found %s)"
          % sorted(info["rva"]))
    expected_names = {ordinal: name for name, ordinal, _ in EXPORTS}
    check(info["names"] == expected_names, "exported names by ordinal %s (found %s)"
          % (expected_names, info["names"]))
    check(info["image_base"] is not None, "image base found")
    for name, ordinal, argument_bytes in EXPORTS:
        rva = info["rva"].get(ordinal)
        if rva is None or info["image_base"] is None:
            check(False, "%s: no address" % name)
            continue
        rets = returns_of(disassembly, info["image_base"] + rva)
        wanted = "$0x%x" % argument_bytes
        check(bool(rets) and all(r == wanted for r in rets),
              "%s returns with ret %s (found %s)" % (name, wanted, ", ".join("ret " + r for r in rets) or "none"))
    imports = {dll_name.lower() for dll_name in info["imports"]}
    check(bool(imports) and imports <= ALLOWED_IMPORTS,
          "imports only KERNEL32, USER32, GDI32, msvcrt (found %s)" % ", ".join(sorted(info["imports"])))
    for host in hosts:
        names = sorted(imports_from(objdump(tool, "-p", host), "JPG.dll"))
        check(names == sorted(name for name, _, _ in EXPORTS),
              "%s, linked with an import library, imports the six plain names from JPG.dll (found %s)"
              % (host, ", ".join(names)))
    if msvc_lib:
        records = short_import_records(msvc_lib)
        wanted = {"_%s@%d" % (name, argument_bytes): ("JPG.dll", "undecorate", 0x14C)
                  for name, _, argument_bytes in EXPORTS}
        check(records == wanted, "JPG.lib holds one short import record of name type undecorate from JPG.dll "
              "(i386) for each decorated export (found %s)" % records)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("JPG.dll: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
