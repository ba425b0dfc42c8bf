#!/usr/bin/env python3
"""The largest record stream that the 32-bit launcher extracts under Wine, for make bench.

Usage: largest_payload.py <project root> [--from-mib 64] [--to-mib 2048]

Doubles the stream from 64 MiB up to 2 GiB: each payload holds the sample
setup program and one file of zero bytes, which compresses to almost
nothing, so that packing stays quick. Each launcher runs in the Wine prefix
build/wineprefix-bench; a size passes when the launcher exits 0, the setup
program reported its run and nothing is left in the temporary folder. Above
the largest size that passes, the launcher must exit 1 and leave nothing:
anything else (a crash, a time-out, files left behind) is printed as a fault.
Prints one line per size and, last, "largest_stream_mib=N" (0 when none
passed) and "above_largest=..." for the size after it.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


def prefix_temp(prefix):
    users = os.path.join(prefix, "drive_c", "users")
    for user in sorted(os.listdir(users)):
        if user != "Public" and os.path.isdir(os.path.join(users, user, "Temp")):
            return os.path.join(users, user, "Temp")
    raise RuntimeError("no temporary folder in " + prefix)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--from-mib", type=int, default=64)
    parser.add_argument("--to-mib", type=int, default=2048)
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    pack = os.path.join(root, "build", "host", "kesmar-pack")
    setup = os.path.join(root, "build", "win32", "samples", "KesmarSetup.exe")
    wine_run = os.path.join(root, "scripts", "wine-run")
    for needed in (pack, setup):
        if not os.path.isfile(needed):
            sys.exit("largest_payload: %s is missing (make all)" % needed)
    prefix = os.path.join(root, "build", "wineprefix-bench")
    env = dict(os.environ, WINEPREFIX=prefix, WINE_RUN_TIME_LIMIT="600")

    work = tempfile.mkdtemp(prefix="kesmar-largest-")
    largest, above = 0, None
    try:
        run([wine_run, "cmd", "/c", "exit", "0"], env=env)  # creates the prefix
        temp = prefix_temp(prefix)
        size = args.from_mib
        while size <= args.to_mib:
            finst = os.path.join(work, "finst")
            shutil.rmtree(finst, ignore_errors=True)
            os.makedirs(finst)
            shutil.copy(setup, os.path.join(finst, "KesmarSetup.exe"))
            with open(os.path.join(finst, "zeros.bin"), "wb") as f:
                f.truncate(size * MIB)
            payload = os.path.join(work, "datakes.lzma")
            exe = os.path.join(work, "Setup-%d.exe" % size)
            packed = run([pack, "pack", finst, "-o", payload])
            made = packed.returncode == 0 and run(
                ["bash", os.path.join(root, "scripts", "make-launcher")], cwd=root,
                env=dict(os.environ, PAYLOAD=payload, OUT=exe)).returncode == 0
            shutil.rmtree(finst)
            if not made:
                print("%5d MiB: could not pack or make the launcher" % size)
                break
            report = os.path.join(work, "report.txt")
            if os.path.exists(report):
                os.remove(report)
            run_env = dict(env, KESMAR_SAMPLE_REPORT="Z:" + report.replace("/", "\\"))
            started = time.monotonic()
            result = run([wine_run, exe], cwd=work, env=run_env)
            took = time.monotonic() - started
            left = [n for n in os.listdir(temp) if n.startswith("kesmars")]
            for name in left:
                shutil.rmtree(os.path.join(temp, name), ignore_errors=True)
            os.remove(exe)
            ran = os.path.exists(report)
            if result.returncode == 0 and ran and not left:
                verdict = "extracted, setup program ran, nothing left"
                largest = size
            elif result.returncode == 1 and not ran and not left:
                verdict = "refused: exit 1, nothing left"
            else:
                verdict = "FAULT: exit %d, setup program %s, %d folder(s) left" % (
                    result.returncode, "ran" if ran else "did not run", len(left))
            print("%5d MiB: %s (%.1f s)" % (size, verdict, took), flush=True)
            if largest != size:
                above = "%d MiB %s" % (size, verdict)
                break
            size *= 2
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("largest_stream_mib=%d" % largest)
    print("above_largest=%s" % (above or "none tried (the largest size passed)"))


if __name__ == "__main__":
    main()
