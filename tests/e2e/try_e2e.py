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
import signal
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
    """The report names what the JSON holds: the verdict and every reason, and the change lines it lists."""
    result = text.splitlines()[-1]
    check(("passed" if facts["passed"] else "failed") in result, name + ": verdicts differ")
    for problem in facts["problems"]:
        check(problem in result, name + ": %r not on the result line" % problem)
    if facts["extractionFolder"]:
        check(facts["extractionFolder"] in text, name + ": extraction folder not in the report")
    for file in facts["extractedFiles"]:
        check("%s (%d bytes)" % (file["name"], file["size"]) in text, name + ": %s not in the report" % file)
    # The report lists the first 12 changes and counts the rest; each line it lists is a fact of the JSON.
    files, registry = facts["files"], facts["registry"]
    facts_lines = (["+ " + p for p in files["created"]] + ["~ " + p for p in files["changed"]] +
                   ["- " + p for p in files["removed"]] + ["+ key " + k for k in registry["keysAdded"]] +
                   ["- key " + k for k in registry["keysRemoved"]] +
                   ["+ %s: %s = " % (v["key"], v["name"]) for v in registry["valuesAdded"]] +
                   ["~ %s: %s = " % (v["key"], v["name"]) for v in registry["valuesChanged"]] +
                   ["- %s: %s" % (v["key"], v["name"]) for v in registry["valuesRemoved"]])
    lines = text.splitlines()
    at = next((i for i, line in enumerate(lines) if line.startswith("  changes ")), None)
    if at is not None and facts["changesKnown"]:
        listed = []
        for line in lines[at + 1:]:
            if not line.startswith(" " * 17):
                break
            listed.append(line.strip())
        more = len(facts_lines) - 12
        if more > 0:
            check(listed[-1:] == ["... and %d more (--json lists them all)" % more], name + ": the cut is not counted")
            listed = listed[:-1]
        check(len(listed) == min(len(facts_lines), 12), name + ": %d change lines for %d facts" %
              (len(listed), len(facts_lines)))
        for line in listed:
            check(any(line.startswith(fact) for fact in facts_lines), name + ": %r is no fact of the JSON" % line)
    left = facts["leftInTemporaryFolder"]
    check(("left in temp   " + (left[0] if left else "nothing")) in text, name + ": leftovers differ")
    if facts["exitCode"] is not None:
        check("exit code %d" % facts["exitCode"] in text, name + ": exit code not in the report")


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

# The sample launcher, its setup program's report sent outside the prefix: only without the sandbox,
# which keeps both the variable and the host's folders from the run.
proc, facts, _ = run_try("sample", sample, "--no-sandbox", env=dict(ENV, KESMAR_SAMPLE_REPORT=windows(sample_report)))
check(facts["isolated"] is False and "the run was not isolated" in proc.stdout, "sample: isolation %s" % facts["isolated"])
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

# Setup programs that misbehave, each run through try: the verdict, its first reason and the time it took.
# The launcher itself exits 0 whatever its setup program does; try's verdict is about the installation.
forged_image = "C:\\Program Files\\Trusted Vendor\\trusted.exe"
misbehaving = [
    # name, files beside the setup program, try's options, the reason, the most seconds the run may take
    ("returns-3", {"exit.txt": "3\n"}, [], "its setup program's exit code was 3", 60),
    ("crashes", {"crash.txt": "x\n"}, [], "KesmarSetup.exe crashed: 0xC000001D illegal instruction", 60),
    ("forges", {"forge.txt": "x\n"}, [], "its setup program's exit code was 5", 60),
    ("reads-stdin", {"stdin.txt": "x\n"}, ["--timeout", "20"], "the time limit was reached", 20 + 25),
]
for name, files, options, reason, most in misbehaving:
    proc, facts, elapsed = run_try(name, make_launcher(name, files), *options)
    check(proc.returncode == 1 and facts["passed"] is False, "%s: exit %d" % (name, proc.returncode))
    check(facts["problems"][:1] == [reason], "%s: problems %s" % (name, facts["problems"]))
    check(facts["exitCode"] == (None if "time limit" in reason else 0), "%s: the launcher's exit code %s" %
          (name, facts["exitCode"]))
    check(elapsed < most, "%s: took %.1f s" % (name, elapsed))
    check(all(p["image"] != forged_image for p in facts["processes"]) and forged_image not in proc.stdout,
          "%s: a forged image was taken" % name)
    check("\x1b" not in proc.stdout + proc.stderr, "%s: raw escape in the output" % name)
    check_same_facts(name, proc.stdout, facts)
