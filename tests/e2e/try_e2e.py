#!/usr/bin/env python3
"""kesmar-pack try end to end: launchers made with kesmar-pack, each run with try under
Wine, and the report and its JSON held against what the launcher's setup program did.

    try_e2e.py KESMAR_PACK SAMPLE_FINST SETUP_PROGRAM WORK CACHE

SETUP_PROGRAM is tests/e2e/try_setup_program.c built for Windows; CACHE keeps
try's template prefix between runs of this test.
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

PACK, SAMPLE_FINST, SETUP_PROGRAM, WORK, CACHE = sys.argv[1:6]
TMP = os.path.join(WORK, "tmp")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_launcher(name, files):
    """A launcher from a folder holding the test setup program and `files` (name -> text)."""
    finst = os.path.join(WORK, name)
    os.makedirs(finst)
    shutil.copy(SETUP_PROGRAM, os.path.join(finst, "KesmarSetup.exe"))
    for file, text in files.items():
        with open(os.path.join(finst, file), "w") as f:
            f.write(text)
    exe = os.path.join(WORK, name + ".exe")
    subprocess.run([PACK, "launcher", finst, "-o", exe], check=True, stdout=subprocess.DEVNULL)
    return exe


def corrupt_launcher():
    """The sample payload with bytes of its LZMA data changed, embedded all the same."""
    payload = os.path.join(WORK, "sample.lzma")
    subprocess.run([PACK, "pack", SAMPLE_FINST, "-o", payload], check=True, stdout=subprocess.DEVNULL)
    data = bytearray(open(payload, "rb").read())
    for at in range(len(data) // 2, len(data) // 2 + 64):
        data[at] ^= 0x5A
    open(payload, "wb").write(data)
    exe = os.path.join(WORK, "corrupt.exe")
    subprocess.run([PACK, "launcher", "--payload", payload, "-o", exe, "--force"], check=True,
                   stdout=subprocess.DEVNULL)
    return exe


def wine_processes():
    """Processes whose environment names this test's folder: Wine left running by try."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if WORK.encode() in f.read():
                    found.append(pid)
        except OSError:
            pass
    return found


