#!/usr/bin/env python3
"""Runs the sample setup program from a copy of the sample finst under Wine and checks its report.

    check_sample_setup.py WINE_RUN FINST_DIR WORK_DIR
"""

import glob
import os
import shutil
import subprocess
import sys

ARGUMENTS = ["--probe", "two words"]


def wine_path(path):
    # Wine maps the Unix root to drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def report_in_wine_temp():
    prefix = os.environ.get("WINEPREFIX", "")
    return glob.glob(os.path.join(prefix, "drive_c", "users", "*", "**", "KesmarSetup-report.txt"),
                     recursive=True)


def main():
    wine_run, finst, work = sys.argv[1:]
    run_dir = os.path.join(work, "run")
    shutil.rmtree(work, ignore_errors=True)
    shutil.copytree(finst, run_dir)
    files = sorted(os.listdir(run_dir))
    named_report = os.path.join(work, "named-report.txt")
    for stale in report_in_wine_temp():
        os.remove(stale)

    # (case, value of KESMAR_SAMPLE_REPORT or None, where the report must appear)
    cases = [
        ("report path from the environment", wine_path(named_report), lambda: [named_report]),
        ("report in the temporary folder", None, report_in_wine_temp),
    ]
    failures = []
    for name, report_variable, where in cases:
        env = dict(os.environ)
        env.pop("KESMAR_SAMPLE_REPORT", None)
        if report_variable is not None:
            env["KESMAR_SAMPLE_REPORT"] = report_variable
        result = subprocess.run([wine_run, "KesmarSetup.exe"] + ARGUMENTS, cwd=run_dir, env=env)
        reports = [path for path in where() if os.path.exists(path)]
        text = open(reports[0], "rb").read().decode("latin-1") if len(reports) == 1 else ""
        checks = [
            (result.returncode == 0, "exit code %d" % result.returncode),
            (len(reports) == 1, "report files found: %s" % reports),
            # The launcher removes the program's folder afterwards; a file of ours there would block that.
            (sorted(os.listdir(run_dir)) == files, "folder now holds %s" % sorted(os.listdir(run_dir))),
            ("Current folder: " + wine_path(run_dir) in text, "current folder missing"),
            ('--probe "two words"' in text, "command line missing"),
            (all("\r\n  %s\r\n" % f in text for f in files), "files beside the program missing"),
            ('"fonts" profile section' in text and text.endswith("End of report\r\n"), "report incomplete"),
        ]
        for ok, message in checks:
            if not ok:
                failures.append("%s: %s" % (name, message))
    for failure in failures:
        print(failure)
    if not failures:
        print("sample setup program: %d cases passed" % len(cases))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
