#!/usr/bin/env python3
"""Holds what a linker map shows went into a program against the package's copyright file.

    check_linked_parts.py MAP COPYRIGHT [--stub EXE | --exe EXE] [--absent FOLDER]...

Every contributing input of the link is our own (named relative to the link's
folder) or belongs to a part of PARTS, whose stanza, with a licence, the
copyright file must have; an input of no known part fails. With --stub or
--exe, EXE is the Windows program the map describes (the launcher stub, or
kesmar-pack.exe): it must hold no winpthreads, import only the system DLLs of
check_launcher_imports.py, and name no FOLDER nor any folder of the
compiler's that the link read; the stub, built without exceptions, must hold
no unwinder either. Prints each failure; exit 1 if any.
"""

import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources"))
from check_launcher_imports import SYSTEM_DLLS  # noqa: E402
from pe_resources import PeFile  # noqa: E402

# (part, pattern of its files' normalised paths, its stanza's Files field); the first match counts.
PARTS = [
    ("LZMA SDK", r"(^|/)liblzma_sdk\.a$", "LzFind.c LzmaEnc.c LzmaDec.c"),
    ("winpthreads", r"/lib(win)?pthread[^/]*$", "mingw-w64-libraries/winpthreads/*"),
    ("mingw-w64 runtime", r"^/usr/(i686|x86_64)-w64-mingw32/lib/", "mingw-w64-crt/*"),
    ("libstdc++", r"/libstdc\+\+[^/]*$", "libstdc++-v3/*"),
    ("libgcc", r"/(libgcc(_eh|_s)?\.[^/]*|crt(begin|end)S?\.o)$", "libgcc/*"),
    ("GNU C Library", r"/(S?crt1\.o|crt[in]\.o|lib(c|m|mvec)\.so[^/]*|libc_nonshared\.a|ld-linux[^/]*)$",
     "csu/* sysdeps/*"),
    ("zlib", r"/libz\.so[^/]*$", "zlib/*"),
]


def contributors(map_text):
    """Objects and shared libraries the link loaded, and archives that gave members."""
    members = re.findall(r"^(\S+\.a)\([^)]+\)$", map_text, re.M)
    loaded = [path for path in re.findall(r"^LOAD (\S+)$", map_text, re.M) if not path.endswith(".a")]
    return set(members) | set(loaded)


def part_of(path):
    if not path.startswith("/"):
        return "LZMA SDK" if path.endswith("liblzma_sdk.a") else None
    return next((part for part, pattern, _ in PARTS if re.search(pattern, os.path.normpath(path))), "unknown")


def licensed_stanzas(copyright_text):
    stanzas = (dict(re.findall(r"^(Files|License): *(.*)$", p, re.M)) for p in re.split(r"\n\s*\n", copyright_text))
    return {s["Files"].strip() for s in stanzas if "Files" in s and s.get("License", "").strip()}


def check_exe(data, files, absent, failures, stub):
    threads = sorted(path for path in files if part_of(path) == "winpthreads")
    if threads or b"winpthread" in data:
        failures.append("winpthreads is linked in: %s" % (threads or "its name is in the exe"))
    # One library object built with exceptions names the personality routine
    # and so brings the whole unwinder, which the stub never uses.
    if stub and any(os.path.basename(path) == "libgcc_eh.a" for path in files):
        failures.append("the unwinder (libgcc_eh) is linked in; the map says what brought it")
    failures += ["imports %s, not an allowed system DLL" % dll
                 for dll in sorted(PeFile(data).imports()) if dll.lower() not in SYSTEM_DLLS]
    # The compiler's folders as the link named them and normalised, and the one above, where its headers lie.
    folders = set()
    for path in (path for path in files if path.startswith("/")):
        real = os.path.dirname(os.path.normpath(path))
        folders |= {path.split("/../")[0] if "/../" in path else os.path.dirname(path), real, os.path.dirname(real)}
    folders = {folder for folder in folders if folder.count("/") > 1} | set(absent)
    failures += ["names the build machine's folder %s" % folder
                 for folder in sorted(folders) if folder.encode() in data]


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("map_file")
    parser.add_argument("copyright_file")
    parser.add_argument("--stub")
    parser.add_argument("--exe")
    parser.add_argument("--absent", action="append", default=[])
    args = parser.parse_args()
    with open(args.map_file, encoding="utf-8", errors="replace") as f:
        files = contributors(f.read())
    with open(args.copyright_file, encoding="utf-8") as f:
        named = licensed_stanzas(f.read())
    failures = [] if files else ["%s lists no input files: not a linker map" % args.map_file]
    stanza = {part: files_field for part, _, files_field in PARTS}
    for path in sorted(files):
        part = part_of(path)
        if part == "unknown":
            failures.append("%s belongs to no known part: add a row to PARTS and a stanza" % path)
        elif part and stanza[part] not in named:
            failures.append("%s is linked (%s), but no stanza 'Files: %s' gives its licence"
                            % (part, path, stanza[part]))
    exe = args.stub or args.exe
    if exe:
        with open(exe, "rb") as f:
            check_exe(f.read(), files, args.absent, failures, stub=bool(args.stub))
    name = os.path.basename(exe or args.map_file)
    for failure in failures:
        print("%s: %s" % (name, failure))
    if not failures:
        parts = sorted({part_of(path) for path in files} - {None})
        print("%s: each part linked has its stanza: %s" % (name, ", ".join(parts)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
