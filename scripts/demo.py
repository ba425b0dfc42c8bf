#!/usr/bin/env python3
"""Runs the sample launcher with kesmar-pack try and shows its report beside what the sample setup program saw."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACK = os.path.join(ROOT, "build", "host", "kesmar-pack")
LAUNCHER = os.path.join(ROOT, "build", "win32", "KesmarSetupWin.exe")
PAYLOAD = os.path.join(ROOT, "build", "win32", "sample", "datakes.lzma")


def sections(lines):
    """The sample setup program's report: heading -> the lines indented under it."""
    found, heading = {}, None
    for line in lines:
        if line.startswith("  ") and heading is not None:
            found[heading].append(line.strip())
        else:
            heading = line
            found[heading] = []
    return found


def main():
    for path in (PACK, LAUNCHER, PAYLOAD):
        if not os.path.exists(path):
            sys.exit(f"demo: {path} is missing; run make first")
    container = open(PAYLOAD, "rb").read()
    stream_size = struct.unpack("<I", container[:4])[0]
    finst = os.path.join(os.path.dirname(PAYLOAD), "finst")

    print("KesmarSetupWin demo")
    print("===================")
    print(f"Launcher:  {os.path.relpath(LAUNCHER, ROOT)} ({os.path.getsize(LAUNCHER):,} bytes)")
    print(f"Payload:   {len(container):,} bytes packed from {stream_size:,} bytes "
          f"({len(container) / max(stream_size, 1):.1%}) holding {', '.join(sorted(os.listdir(finst)))}")

    work = tempfile.mkdtemp(prefix="kesmar-demo-")
    report = os.path.join(work, "report.txt")
    # The setup program writes its report outside the prefix, where it outlives the run. try's
    # sandbox would keep both the variable and this folder from the run, so the demo runs without it.
    env = dict(os.environ, KESMAR_SAMPLE_REPORT="Z:" + report.replace("/", "\\"))
    print("\nkesmar-pack try runs it under Wine in a throwaway prefix and watches from the outside")
    print("(the launcher shows nothing; the first run also makes the template prefix, about half a minute).")
    print("Here with --no-sandbox, so that the sample setup program can send its own report out to")
    print("this machine; on its own, try runs every launcher in a sandbox that stops exactly that:\n")
    code = subprocess.run([PACK, "try", LAUNCHER, "--no-sandbox"], env=env).returncode

    print("\nWhat the setup program saw from the inside (its own report):")
    lines = open(report, "rb").read().decode("latin-1").split("\r\n") if os.path.exists(report) else []
    if not lines:
        print("  nothing: it did not run")
    for heading, entries in sections(lines).items():
        if heading.startswith(("Current folder", "Command line")):
            print("  " + heading)
        elif heading.startswith(("Files beside", "TrueType entries")):
            print(f"  {heading} {', '.join(entries) or 'none'}")
    print(f"\nkesmar-pack try exited {code}: "
          + ("the run passed" if code == 0 else "see its report above"))
    shutil.rmtree(work, ignore_errors=True)
    return 0 if code == 0 and lines else 1


if __name__ == "__main__":
    sys.exit(main())
