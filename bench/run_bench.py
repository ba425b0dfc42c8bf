#!/usr/bin/env python3
"""make bench: the builder and the extraction path measured beside xz and 7-Zip on the reference payload.

Usage: run_bench.py <build/host folder> [repeats]

When build/win32/kesmar-bench-extract.exe exists (make win32), the 32-bit
extraction is also timed under Wine, through scripts/wine-run; with the
sample launcher built too, the table gives its stub and payload sizes and
the largest record stream the 32-bit launcher extracts under Wine
(bench/largest_payload.py; skipped with KESMAR_BENCH_LARGEST=0).

The builder is timed twice: as it runs (its match finder on a second thread
where the process may use two processors) and with KESMAR_PACK_THREADS=1,
which keeps it to one thread; the two containers must be the same bytes.

Every figure is the best of `repeats` runs (default 3). Times are wall-clock
seconds; our extraction is timed inside kesmar-bench-extract (decode, check,
every file written), the peers as whole processes. Nothing here is a test:
no figure ever fails the run.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LZMA_OPTIONS = "lc=3,lp=0,pb=2,dict=16MiB,nice=32,mf=bt4"
SEVEN_ZIP_METHOD = "-m0=LZMA:d=16m:lc=3:lp=0:pb=2:fb=32:mf=bt4"
MIB = 1024 * 1024


def best_time(command, repeats, cwd=None, stdout=subprocess.DEVNULL, env=None):
    best = None
    for _ in range(repeats):
        start = time.perf_counter()
        subprocess.run(command, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, check=True,
                       env=env)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best


def peak_resident(command, cwd=None, env=None):
    """The peak resident size (VmHWM) of one run of `command`, in bytes."""
    child = subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("bench: %s failed" % command[0])
    return usage.ru_maxrss * 1024


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    host = os.path.abspath(sys.argv[1])
    repeats = int(sys.argv[2]) if len(sys.argv) == 3 else 3
    for tool in ("xz", "7zz"):
        if shutil.which(tool) is None:
            sys.exit("bench: %s is missing (make deps)" % tool)
    load_before = os.getloadavg()[0]
    work = tempfile.mkdtemp(prefix="kesmar-bench-")
    try:
        subprocess.run([sys.executable, os.path.join(HERE, "make_payload.py"), work], check=True,
                       stdout=subprocess.DEVNULL)
        finst = os.path.join(work, "finst")
        files = sorted(os.listdir(finst))
        payload_bytes = sum(os.path.getsize(os.path.join(finst, n)) for n in files)

        # The builder, from the folder to datakes.lzma: as it runs, with its
        # match finder on a second thread where there are two processors, and
        # with KESMAR_PACK_THREADS=1, which keeps it to one. The two must
        # write the same bytes.
        ours = os.path.join(work, "datakes.lzma")
        one_thread = dict(os.environ, KESMAR_PACK_THREADS="1")
        builder_one_time = best_time([os.path.join(host, "kesmar-pack")], repeats, cwd=work,
                                     env=one_thread)
        with open(ours, "rb") as f:
            container_one = f.read()
        builder_time = best_time([os.path.join(host, "kesmar-pack")], repeats, cwd=work)
        with open(ours, "rb") as f:
            container = f.read()
        if container != container_one:
            sys.exit("bench: the builder wrote other bytes with one thread than with two")
        builder_peak = peak_resident([os.path.join(host, "kesmar-pack")], cwd=work)
        builder_one_peak = peak_resident([os.path.join(host, "kesmar-pack")], cwd=work,
                                         env=one_thread)
        stream_size = struct.unpack_from("<I", container, 0)[0]

        # The same LZMA data as a .lzma file (properties, 64-bit size, data),
        # which both peers decode; decoding it gives the record stream.
        alone = os.path.join(work, "payload.lzma")
        with open(alone, "wb") as f:
            f.write(container[4:9] + struct.pack("<Q", stream_size) + container[9:])
        stream = os.path.join(work, "stream.bin")
        with open(stream, "wb") as out:
            subprocess.run(["xz", "-d", "-c", "--format=lzma", alone], stdout=out, check=True)
        if os.path.getsize(stream) != stream_size:
            sys.exit("bench: the container does not decode to its declared size")

        # The peers' encoders over the record stream, at equal settings.
        xz_out = os.path.join(work, "stream.xz.lzma")
        xz_time = None
        for _ in range(repeats):
            with open(xz_out, "wb") as out:
                took = best_time(["xz", "--format=lzma", "--lzma1=" + LZMA_OPTIONS, "-T1", "-c",
                                  stream], 1, stdout=out)
            xz_time = took if xz_time is None else min(xz_time, took)
        xz_size = os.path.getsize(xz_out)
        seven_out = os.path.join(work, "stream.7z")

        def seven_zip_build():
            if os.path.exists(seven_out):
                os.remove(seven_out)
            subprocess.run(["7zz", "a", "-bd", "-t7z", SEVEN_ZIP_METHOD, "-mmt=1", "-mhc=off",
                            seven_out, stream], stdout=subprocess.DEVNULL, check=True)
        seven_time = None
        for _ in range(repeats):
            start = time.perf_counter()
            seven_zip_build()
            took = time.perf_counter() - start
            seven_time = took if seven_time is None else min(seven_time, took)
        seven_size = os.path.getsize(seven_out)

        # Extraction: ours writes every file; the peers only decode to /dev/null.
        temp = os.path.join(work, "temp")
        os.makedirs(temp)
        env = dict(os.environ, TMPDIR=temp)
        result = subprocess.run([os.path.join(host, "kesmar-bench-extract"), ours, str(repeats)],
                                env=env, stdout=subprocess.PIPE, check=True, text=True)
        figures = dict(item.split("=") for item in result.stdout.split())
        extract_time = float(figures["extract_seconds"])
        peak_bytes = int(figures["peak_rss_kib"]) * 1024
        seven_decode = best_time(["7zz", "e", "-so", alone], repeats)
        xz_decode = best_time(["xz", "-d", "-c", "--format=lzma", alone], repeats)

        wine_exe = os.path.join(os.path.dirname(host), "win32", "kesmar-bench-extract.exe")
        wine_time = None
        if os.path.isfile(wine_exe):
            result = subprocess.run([os.path.join(HERE, "..", "scripts", "wine-run"), wine_exe,
                                     "datakes.lzma", str(repeats)], cwd=work,
                                    stdout=subprocess.PIPE, check=True, text=True)
            wine_figures = dict(item.split("=") for item in result.stdout.split())
            wine_time = float(wine_figures["extract_seconds"])

        launcher = os.path.join(os.path.dirname(host), "win32", "KesmarSetupWin.exe")
        launcher_row = "not built (make win32)"
        if os.path.isfile(launcher):
            listing = subprocess.run([os.path.join(host, "kesmar-pack"), "list", launcher],
                                     stdout=subprocess.PIPE, check=True, text=True).stdout
            payload_size = int(listing.split("resource RAW 130, ")[1].split()[0])
            # The stub file's own size, as kesmar-pack launcher gives it.
            stub_size = os.path.getsize(os.path.join(os.path.dirname(launcher), "KesmarSetupWin-stub.exe"))
            launcher_row = "stub %d bytes (%.1f KiB) + payload %d bytes (%d bytes in all)" % (
                stub_size, stub_size / 1024, payload_size, os.path.getsize(launcher))
        largest_rows = []
        if os.path.isfile(launcher) and os.environ.get("KESMAR_BENCH_LARGEST", "1") != "0":
            probe = subprocess.run([sys.executable, os.path.join(HERE, "largest_payload.py"),
                                    os.path.join(HERE, "..")],
                                   stdout=subprocess.PIPE, check=True, text=True).stdout
            found = dict(line.split("=", 1) for line in probe.splitlines() if "=" in line)
            largest_rows = [
                ("largest stream, 32-bit under Wine", "%s MiB (doubling from 64 MiB)"
                 % found.get("largest_stream_mib", "?")),
                ("  the next size", found.get("above_largest", "?")),
            ]

        floor = stream_size + len(container)
        rows = [
            ("payload", "%d files, %.2f MiB (record stream %.2f MiB)"
             % (len(files), payload_bytes / MIB, stream_size / MIB)),
            ("builder (kesmar-pack)", "%.3f s, %d bytes, %d processors"
             % (builder_time, len(container), len(os.sched_getaffinity(0)))),
            ("builder, KESMAR_PACK_THREADS=1", "%.3f s, the same bytes" % builder_one_time),
            ("builder peak resident", "%.2f MiB; with one thread %.2f MiB"
             % (builder_peak / MIB, builder_one_peak / MIB)),
            ("xz --format=lzma", "%.3f s, %d bytes" % (xz_time, xz_size)),
            ("7zz a, one thread", "%.3f s, %d bytes (.7z)" % (seven_time, seven_size)),
            ("extraction (ours, files written)", "%.3f s" % extract_time),
            ("extraction, 32-bit exe under Wine",
             "%.3f s, %.2f x the host's" % (wine_time, wine_time / extract_time)
             if wine_time is not None else "not built (make win32)"),
            ("7zz e, decode to /dev/null", "%.3f s" % seven_decode),
            ("xz -d, decode to /dev/null", "%.3f s" % xz_decode),
            ("extraction peak resident", "%.2f MiB (floor S + container %.2f MiB)"
             % (peak_bytes / MIB, floor / MIB)),
            ("sample launcher exe", launcher_row),
            ("machine load, 1-minute average", "%.2f before, %.2f after (other programs' share "
             "of the processors)" % (load_before, os.getloadavg()[0])),
        ] + largest_rows
        width = max(len(name) for name, _ in rows)
        print("Best of %d runs each (wall clock)." % repeats)
        for name, value in rows:
            print("  %-*s  %s" % (width, name, value))
        print("  container vs xz: %+d bytes" % (len(container) - xz_size))
        print("ratios: extract_vs_7zz=%.2f builder_vs_xz=%.2f builder_vs_7zz=%.2f "
              "builder_one_over_two=%.2f peak_over_floor_mib=%.2f"
              % (extract_time / seven_decode, builder_time / xz_time, builder_time / seven_time,
                 builder_one_time / builder_time, (peak_bytes - floor) / MIB))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
