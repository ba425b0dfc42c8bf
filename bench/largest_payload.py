#!/usr/bin/env python3
"""The largest record stream that the 32-bit launcher extracts under Wine, for make bench.

Usage: largest_payload.py <project root> [--from-mib 64] [--to-mib 2048] [--step-mib 0] [--padded [PERCENT]]
       largest_payload.py <project root> --random-mib N

Doubles the stream from 64 MiB up to 2 GiB: each payload holds the sample
setup program and one file of zero bytes, which compresses to almost
nothing, so that packing stays quick. With --step-mib S it then halves the
gap between the largest size that passed and the first that did not until
the gap is at most S MiB. Each launcher runs in the Wine prefix
build/wineprefix-bench; a size passes when the launcher exits 0, the setup
program reported its run and nothing is left in the temporary folder. Above
the largest size that passes, the launcher must exit 1 and leave nothing:
anything else (a crash, a time-out, files left behind) is printed as a fault.
Prints one line per size and, last, "largest_stream_mib=N" (0 when none
passed) and "above_largest=..." for the smallest size that did not.

Zeros make the container tiny, but the exe that Windows maps holds the whole
container beside the block the stream is decoded into. --padded pads each
container behind its LZMA data, which the decoder never reaches, to the size
of its stream, so that the image is as large as with data that does not
compress and packing stays quick; --padded 25 pads it to a quarter of that.
--random-mib N tries one size with N MiB of random bytes in place of the
zeros, for the real thing: that container is written by Python's LZMA
encoder at its fastest preset (with an end marker, which the launcher
ignores), slowly (about 1 MiB/s on a busy 2-core machine).

Launchers are written with kesmar-pack launcher --force: it refuses payloads
above the size it knows the launcher to hold, which is what is measured here.
"""

import argparse
import lzma
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024
NAME_FIELD = 255  # a record: data size (4 bytes, little-endian), name field, data


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


def prefix_temp(prefix):
    users = os.path.join(prefix, "drive_c", "users")
    for user in sorted(os.listdir(users)):
        if user != "Public" and os.path.isdir(os.path.join(users, user, "Temp")):
            return os.path.join(users, user, "Temp")
    raise RuntimeError("no temporary folder in " + prefix)


def record_header(name, size):
    return struct.pack("<I", size) + name.encode("ascii").ljust(NAME_FIELD, b"\0")


def random_container(setup, size, path):
    """A container whose stream is the setup program and `size` random bytes."""
    with open(setup, "rb") as f:
        program = f.read()
    stream_size = 2 * (4 + NAME_FIELD) + len(program) + size
    dictionary = 1 << 20
    props = bytes([(2 * 5 + 0) * 9 + 3]) + struct.pack("<I", dictionary)  # lc 3, lp 0, pb 2
    encoder = lzma.LZMACompressor(format=lzma.FORMAT_RAW, filters=[
        {"id": lzma.FILTER_LZMA1, "preset": 0, "lc": 3, "lp": 0, "pb": 2, "dict_size": dictionary}])
    with open(path, "wb") as out:
        out.write(struct.pack("<I", stream_size) + props)
        out.write(encoder.compress(record_header("KesmarSetup.exe", len(program)) + program))
        out.write(encoder.compress(record_header("random.bin", size)))
        left = size
        while left > 0:
            chunk = min(left, 8 * MIB)
            out.write(encoder.compress(os.urandom(chunk)))
            left -= chunk
        out.write(encoder.flush())


def zeros_container(pack, setup, work, size, path):
    finst = os.path.join(work, "finst")
    shutil.rmtree(finst, ignore_errors=True)
    os.makedirs(finst)
    shutil.copy(setup, os.path.join(finst, "KesmarSetup.exe"))
    with open(os.path.join(finst, "zeros.bin"), "wb") as f:
        f.truncate(size)
    packed = run([pack, "pack", finst, "-o", path])
    shutil.rmtree(finst)
    return packed.returncode == 0


