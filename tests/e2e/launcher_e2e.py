#!/usr/bin/env python3
"""End-to-end runs of real launchers under Wine: command lines, extraction,
fonts, the setup program, cleanup and exit codes."""
import argparse
import lzma
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None


def wine_env(**extra):
    env = dict(os.environ)
    env.update(extra)
    return env


# Each run is bounded by wine-run itself, which stops the prefix's wineserver
# on a time-out; a normal run here takes a few seconds.
RUN_LIMIT_SECONDS = 60


def run_wine(*argv, cwd=None, env=None):
    started = time.monotonic()
    env = dict(env or wine_env(), WINE_RUN_TIME_LIMIT=str(RUN_LIMIT_SECONDS))
    proc = subprocess.run([ARGS.wine_run, *argv], cwd=cwd, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=RUN_LIMIT_SECONDS + 60)
    if proc.returncode == 124:
        raise AssertionError(proc.stderr.decode(errors="replace").strip().splitlines()[-1])
    return proc.returncode, time.monotonic() - started


def unix_to_windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_temp():
    users = os.path.join(ARGS.prefix, "drive_c", "users")
    for user in sorted(os.listdir(users)):
        if user == "Public":
            continue
        for temp in (os.path.join(users, user, "Temp"),
                     os.path.join(users, user, "AppData", "Local", "Temp")):
            if os.path.isdir(temp):
                return temp
    raise RuntimeError("no temporary folder in the Wine prefix")


def kesmars_folders():
    return sorted(n for n in os.listdir(prefix_temp()) if n.startswith("kesmars"))