# The forger's copy, which wrote once it had ended, is a process of the run like any other, and exited 0.
facts = json.load(open(os.path.join(WORK, "forges.json")))
copies = [p for p in facts["processes"] if p["image"] and p["image"].endswith("KesmarSetup.exe")]
check(len(copies) == 2 and sorted(p["exitCode"] for p in copies) == [0, 5], "forges: processes %s" % copies)

# A Windows program that is no launcher: refused as verify would, nothing run; --any runs it and fails it.
proc = subprocess.run([PACK, "try", SETUP_PROGRAM, "--json", os.path.join(WORK, "bare.json")], env=ENV,
                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
record = json.load(open(os.path.join(WORK, "bare.json")))
check(proc.returncode == 1 and "no launcher payload" in proc.stderr and record["problems"] == [proc.stderr[len("kesmar-pack try: "):-1]],
      "bare: exit %d, %s, %s" % (proc.returncode, proc.stderr, record["problems"]))
proc, facts, _ = run_try("bare-any", SETUP_PROGRAM, "--any")
check(proc.returncode == 1 and facts["isLauncher"] is False and facts["exitCode"] == 0 and
      facts["problems"] == ["it is no launcher: it carries no launcher payload (run with --any)"],
      "bare-any: exit %d, %s" % (proc.returncode, facts["problems"]))

# A setup program that means harm, in try's sandbox: Wine's own ways out to the host (drive Z: and
# \\?\unix) reach nothing. The other hostile rows (a secret read, the template changed, a Linux
# program left running, a connection to 127.0.0.1) run through a stand-in wine in try_sandbox_test.cpp.
escaped = os.path.join(WORK, "escaped.txt")
unix = "\\\\?\\unix" + escaped.replace("/", "\\")
proc, facts, _ = run_try("escapes", make_launcher("escapes", {"escape.txt": "%s\n%s\n" % (windows(escaped), unix)}))
check(facts is not None and facts["isolated"] is True and facts["setupProgram"] and
      facts["setupProgram"]["exitCode"] == 0, "escapes: did not run in the sandbox: %s" % facts)
check(not os.path.exists(escaped), "escapes: a file written through Z: or \\\\?\\unix")
# Without the sandbox the same setup program does harm: the row above can fail.
proc, facts, _ = run_try("escapes-unconfined", os.path.join(WORK, "escapes.exe"), "--no-sandbox")
check(os.path.exists(escaped), "escapes-unconfined: the unconfined run wrote no file through Z:")

# try killed with SIGKILL mid-run: nothing of the run keeps running, and the next run takes its prefix away.
waiting = os.path.join(WORK, "wizard.exe")
killed = subprocess.Popen([PACK, "try", waiting, "--timeout", "120"], env=ENV, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
deadline = time.monotonic() + 120
while time.monotonic() < deadline and not any(
        b"KesmarSetup.exe" in open("/proc/%s/cmdline" % pid, "rb").read()
        for pid in wine_processes() if os.path.exists("/proc/%s/cmdline" % pid)):
    time.sleep(0.2)
check(wine_processes() != [], "killed: the run never started")
killed.send_signal(signal.SIGKILL)
killed.wait()
deadline = time.monotonic() + 10
while time.monotonic() < deadline and wine_processes():
    time.sleep(0.1)
check(wine_processes() == [], "killed: processes outlived try: %s" % wine_processes())
check(os.listdir(TMP) != [], "killed: the dead try's prefix is not there to be taken away")
run_try("after-killed", sample)

print("try end to end: %d failed" % len(failures))
sys.exit(1 if failures else 0)
