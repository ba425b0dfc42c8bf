#!/usr/bin/env python3
"""Writes kesmar-pack's portable zip for Windows, the same bytes from the same inputs.

    make_windows_zip.py VERSION EXE STUB SOURCE_DIR OUT.zip

The zip holds one folder, kesmar-pack-VERSION-windows-x64, with kesmar-pack.exe
and the launcher stub beside it (where kesmar-pack.exe looks for it), a README
for Windows users (packaging/README-windows.md), docs/, THIRD-PARTY.md, and the
licence texts (LICENSES.txt, the Debian package's copyright file). Every entry's time is the last commit's
(SOURCE_DATE_EPOCH, when set, wins), in a fixed order, with fixed attributes.
"""

import os
import subprocess
import sys
import time
import zipfile


def source_date(source_dir):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"], capture_output=True,
                             text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return 315532800  # 1980-01-01, the earliest a zip can say


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    version, exe, stub, source_dir, out = sys.argv[1:]
    top = "kesmar-pack-%s-windows-x64/" % version
    entries = [("kesmar-pack.exe", exe), ("KesmarSetupWin-stub.exe", stub),
               ("README.md", os.path.join(source_dir, "packaging", "README-windows.md")),
               ("THIRD-PARTY.md", os.path.join(source_dir, "THIRD-PARTY.md")),
               ("LICENSES.txt", os.path.join(source_dir, "packaging", "copyright"))]
    docs = os.path.join(source_dir, "docs")
    entries += [("docs/" + name, os.path.join(docs, name)) for name in sorted(os.listdir(docs)) if name.endswith(".md")]
    stamp = time.gmtime(max(source_date(source_dir), 315532800))[:6]
    partial = out + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, path in entries:
            info = zipfile.ZipInfo(top + name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS: no Unix modes to differ by umask
            info.external_attr = 0x20  # archive bit
            with open(path, "rb") as f:
                data = f.read()
            if name == "README.md":
                data = data.replace(b"@VERSION@", version.encode())
            archive.writestr(info, data, compresslevel=9)
    os.replace(partial, out)
    print("%s: %d files" % (out, len(entries)))


if __name__ == "__main__":
    main()