def read_report(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1").split("\r\n")


def report_field(lines, prefix):
    for line in lines:
        if line.startswith(prefix):
            return line[len(prefix):]
    return None


def report_section(lines, heading):
    out, inside = [], False
    for line in lines:
        if line.startswith(heading):
            inside = True
            continue
        if inside:
            if not line.startswith("  "):
                break
            out.append(line.strip())
    return out


def win_ini_fonts():
    path = os.path.join(ARGS.prefix, "drive_c", "windows", "win.ini")
    entries, section = {}, None
    if os.path.exists(path):
        with open(path, "rb") as f:
            for raw in f.read().decode("latin-1").splitlines():
                line = raw.strip()
                if line.startswith("["):
                    section = line.strip("[]").lower()
                elif section == "fonts" and "=" in line:
                    key, value = line.split("=", 1)
                    entries[key] = value
    return entries


def remove_win_ini_fonts(keys):
    path = os.path.join(ARGS.prefix, "drive_c", "windows", "win.ini")
    if not os.path.exists(path):
        return
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines(keepends=True)
    kept, section = [], None
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("["):
            section = stripped.strip("[]").lower()
        elif section == "fonts" and stripped.split("=", 1)[0] in keys:
            continue
        kept.append(line)
    with open(path, "wb") as f:
        f.write("".join(kept).encode("latin-1"))


def user_environment(names):
    """The prefix's HKCU\\Environment values of these names, from user.reg."""
    with open(os.path.join(ARGS.prefix, "user.reg"), encoding="utf-8", errors="replace") as f:
        text = f.read()
    section = text.split("\n[Environment]", 1)[1].split("\n\n", 1)[0]
    values = {}
    for line in section.splitlines():
        for name in names:
            prefix = '"%s"="' % name
            if line.startswith(prefix) and line.endswith('"'):
                values[name] = line[len(prefix):-1].replace("\\\\", "\\")
    return values


def set_user_environment(work, values):
    """Sets REG_SZ values in the prefix's HKCU\\Environment with one regedit run;
    the .reg file is UTF-16, so any name survives."""
    lines = ["Windows Registry Editor Version 5.00", "", "[HKEY_CURRENT_USER\\Environment]"]
    for name, value in values.items():
        lines.append('"%s"="%s"' % (name, value.replace("\\", "\\\\")))
    path = os.path.join(work, "environment.reg")
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
    code, _ = run_wine("regedit", "/S", unix_to_windows(path))
    if code != 0:
        raise AssertionError("regedit exited %d" % code)


# File names beyond ASCII that code page 1252 holds, 0x80 to 0x9F among them.
CP1252_NAMES = ["caf\u00e9.txt", "\u00dcn\u00efc\u00f6d\u00e9 \u20ac.txt",
                "na\u00efve \u2013 \u2018r\u00e9sum\u00e9\u2019.txt"]


def container_with_end_marker(records):
    stream = b""
    for name, data in records:
        field = name.encode("latin-1").ljust(255, b"\0")
        stream += struct.pack("<I", len(data)) + field + data
    filters = [{"id": lzma.FILTER_LZMA1, "dict_size": 1 << 24, "lc": 3, "lp": 0, "pb": 2}]
    body = lzma.compress(stream, format=lzma.FORMAT_RAW, filters=filters)
    return struct.pack("<I", len(stream)) + bytes([0x5D, 0, 0, 0, 1]) + body


class LauncherEndToEnd(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kesmar-e2e-")
        self.report = os.path.join(self.work, "report.txt")
        for name in kesmars_folders():
            shutil.rmtree(os.path.join(prefix_temp(), name), ignore_errors=True)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)
        for name in kesmars_folders():
            path = os.path.join(prefix_temp(), name)
            shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else os.remove(path)

    def run_launcher(self, exe, *args, **env):
        env.setdefault("KESMAR_SAMPLE_REPORT", unix_to_windows(self.report))
        return run_wine(exe, *args, cwd=self.work, env=wine_env(**env))

    def test_sample_payload_runs_setup_and_cleans_up(self):
        code, _ = self.run_launcher(ARGS.launcher)
        self.assertEqual(code, 0)
        lines = read_report(self.report)
        folder = report_field(lines, "Current folder: ")
        self.assertRegex(folder, r"\\kesmars0$")
        self.assertEqual(report_field(lines, "Command line: ").strip('"').endswith("KesmarSetup.exe"), True)
        beside = report_section(lines, "Files beside the program")
        self.assertEqual(sorted(beside), ["KesmarSetup.exe", "README.md"])  # the font is gone
        self.assertEqual(kesmars_folders(), [], "everything extracted was removed")

    def test_three_fonts_installed_and_registered_twice(self):
        # The second run finds the fonts in the Fonts folder already: they are
        # not overwritten, but still registered, and their copies deleted.
        fonts_dir = os.path.join(ARGS.prefix, "drive_c", "windows", "Fonts")
        keys = [name[:-4] + " (True Type)" for name in ARGS.fonts]
        for name in ARGS.fonts:  # left by an earlier run of this test in the prefix
            if os.path.exists(os.path.join(fonts_dir, name)):
                os.remove(os.path.join(fonts_dir, name))
        remove_win_ini_fonts(keys)
        marker = b"kept by the second run"
        for run in ("first run", "second run"):
            if run == "second run":
                # Mark the installed files and drop their entries: the second
                # run must keep the files as they are and register them again.
                for name in ARGS.fonts:
                    with open(os.path.join(fonts_dir, name), "ab") as f:
                        f.write(marker)
                remove_win_ini_fonts(keys)
                os.remove(self.report)
            with self.subTest(run):
                code, _ = self.run_launcher(ARGS.fonts_launcher)
                self.assertEqual(code, 0)
                entries = win_ini_fonts()
                for name, key in zip(ARGS.fonts, keys):
                    with open(os.path.join(fonts_dir, name), "rb") as f:
                        self.assertEqual(f.read().endswith(marker), run == "second run", name)
                    self.assertEqual(entries.get(key), name)
                lines = read_report(self.report)
                seen = report_section(lines, "TrueType entries")
                for name, key in zip(ARGS.fonts, keys):
                    self.assertIn(key + " = " + name, seen)
                beside = report_section(lines, "Files beside the program")
                self.assertFalse([n for n in beside if n.lower().endswith(".ttf")])
                self.assertEqual(kesmars_folders(), [])

    def test_command_lines(self):
        spaced = os.path.join(self.work, "dir with space")
        os.makedirs(spaced)
        exe = os.path.join(spaced, "KesmarSetupWin.exe")
        shutil.copy(ARGS.launcher, exe)
        plain = os.path.join(self.work, "KesmarSetupWin.exe")
        shutil.copy(ARGS.launcher, plain)
        shutil.copytree(ARGS.finst, os.path.join(self.work, "finst"))
        quoted = '"' + unix_to_windows(exe) + '"'
        cases = [
            ("quoted name, blank", quoted + " -c", True, exe),
            ("quoted name, tab", quoted + "\t-c", True, exe),
            ("quoted name, blanks and tabs", quoted + " \t  -c", True, exe),
            ("plain name", unix_to_windows(plain) + " -c", True, plain),
            ("trailing blank", quoted + " -c ", False, exe),
            ("further argument", quoted + " -c x", False, exe),
            ("quoted -c", quoted + ' "-c"', False, exe),
            ("upper-case C", quoted + " -C", False, exe),
            ("glued to the name", quoted + "-c", False, exe),
        ]
        with open(ARGS.sample_payload, "rb") as f:
            host_payload = f.read()
        for what, command_line, builder, app in cases:
            with self.subTest(what):
                output = os.path.join(self.work, "datakes.lzma")
                if os.path.exists(output):
                    os.remove(output)
                if os.path.exists(self.report):
                    os.remove(self.report)
                code, _ = run_wine(ARGS.spawn, unix_to_windows(app), cwd=self.work,
                                   env=wine_env(KESMAR_SPAWN_COMMAND_LINE=command_line,
                                                KESMAR_SAMPLE_REPORT=unix_to_windows(self.report)))
                self.assertEqual(code, 0)
                self.assertEqual(os.path.exists(output), builder)
                self.assertEqual(os.path.exists(self.report), not builder)
                if builder:
                    with open(output, "rb") as f:
                        # The 32-bit builder writes exactly what the host one does.
                        self.assertEqual(f.read(), host_payload)
                else:
                    self.assertNotIn("-c", report_field(read_report(self.report), "Command line: "))

    def test_taken_names_are_passed_over(self):
        temp = prefix_temp()
        os.makedirs(os.path.join(temp, "kesmars0"))
        open(os.path.join(temp, "kesmars1"), "w").close()
        code, _ = self.run_launcher(ARGS.launcher)
        self.assertEqual(code, 0)
        self.assertRegex(report_field(read_report(self.report), "Current folder: "), r"\\kesmars2$")
        self.assertEqual(kesmars_folders(), ["kesmars0", "kesmars1"])

    def test_setup_program_leaving_a_file_keeps_the_folder(self):
        code, elapsed = self.run_launcher(ARGS.launcher, KESMAR_SAMPLE_LEAVE_FILE="left.txt")
        self.assertEqual(code, 0)
        self.assertGreaterEqual(elapsed, 1.9, "19 pauses of 100 ms")
        self.assertEqual(kesmars_folders(), ["kesmars0"])
        self.assertEqual(os.listdir(os.path.join(prefix_temp(), "kesmars0")), ["left.txt"])

    def test_names_reach_the_setup_program_as_code_page_1252(self):
        code, _ = self.run_launcher(ARGS.names_launcher, LANG="C.UTF-8", LC_ALL="")
        self.assertEqual(code, 0)
        beside = report_section(read_report(self.report), "Files beside the program")
        # The report holds the bytes that FindFirstFileA gave; read as latin-1.
        expected = [n.encode("cp1252").decode("latin-1") for n in CP1252_NAMES]
        self.assertEqual(sorted(beside), sorted(expected + ["KesmarSetup.exe"]))
        self.assertEqual(kesmars_folders(), [])

    def test_temporary_folder_outside_the_code_page(self):
        # TEMP and TMP come from the prefix's HKCU\Environment, not from the
        # Unix environment. A name of CJK characters has no form in code page
        # 1252: GetTempPathA gives "C:\temp\???\", and only the short
        # name reaches the folder.
        name = "\u65e5\u672c\u8a9e"
        unix_temp = os.path.join(ARGS.prefix, "drive_c", "temp", name)
        os.makedirs(unix_temp, exist_ok=True)
        original = user_environment(("TEMP", "TMP"))
        set_user_environment(self.work, {"TEMP": "C:\\temp\\" + name, "TMP": "C:\\temp\\" + name})
        try:
            code, _ = self.run_launcher(ARGS.launcher)
        finally:
            set_user_environment(self.work, original)
        self.assertEqual(code, 0)
        folder = report_field(read_report(self.report), "Current folder: ")
        self.assertRegex(folder, r"^C:\\temp\\[^\\?]+\\kesmars0$")
        self.assertEqual(os.listdir(unix_temp), [], "everything extracted was removed")
        self.assertEqual(kesmars_folders(), [], "the usual temporary folder was not used")

    def test_no_setup_program(self):
        code, _ = self.run_launcher(ARGS.nosetup_launcher)
        self.assertEqual(code, 1)
        self.assertEqual(kesmars_folders(), [])
        self.assertFalse(os.path.exists(self.report))

    def test_broken_payloads(self):
        for exe in ARGS.broken_launchers:
            with self.subTest(os.path.basename(exe)):
                code, _ = self.run_launcher(exe)
                self.assertEqual(code, 1)
                self.assertEqual(kesmars_folders(), [], "nothing is left behind")
                self.assertFalse(os.path.exists(os.path.join(prefix_temp(), "evil.txt")))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--spawn", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--sample-payload", required=True)
    parser.add_argument("--finst", required=True)
    parser.add_argument("--fonts-launcher", required=True)
    parser.add_argument("--fonts", nargs="+", required=True)
    parser.add_argument("--nosetup-launcher", required=True)
    parser.add_argument("--names-launcher", required=True)
    parser.add_argument("--broken-launchers", nargs="+", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--make-names-finst":
        finst, setup = sys.argv[2], sys.argv[3]
        shutil.rmtree(finst, ignore_errors=True)
        os.makedirs(finst)
        shutil.copy(setup, os.path.join(finst, "KesmarSetup.exe"))
        for name in CP1252_NAMES:
            with open(os.path.join(finst, name), "w", encoding="utf-8") as f:
                f.write(name + "\n")
        sys.exit(0)
    if len(sys.argv) == 4 and sys.argv[1] == "--make-broken":
        kind, out = sys.argv[2], sys.argv[3]
        if kind == "unsafe-name":
            data = container_with_end_marker([("readme.txt", b"hello"), ("..\\evil.txt", b"x")])
        elif kind == "truncated":
            data = container_with_end_marker([("KesmarSetup.exe", os.urandom(4000))])[:-50]
        elif kind == "no-memory":
            # A record stream of 4 GiB less a byte, whose block no 32-bit
            # process can have: the allocation fails, and must end the run as
            # a refusal (exit 1), not as a crash.
            data = struct.pack("<I", 0xFFFFFFFF) + container_with_end_marker([("KesmarSetup.exe", b"MZ")])[4:]
        else:
            sys.exit("unknown kind " + kind)
        with open(out, "wb") as f:
            f.write(data)
        sys.exit(0)
    main()