def png_size_and_colours(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    width, height = struct.unpack(">II", data[16:24])
    chunks, at = b"", 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            chunks += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(chunks)
    rows = [raw[y * (width * 3 + 1) + 1:(y + 1) * (width * 3 + 1)] for y in range(height)]
    colours = {row[x:x + 3] for row in rows[::8] for x in range(0, width * 3, 24)}
    return width, height, len(colours)


def run_try(name, launcher, *options, env=None):
    report = os.path.join(WORK, name + ".json")
    started = time.monotonic()
    proc = subprocess.run([PACK, "try", launcher, "--json", report, *options], env=env or ENV,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
    elapsed = time.monotonic() - started
    print("--- %s: exit %d after %.1f s\n%s%s" % (name, proc.returncode, elapsed, proc.stdout, proc.stderr))
    facts = json.load(open(report)) if os.path.exists(report) else None
    # Nothing of the run is left: no prefix, no process.
    check(os.listdir(TMP) == [], "%s: left in $TMPDIR: %s" % (name, os.listdir(TMP)))
    check(wine_processes() == [], "%s: processes left running: %s" % (name, wine_processes()))
    return proc, facts, elapsed


def check_same_facts(name, text, facts):
    """The report names what the JSON holds."""
    check(("passed" if facts["passed"] else "failed") in text.splitlines()[-1], name + ": verdicts differ")
    if facts["extractionFolder"]:
        check(facts["extractionFolder"] in text, name + ": extraction folder not in the report")
    for file in facts["extractedFiles"]:
        check("%s (%d bytes)" % (file["name"], file["size"]) in text, name + ": %s not in the report" % file)
    for path in facts["files"]["created"]:
        check("+ " + path in text, name + ": %s not in the report" % path)
    for value in facts["registry"]["valuesAdded"]:
        check("%s: %s = " % (value["key"], value["name"]) in text, name + ": %s not in the report" % value)
    left = facts["leftInTemporaryFolder"]
    check(("left in temp   " + (left[0] if left else "nothing")) in text, name + ": leftovers differ")
    if facts["exitCode"] is not None:
        check("exit code %d after" % facts["exitCode"] in text, name + ": exit code not in the report")


os.makedirs(CACHE, exist_ok=True)
shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(TMP)
ENV = dict(os.environ, TMPDIR=TMP, XDG_CACHE_HOME=CACHE)
sample = os.path.join(WORK, "sample.exe")
subprocess.run([PACK, "launcher", SAMPLE_FINST, "-o", sample], check=True, stdout=subprocess.DEVNULL)
installer = make_launcher("installer", {"install.txt": "install\n"})
wizard = make_launcher("wizard", {"install.txt": "install\n", "wizard.txt": "wait\n"})
corrupt = corrupt_launcher()
sample_report = os.path.join(WORK, "sample-report.txt")

# The sample launcher, its setup program's report sent outside the prefix.
proc, facts, _ = run_try("sample", sample, env=dict(ENV, KESMAR_SAMPLE_REPORT=windows(sample_report)))
check(proc.returncode == 0, "sample: exit %d" % proc.returncode)
check_same_facts("sample", proc.stdout, facts)
seen = open(sample_report, "rb").read().decode("latin-1")
check(facts["extractionFolder"].endswith("\\kesmars0") and
      "Current folder: " + facts["extractionFolder"] + "\r\n" in seen, "sample: not the folder the setup program saw")
finst = {n: os.path.getsize(os.path.join(SAMPLE_FINST, n)) for n in os.listdir(SAMPLE_FINST)}
check({f["name"]: f["size"] for f in facts["extractedFiles"]} == finst, "sample: extracted %s" % facts["extractedFiles"])
check(facts["fonts"] == {"files": ["C:\\windows\\Fonts\\DejaVuSans.ttf"],
                         "profileEntries": ["DejaVuSans (True Type)=DejaVuSans.ttf"], "registryEntries": []},
      "sample: fonts %s" % facts["fonts"])
check(facts["files"] == {"created": ["C:\\windows\\Fonts\\DejaVuSans.ttf"], "changed": ["C:\\windows\\win.ini"],
                         "removed": []}, "sample: files %s" % facts["files"])
check(not any(facts["registry"].values()), "sample: Wine's own registry changes reported: %s" % facts["registry"])
check(facts["setupProgram"]["exitCode"] == 0 and facts["setupProgram"]["image"].endswith("\\kesmars0\\KesmarSetup.exe"),
      "sample: setup program %s" % facts["setupProgram"])

# Left to itself, the sample setup program leaves its report in the temporary folder.
proc, facts, _ = run_try("leftover", sample)
check(proc.returncode == 1 and facts["exitCode"] == 0, "leftover: exit %d" % proc.returncode)
check(facts["leftInTemporaryFolder"] == ["KesmarSetup-report.txt"], "leftover: %s" % facts["leftInTemporaryFolder"])
check_same_facts("leftover", proc.stdout, facts)

# An installer: a file under C:\ProgramData and a registry value; its prefix kept.
kept = os.path.join(WORK, "kept")
proc, facts, _ = run_try("installer", installer, "--keep", kept)
check(proc.returncode == 0, "installer: exit %d" % proc.returncode)
check_same_facts("installer", proc.stdout, facts)
check(facts["files"]["created"] == ["C:\\ProgramData\\KesmarTry\\", "C:\\ProgramData\\KesmarTry\\installed.txt"],
      "installer: files %s" % facts["files"])
check(facts["registry"]["keysAdded"] == ["HKCU\\Software\\KesmarTry"] and facts["registry"]["valuesAdded"] ==
      [{"key": "HKCU\\Software\\KesmarTry", "name": "Installed", "data": '"yes"'}],
      "installer: registry %s" % facts["registry"])
check(os.path.isfile(os.path.join(kept, "drive_c", "ProgramData", "KesmarTry", "installed.txt")),
      "installer: the kept prefix lacks the installed file")
shutil.rmtree(kept, ignore_errors=True)

# A wizard waiting for a person: ended at the limit, its window named, the screen saved.
shot = os.path.join(WORK, "wizard.png")
proc, facts, elapsed = run_try("wizard", wizard, "--timeout", "25", "--screenshot", shot)
check(proc.returncode == 1 and facts["reachedTimeLimit"], "wizard: exit %d" % proc.returncode)
check(elapsed < 25 + 45, "wizard: took %.1f s for a limit of 25 s" % elapsed)
check(facts["setupProgram"] and facts["setupProgram"]["runningAtLimit"], "wizard: %s" % facts["setupProgram"])
check([w["title"] for w in facts["windows"]] == ["Kesmar Try Wizard"], "wizard: windows %s" % facts["windows"])
check('"Kesmar Try Wizard" (KesmarSetup.exe)' in proc.stdout and "still running at the time limit" in proc.stdout,
      "wizard: the report does not name the waiting window")
check("C:\\ProgramData\\KesmarTry\\installed.txt" in facts["files"]["created"] and
      facts["registry"]["valuesAdded"], "wizard: what it did before waiting was not reported")
check(any(p.startswith("kesmars0\\") for p in facts["leftInTemporaryFolder"]), "wizard: the launcher's folder, "
      "left when it was ended, is not reported: %s" % facts["leftInTemporaryFolder"])
check_same_facts("wizard", proc.stdout, facts)
picture = png_size_and_colours(shot) if os.path.exists(shot) else None
check(picture is not None and picture[:2] == (1024, 768) and picture[2] > 2, "wizard: screenshot %s" % (picture,))

# A launcher whose payload does not decode: it exits 1, and so does try.
proc, facts, _ = run_try("corrupt", corrupt)
check(proc.returncode == 1 and facts["exitCode"] == 1 and facts["setupProgram"] is None,
      "corrupt: exit %d, launcher %s" % (proc.returncode, facts["exitCode"]))
check_same_facts("corrupt", proc.stdout, facts)

print("try end to end: %d failed" % len(failures))
sys.exit(1 if failures else 0)
