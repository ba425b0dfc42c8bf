#!/usr/bin/env python3
"""Runs the sample launcher under Wine and tells, step by step, what it did."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX = os.environ.get("WINEPREFIX", os.path.join(ROOT, "build", "wineprefix"))
LAUNCHER = os.path.join(ROOT, "build", "win32", "KesmarSetupWin.exe")
PAYLOAD = os.path.join(ROOT, "build", "win32", "sample", "datakes.lzma")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


def temp_folder():
    users = os.path.join(PREFIX, "drive_c", "users")
    for user in sorted(os.listdir(users)):
        for temp in (os.path.join(users, user, "Temp"), os.path.join(users, user, "AppData", "Local", "Temp")):
            if user != "Public" and os.path.isdir(temp):
                return temp
    return None


def fonts_entries():
    path = os.path.join(PREFIX, "drive_c", "windows", "win.ini")
    entries, section = [], None
    if os.path.exists(path):
        for line in open(path, encoding="latin-1").read().splitlines():
            line = line.strip()
            if line.startswith("["):
                section = line.strip("[]").lower()
            elif section == "fonts" and "=" in line:
                entries.append(line)
    return entries


def main():
    for path in (LAUNCHER, PAYLOAD):
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
    env = dict(os.environ, KESMAR_SAMPLE_REPORT="Z:" + report.replace("/", "\\"))
    # A first Wine start may create the prefix; do that before the clock starts.
    subprocess.run([WINE_RUN, "cmd", "/c", "exit"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    temp = temp_folder()
    before = set(os.listdir(temp)) if temp else set()

    print("\nRunning the launcher under Wine (no window, no messages: the exit code is its report)...")
    started = time.monotonic()
    code = subprocess.run([WINE_RUN, LAUNCHER], cwd=work, env=env).returncode
    elapsed = time.monotonic() - started

    lines = open(report, encoding="latin-1").read().splitlines() if os.path.exists(report) else []
    def field(prefix):
        return next((l[len(prefix):] for l in lines if l.startswith(prefix)), "?")
    def section(heading):
        out, inside = [], False
        for l in lines:
            if l.startswith(heading):
                inside = True
            elif inside and l.startswith("  "):
                out.append(l.strip())
            elif inside:
                break
        return out

    print("\n1. Extraction")
    print(f"   folder:        {field('Current folder: ')}")
    print(f"   files written: {', '.join(sorted(os.listdir(finst)))}")
    print("\n2. Fonts")
    fonts_dir = os.path.join(PREFIX, "drive_c", "windows", "Fonts")
    for name in sorted(n for n in os.listdir(finst) if n.lower().endswith(".ttf")):
        present = os.path.exists(os.path.join(fonts_dir, name))
        where = "in C:\\windows\\Fonts" if present else "NOT in the Fonts folder"
        print(f"   {name}: {where}")
    ours = {n.lower() for n in os.listdir(finst)}
    for entry in fonts_entries():
        if entry.split("=", 1)[1].lower() in ours:
            print(f"   win.ini [fonts]: {entry}")
    print("\n3. The setup program saw")
    if lines:
        print(f"   current folder: {field('Current folder: ')}")
        print(f"   command line:   {field('Command line: ')}  (no arguments)")
        print(f"   files beside it: {', '.join(section('Files beside the program'))}  (the font copy is gone)")
    else:
        print("   nothing: it did not run")
    print("\n4. Cleanup")
    after = set(os.listdir(temp)) if temp else set()
    left = sorted(n for n in after - before if n.startswith("kesmars"))
    print("   everything extracted was removed" if not left else f"   left behind: {', '.join(left)}")
    print(f"\nExit code {code} after {elapsed:.1f} s")
    shutil.rmtree(work, ignore_errors=True)
    return 0 if code == 0 and lines and not left else 1


if __name__ == "__main__":
    sys.exit(main())
