#!/usr/bin/env python3
"""Checks a built launcher exe: a 32-bit x86 GUI PE with no time stamps and exactly the launcher's resources.

    check_launcher_pe.py [--release] EXE PAYLOAD_FILE
    check_launcher_pe.py --stub STUB

A stub is checked for the same resources but RAW 130, which it must not hold.

With --release, also what a shipped launcher must be: stripped (no debug
section, no symbol table), its own part (the exe less its payload) at most
128 KiB, large-address-aware, with ASLR (and the relocations it needs) and DEP.
Prints every deviation and exits 1 if there is any, else 0.
"""

import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_resources import (PeError, PeFile, RT_GROUP_ICON, RT_ICON, RT_MANIFEST,  # noqa: E402
                          RT_STRING, RT_VERSION, string_block, version_tree)

WINDOW_STRINGS = {103: "KesmarSetupWin", 109: "KesmarSetupWin"}

# Icon groups: (side in pixels, bits per pixel) of every image, in any order.
ICON_GROUPS = {
    107: sorted([(s, 4) for s in (16, 24, 32, 48, 256)]
                + [(s, 8) for s in (16, 24, 32, 48, 256)]
                + [(s, 32) for s in (16, 24, 32, 48, 64, 72, 96, 128, 256)]),
    108: [(32, 4), (32, 8), (32, 32)],
}

VERSION_STRINGS = {
    "CompanyName": "Kesmar",
    "FileDescription": "Kesmar Windows Setup",
    "FileVersion": "1.1.5.5",
    "InternalName": "KesmarSetupWin.exe",
    "OriginalFilename": "KesmarSetupWin.exe",
    "ProductName": "Kesmar Windows Setup",
    "ProductVersion": "1.1.5",
}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}

failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
    return condition


def check_headers(pe):
    expect(pe.machine == 0x14C, "machine is 0x%x, not i386" % pe.machine)
    expect(pe.subsystem == 2, "subsystem is %d, not GUI (2)" % pe.subsystem)
    for where, stamp in pe.stamps:
        # A stamp makes two builds of the same sources differ.
        expect(stamp == 0, "%s carries time stamp 0x%x" % (where, stamp))


STUB_LIMIT = 128 * 1024
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x20
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x40
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x100


def check_release(pe):
    # mingw names debug sections .debug_* or, past eight characters, "/N".
    debug = [name for name, *_ in pe.sections if name.startswith((".debug", "/"))]
    expect(not debug, "debug sections %s" % debug)
    expect(pe.symbol_count == 0, "a COFF symbol table of %d symbols" % pe.symbol_count)
    payload = pe.resource("RAW", 130) or b""
    stub = len(pe.data) - len(payload)
    expect(stub <= STUB_LIMIT, "the stub (exe less payload) is %d bytes, over %d" % (stub, STUB_LIMIT))
    expect(pe.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, "not large-address-aware")
    expect(pe.dll_characteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "no ASLR (dynamic base)")
    relocations = pe.directories[5] if len(pe.directories) > 5 else (0, 0)
    expect(relocations[1] > 0, "no relocations, so ASLR cannot move the image")
    expect(pe.dll_characteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "no DEP (NX compatible)")


def check_resource_kinds(pe, stub=False):
    expected = {(RT_STRING, 7), (RT_GROUP_ICON, 107), (RT_GROUP_ICON, 108),
                (RT_MANIFEST, 1), (RT_VERSION, 1)} | (set() if stub else {("RAW", 130)})
    present = {key for key in pe.resources if key[0] != RT_ICON}
    expect(present == expected, "resources other than the launcher's: extra %s, missing %s"
           % (sorted(present - expected, key=str), sorted(expected - present, key=str)))


def check_strings(pe):
    block = pe.resource(RT_STRING, 7)  # ids 96 to 111
    if not expect(block is not None, "no string block holding 103 and 109"):
        return
    for index, text in enumerate(string_block(block)):
        wanted = WINDOW_STRINGS.get(96 + index, "")
        expect(text == wanted, "string %d is %r, not %r" % (96 + index, text, wanted))


def icon_image_shape(image):
    """(width, height, bits per pixel) as the image data itself states it."""
    if image[:8] == b"\x89PNG\r\n\x1a\n":
        width, height, depth, colour_type = struct.unpack_from(">IIBB", image, 16)
        return width, height, depth * {6: 4, 2: 3, 3: 1, 0: 1, 4: 2}.get(colour_type, 0)
    header, width, height, _, bpp = struct.unpack_from("<IiiHH", image)
    if header != 40:
        return None
    return width, height // 2, bpp


