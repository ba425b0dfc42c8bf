"""Checks a launcher exe's imports: system DLLs only, and the DLL-search call found at run time.

Usage: check_launcher_imports.py <launcher.exe>

Load-time imports are resolved before the launcher's first line runs, so they
must all be DLLs Windows maps from the system folder whatever the search
order (KnownDLLs on Vista and 7). SetDefaultDllDirectories must not be among
them: an exe that imports it does not start on Vista or 7 without the update
that adds it; the launcher looks it up with GetProcAddress instead.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_resources import PeFile  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
               "advapi32.dll", "msvcrt.dll"}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    imports = PeFile(data).imports()
    failures = []
    for dll in sorted(imports):
        if dll.lower() not in SYSTEM_DLLS:
            failures.append("imports %s, which is not a known system DLL" % dll)
    imported = {name for names in imports.values() for name in names}
    if "SetDefaultDllDirectories" in imported:
        failures.append("imports SetDefaultDllDirectories: would not start on Vista or plain 7")
    for needed in ("GetProcAddress", "GetModuleHandleW"):
        if needed not in imported:
            failures.append("does not import %s, needed to find SetDefaultDllDirectories" % needed)
    if b"SetDefaultDllDirectories\0" not in data:
        failures.append("no SetDefaultDllDirectories name to look up")
    name = os.path.basename(sys.argv[1])
    for failure in failures:
        print("%s: %s" % (name, failure))
    if not failures:
        print("%s: imports %s" % (name, ", ".join(sorted(imports))))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
