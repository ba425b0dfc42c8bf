#!/usr/bin/env python3
"""Checks what went into a program, as its linker map shows it, against the package's copyright file.

    check_linked_parts.py MAP COPYRIGHT [--stub EXE [--absent FOLDER]...]

Every input file of the link that contributed is put down to a part: our own
(named relative to the link's folder), or one of PARTS below; the copyright
file must have that part's stanza, with its licence. A file of no known part
fails, so whatever a change links in anew gets a stanza and a row here.

With --stub, EXE is the launcher stub that MAP describes, which every
installer carries. It must hold no winpthreads, import nothing beyond the
system DLLs of check_launcher_imports.py, and name no FOLDER given, nor the
folders of the compiler's own files that the link used.
Prints every failure and exits 1 if there is any, else 0.
"""

import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources"))
from check_launcher_imports import SYSTEM_DLLS  # noqa: E402
from pe_resources import PeFile  # noqa: E402

# (part, what names its files in a map, the Files field of its stanza), the
# first match counting. Absolute paths are matched once normalised.
PARTS = [
    ("LZMA SDK", r"(^|/)liblzma_sdk\.a$", "LzFind.c LzmaEnc.c LzmaDec.c"),
    ("winpthreads", r"/lib(win)?pthread[^/]*$", "mingw-w64-libraries/winpthreads/*"),
    ("mingw-w64 runtime", r"^/usr/i686-w64-mingw32/lib/", "mingw-w64-crt/*"),
    ("libstdc++", r"/libstdc\+\+[^/]*$", "libstdc++-v3/*"),
    ("libgcc", r"/(libgcc(_eh|_s)?\.[^/]*|crt(begin|end)S?\.o)$", "libgcc/*"),
    ("GNU C Library", r"/(S?crt1\.o|crt[in]\.o|lib(c|m|mvec)\.so[^/]*|libc_nonshared\.a|ld-linux[^/]*)$",
     "csu/* sysdeps/*"),
]

MEMBER = re.compile(r"^(\S+\.a)\(([^)]+)\)$")
LOAD = re.compile(r"^LOAD (\S+)$")


def contributors(map_text):
    """The files whose code or data is in the program: objects and shared
    libraries the link loaded, and the archives that gave members."""
    files = set()
    for line in map_text.splitlines():
        member = MEMBER.match(line)
        load = LOAD.match(line)
        if member:
            files.add(member.group(1))
        elif load and not load.group(1).endswith(".a"):
            files.add(load.group(1))
    return files


def part_of(path):
    if not path.startswith("/"):
        return "LZMA SDK" if path.endswith("liblzma_sdk.a") else None
    path = os.path.normpath(path)
    for part, pattern, _ in PARTS:
        if re.search(pattern, path):
            return part
    return "unknown"


def stanzas(copyright_text):
    """Files field -> License field of each Files stanza."""
    found = {}
    for paragraph in re.split(r"\n\s*\n", copyright_text):
        fields = dict(re.findall(r"^(Files|License): *(.*)$", paragraph, re.M))
        if "Files" in fields:
            found[fields["Files"].strip()] = fields.get("License", "").strip()
    return found


def check_notices(files, copyright_text, failures):
    named = stanzas(copyright_text)
    wanted = {part: files_field for part, _, files_field in PARTS}
    for path in sorted(files):
        part = part_of(path)
        if part == "unknown":
            failures.append("%s belongs to no known part: add a row to PARTS and a stanza" % path)
        elif part and not named.get(wanted[part]):
            failures.append("%s is linked (%s), but the copyright file has no licensed stanza "
                            "'Files: %s'" % (part, path, wanted[part]))


def check_stub(exe, files, absent, failures):
    with open(exe, "rb") as f:
        data = f.read()
    threads = sorted(path for path in files if part_of(path) == "winpthreads")
    if threads or b"winpthread" in data:
        failures.append("winpthreads is linked into the stub: %s" % (threads or "its name is in the exe"))
    for dll in sorted(PeFile(data).imports()):
        if dll.lower() not in SYSTEM_DLLS:
            failures.append("the stub imports %s, which is not among the allowed system DLLs" % dll)
    # The compiler's folders, as the link named them and normalised, and the
    # folder above each, where its headers lie.
    folders = set(absent)
    for path in files:
        if path.startswith("/"):
            raw = path.split("/../")[0] if "/../" in path else os.path.dirname(path)
            real = os.path.dirname(os.path.normpath(path))
            folders.update({raw, real, os.path.dirname(real)})
    for folder in sorted(folder for folder in folders if folder.count("/") > 1):
        if folder.encode() in data:
            failures.append("the stub names the build machine's folder %s" % folder)


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("map_file")
    parser.add_argument("copyright_file")
    parser.add_argument("--stub")
    parser.add_argument("--absent", action="append", default=[])
    args = parser.parse_args()
    map_file, exe = args.map_file, args.stub
    with open(map_file, encoding="utf-8", errors="replace") as f:
        files = contributors(f.read())
    with open(args.copyright_file, encoding="utf-8") as f:
        copyright_text = f.read()
    failures = []
    if not files:
        failures.append("%s lists no input files: not a linker map" % map_file)
    check_notices(files, copyright_text, failures)
    if exe:
        check_stub(exe, files, args.absent, failures)
    name = os.path.basename(exe or map_file)
    for failure in failures:
        print("%s: %s" % (name, failure))
    if not failures:
        parts = sorted({part_of(path) for path in files} - {None})
        print("%s: parts linked, each with its stanza: %s%s" % (
            name, ", ".join(parts), "; no winpthreads, system imports only, no build paths" if exe else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