def check_icon_groups(pe):
    used = set()
    for group_id, wanted in ICON_GROUPS.items():
        group = pe.resource(RT_GROUP_ICON, group_id)
        if not expect(group is not None, "no icon group %d" % group_id):
            continue
        reserved, kind, count = struct.unpack_from("<HHH", group)
        expect((reserved, kind) == (0, 1), "icon group %d has a bad header" % group_id)
        found = []
        for i in range(count):
            width, height, colours, _, planes, bpp, size, icon_id = struct.unpack_from(
                "<BBBBHHIH", group, 6 + 14 * i)
            side = width or 256
            where = "icon group %d image %d (%d px, %d bpp)" % (group_id, i, side, bpp)
            found.append((side, bpp))
            used.add(icon_id)
            expect(width == height and planes == 1, where + ": not square or planes != 1")
            expect(colours == (16 if bpp == 4 else 0), where + ": colour count %d" % colours)
            image = pe.resource(RT_ICON, icon_id)
            if not expect(image is not None, where + ": icon %d missing" % icon_id):
                continue
            expect(len(image) == size, where + ": directory says %d bytes, image has %d" % (size, len(image)))
            # Windows reads a PNG in an icon only as 32 bpp RGBA, whatever
            # depth the directory gives the image; a DIB states its own.
            stated = 32 if image[:8] == b"\x89PNG\r\n\x1a\n" else bpp
            expect(icon_image_shape(image) == (side, side, stated),
                   where + ": image data says %s" % (icon_image_shape(image),))
        expect(sorted(found) == wanted, "icon group %d holds %s" % (group_id, sorted(found)))
    orphans = {name for kind, name in pe.resources if kind == RT_ICON} - used
    expect(not orphans, "icon images outside both groups: %s" % sorted(orphans))


def check_manifest(pe):
    text = pe.resource(RT_MANIFEST, 1)
    if not expect(text is not None, "no manifest 1"):
        return
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        expect(False, "manifest is not well-formed XML: %s" % error)
        return
    expect(root.tag == ASM_V1 + "assembly", "manifest root is %s" % root.tag)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    expect(identity is not None and identity.attrib == {
        "name": "KesmarSetupWin", "version": "1.0.0.0", "processorArchitecture": "X86", "type": "win32"},
        "assembly identity is %s" % (identity.attrib if identity is not None else None))
    levels = [e.attrib for e in root.iter() if e.tag in (ASM_V1 + "requestedExecutionLevel",
                                                       ASM_V3 + "requestedExecutionLevel")]
    expect(levels == [{"level": "asInvoker", "uiAccess": "false"}], "execution levels %s" % levels)
    systems = {e.get("Id") for e in root.iter(COMPAT + "supportedOS")}
    expect(systems == SUPPORTED_OS, "supported systems %s" % sorted(systems))


def check_version(pe):
    block = pe.resource(RT_VERSION, 1)
    if not expect(block is not None, "no version block 1"):
        return
    key, fixed, _, children = version_tree(block)
    expect(key == "VS_VERSION_INFO" and len(fixed) == 52, "version root is %r with %d value bytes"
           % (key, len(fixed)))
    if len(fixed) == 52:
        fields = struct.unpack("<13I", fixed)
        expect(fields[0] == 0xFEEF04BD, "fixed info signature 0x%x" % fields[0])
        expect(fields[2:6] == (0x10001, 0x50005, 0x10001, 0x50005), "file/product version %s"
               % ["0x%x" % f for f in fields[2:6]])
        expect(fields[8] == 0x40004, "file OS 0x%x" % fields[8])
        expect(fields[9] == 1, "file type %d, not an application" % fields[9])
    blocks = {child[0]: child for child in children}
    expect(sorted(blocks) == ["StringFileInfo", "VarFileInfo"], "version blocks %s" % sorted(blocks))
    tables = blocks.get("StringFileInfo", ("", b"", 1, []))[3]
    expect([t[0] for t in tables] == ["040904b0"], "string tables %s" % [t[0] for t in tables])
    if tables:
        values = {}
        for name, value, value_type, _ in tables[0][3]:
            expect(value_type == 1 and value.endswith(b"\0\0"), "%s is not NUL-terminated text" % name)
            values[name] = value.decode("utf-16-le").rstrip("\0")
        expect(values == VERSION_STRINGS, "version strings %s" % values)
    variables = blocks.get("VarFileInfo", ("", b"", 1, []))[3]
    translation = [v[1] for v in variables if v[0] == "Translation"]
    expect(translation == [struct.pack("<HH", 0x409, 1200)], "translation %s" % translation)


def check_payload(pe, payload_file):
    with open(payload_file, "rb") as f:
        wanted = f.read()
    body = pe.resource("RAW", 130)
    if expect(body is not None, "no RAW 130"):
        expect(body == wanted, "RAW 130 (%d bytes) differs from %s (%d bytes)"
               % (len(body), payload_file, len(wanted)))


def main():
    args = sys.argv[1:]
    release = args[:1] == ["--release"]
    stub = args[:1] == ["--stub"]
    if release or stub:
        args = args[1:]
    if len(args) != (1 if stub else 2):
        sys.exit(__doc__)
    exe, payload_file = args[0], (None if stub else args[1])
    with open(exe, "rb") as f:
        data = f.read()
    try:
        pe = PeFile(data)
        for check in (check_headers, check_strings, check_icon_groups, check_manifest, check_version):
            check(pe)
        check_resource_kinds(pe, stub)
        if not stub:
            check_payload(pe, payload_file)
        if release:
            check_release(pe)
    except (PeError, struct.error) as error:
        failures.append("unreadable PE: %s" % error)
    for failure in failures:
        print("%s: %s" % (os.path.basename(exe), failure))
    if not failures:
        print("%s: PE32 i386 GUI, no time stamps, resources as expected%s" % (
            os.path.basename(exe), ", release-grade" if release else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