class Trial:
    def __init__(self, root, work):
        self.root, self.work = root, work
        self.pack = os.path.join(root, "build", "host", "kesmar-pack")
        self.stub = os.path.join(root, "build", "win32", "KesmarSetupWin-stub.exe")
        self.setup = os.path.join(root, "build", "win32", "samples", "KesmarSetup.exe")
        self.wine_run = os.path.join(root, "scripts", "wine-run")
        for needed in (self.pack, self.stub, self.setup):
            if not os.path.isfile(needed):
                sys.exit("largest_payload: %s is missing (make all)" % needed)
        prefix = os.path.join(root, "build", "wineprefix-bench")
        self.env = dict(os.environ, WINEPREFIX=prefix, WINE_RUN_TIME_LIMIT="600")
        run([self.wine_run, "cmd", "/c", "exit", "0"], env=self.env)  # creates the prefix
        self.temp = prefix_temp(prefix)

    def __call__(self, mib, random_data=False, padded=0):
        """Runs one launcher; True when it passed, None when it could not be made."""
        payload = os.path.join(self.work, "datakes.lzma")
        exe = os.path.join(self.work, "Setup-%d.exe" % mib)
        if random_data:
            random_container(self.setup, mib * MIB, payload)
            made = True
        else:
            made = zeros_container(self.pack, self.setup, self.work, mib * MIB, payload)
            if made and padded:
                with open(payload, "r+b") as f:
                    f.truncate(max(os.path.getsize(payload), mib * MIB * padded // 100))
        made = made and run([self.pack, "launcher", "--payload", payload, "--force", "--stub", self.stub,
                             "-o", exe]).returncode == 0
        if os.path.exists(payload):
            os.remove(payload)
        if not made:
            print("%5d MiB: could not pack or make the launcher" % mib)
            return None
        image_mib = os.path.getsize(exe) / MIB
        report = os.path.join(self.work, "report.txt")
        if os.path.exists(report):
            os.remove(report)
        run_env = dict(self.env, KESMAR_SAMPLE_REPORT="Z:" + report.replace("/", "\\"))
        started = time.monotonic()
        result = run([self.wine_run, exe], cwd=self.work, env=run_env)
        took = time.monotonic() - started
        left = [n for n in os.listdir(self.temp) if n.startswith("kesmars")]
        for name in left:
            shutil.rmtree(os.path.join(self.temp, name), ignore_errors=True)
        os.remove(exe)
        ran = os.path.exists(report)
        passed = result.returncode == 0 and ran and not left
        if passed:
            verdict = "extracted, setup program ran, nothing left"
        elif result.returncode == 1 and not ran and not left:
            verdict = "refused: exit 1, nothing left"
        else:
            verdict = "FAULT: exit %d, setup program %s, %d folder(s) left" % (
                result.returncode, "ran" if ran else "did not run", len(left))
        print("%5d MiB%s: %s (exe %.0f MiB, %.1f s)" % (
            mib, " random" if random_data else " padded %d%%" % padded if padded else "", verdict, image_mib,
            took),
            flush=True)
        self.last_verdict = verdict
        return passed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--from-mib", type=int, default=64)
    parser.add_argument("--to-mib", type=int, default=2048)
    parser.add_argument("--step-mib", type=int, default=0, help="bisect down to this gap (0: double only)")
    parser.add_argument("--random-mib", type=int, default=0, help="try this one size of random data")
    parser.add_argument("--padded", type=int, nargs="?", const=100, default=0,
                        help="containers padded to this share of their stream's size (percent)")
    args = parser.parse_args()
    root = os.path.abspath(args.root)

    work = tempfile.mkdtemp(prefix="kesmar-largest-")
    try:
        trial = Trial(root, work)
        if args.random_mib:
            passed = trial(args.random_mib, random_data=True)
            print("random_stream_mib=%d %s" % (args.random_mib, "passed" if passed else "failed"))
            return
        largest, above = 0, None
        size = args.from_mib
        while size <= args.to_mib:
            passed = trial(size, padded=args.padded)
            if passed is None:
                break
            if not passed:
                above = (size, trial.last_verdict)
                break
            largest = size
            size *= 2
        # Halve the gap between the largest pass and the first failure.
        while above is not None and largest and args.step_mib and above[0] - largest > args.step_mib:
            middle = (largest + above[0]) // 2
            passed = trial(middle, padded=args.padded)
            if passed is None:
                break
            if passed:
                largest = middle
            else:
                above = (middle, trial.last_verdict)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("largest_stream_mib=%d" % largest)
    print("above_largest=%s" % ("%d MiB %s" % above if above else "none tried (the largest size passed)"))


if __name__ == "__main__":
    main()
