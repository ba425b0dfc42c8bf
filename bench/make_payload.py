#!/usr/bin/env python3
"""Builds the reference payload folder: 13 files, about 16 MiB, from files Debian packages install.

Usage: make_payload.py <work folder>   (writes <work folder>/finst)

Seven 32-bit PE programs and libraries from wine32 (one of them as
KesmarSetup.exe), three DejaVu TrueType fonts and three text files. The same
packages give the same bytes: nothing is random or dated.
"""

import os
import shutil
import sys

WINE = "/usr/lib/i386-linux-gnu/wine/i386-windows"
FONTS = "/usr/share/fonts/truetype/dejavu"
LICENSES = "/usr/share/common-licenses"

# (name in the payload, source)
FILES = [
    ("KesmarSetup.exe", WINE + "/winecfg.exe"),
    ("comctl32.dll", WINE + "/comctl32.dll"),
    ("ntdll.dll", WINE + "/ntdll.dll"),
    ("msvcrt.dll", WINE + "/msvcrt.dll"),
    ("advapi32.dll", WINE + "/advapi32.dll"),
    ("regedit.exe", WINE + "/regedit.exe"),
    ("notepad.exe", WINE + "/notepad.exe"),
    ("DejaVuSans.ttf", FONTS + "/DejaVuSans.ttf"),
    ("DejaVuSerif.ttf", FONTS + "/DejaVuSerif.ttf"),
    ("DejaVuSansMono.ttf", FONTS + "/DejaVuSansMono.ttf"),
    ("license.txt", LICENSES + "/GPL-3"),
    ("apache.txt", LICENSES + "/Apache-2.0"),
]
README = "".join("Line %d of the reference payload's readme: %s\r\n" % (i, name)
                 for i in range(200) for name, _ in FILES[:1])


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    finst = os.path.join(sys.argv[1], "finst")
    shutil.rmtree(finst, ignore_errors=True)
    os.makedirs(finst)
    for name, source in FILES:
        if not os.path.isfile(source):
            sys.exit("missing %s (packages wine32, fonts-dejavu-core, base-files)" % source)
        shutil.copyfile(source, os.path.join(finst, name))
    with open(os.path.join(finst, "readme.txt"), "w", newline="") as f:
        f.write(README)
    total = sum(os.path.getsize(os.path.join(finst, n)) for n in os.listdir(finst))
    print("%s: %d files, %d bytes" % (finst, len(os.listdir(finst)), total))


if __name__ == "__main__":
    main()
