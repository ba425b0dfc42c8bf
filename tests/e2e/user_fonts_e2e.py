#!/usr/bin/env python3
"""A launcher run by a standard user who may not write into the Fonts folder:
its fonts are installed for that user, and the setup program sees them.

    user_fonts_e2e.py --make-fonts SOURCE_TTF OUT_FOLDER
        (Debian's python3, which has fontTools) two copies of SOURCE_TTF
        with family names no other font has
    user_fonts_e2e.py WINE_RUN LAUNCHER WORK USER
        (as root) runs LAUNCHER twice as the Unix user USER, in a new Wine
        prefix of that user's under WORK whose Fonts folder is read-only

Exit 77 (skipped) when not run as root, which creating the user needs.
"""
import os
import pwd
import shutil
import subprocess
import sys

FACES = ["Kesmar User One", "Kesmar User Two"]
FILES = ["KesmarUserOne.ttf", "KesmarUserTwo.ttf"]
KEYS = [name[:-4] + " (True Type)" for name in FILES]
RUN_LIMIT_SECONDS = 60


def make_fonts(source, out):
    from fontTools.ttLib import TTFont
    os.makedirs(out, exist_ok=True)
    for face, name in zip(FACES, FILES):
        font = TTFont(source)
        for record in font["name"].names:
            # Family, full name, PostScript name, typographic family.
            if record.nameID in (1, 4, 16):
                record.string = face
            elif record.nameID == 6:
                record.string = face.replace(" ", "")
        font.save(os.path.join(out, name))


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def read_report(path):
    """The report's sections: heading -> lines."""
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").split("\r\n")
    sections, current = {}, None
    for line in lines:
        if line.startswith("  ") and current is not None:
            sections[current].append(line.strip())
        else:
            current = line
            sections[current] = []
    return sections


def section(sections, heading):
    for key, lines in sections.items():
        if key.startswith(heading):
            return key, lines
    fail("the report has no section " + heading)


def main(wine_run, launcher, work, user):
    if os.geteuid() != 0:
        print("skipped: creating the test user needs root")
        return 77
    try:
        pwd.getpwnam(user)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        user], check=True)
    shutil.rmtree(work, ignore_errors=True)
    home = os.path.join(work, "home")
    os.makedirs(home)
    shutil.copy(launcher, os.path.join(home, "Setup.exe"))
    shutil.chown(home, user, user)
    prefix = os.path.join(home, "prefix")
    report = os.path.join(home, "report.txt")

    def run(*argv):
        env = {"PATH": os.environ["PATH"], "HOME": home, "WINEPREFIX": prefix,
               "WINE_RUN_TIME_LIMIT": str(RUN_LIMIT_SECONDS),
               "KESMAR_SAMPLE_REPORT": "Z:" + report.replace("/", "\\"),
               "KESMAR_SAMPLE_FACES": ";".join(FACES)}
        return subprocess.run(["runuser", "-u", user, "--", "env", *["%s=%s" % kv for kv in env.items()],
                               wine_run, *argv], cwd=home,
                              timeout=RUN_LIMIT_SECONDS * 3).returncode

    # A new prefix of the user's own, with a Fonts folder only root may change.
    if run("cmd", "/c", "exit") != 0:
        fail("the prefix could not be made")
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    shutil.chown(fonts, "root", "root")
    os.chmod(fonts, 0o755)
    profile = os.path.join(prefix, "drive_c", "users", user)
    temp = next(t for t in (os.path.join(profile, "Temp"), os.path.join(profile, "AppData", "Local", "Temp"))
                if os.path.isdir(t))

    for attempt in ("first run", "second run"):
        if os.path.exists(report):
            os.remove(report)
        code = run("Setup.exe")
        if code != 0:
            fail("%s: the launcher exited %d" % (attempt, code))
        sections = read_report(report)
        _, faces = section(sections, "Faces:")
        if sorted(faces) != sorted(face + " = present" for face in FACES):
            fail("%s: the setup program saw %s" % (attempt, faces))
        heading, files = section(sections, "Files in the user's font folder")
        folder = heading[heading.index("(") + 1:heading.rindex(")")]
        if sorted(files) != FILES:
            fail("%s: the user's font folder %s holds %s" % (attempt, folder, files))
        _, entries = section(sections, "Fonts registered for this user:")
        for key, name in zip(KEYS, FILES):
            if key + " = " + folder + "\\" + name not in entries:
                fail("%s: no HKCU value %s with the full path: %s" % (attempt, key, entries))
        _, beside = section(sections, "Files beside the program")
        if [n for n in beside if n.lower().endswith(".ttf")]:
            fail("%s: extracted fonts left beside the setup program: %s" % (attempt, beside))
        left = [n for n in os.listdir(temp) if n.startswith("kesmars")]
        if left:
            fail("%s: left in the temporary folder: %s" % (attempt, left))
    subprocess.run(["runuser", "-u", user, "--", "env", "WINEPREFIX=" + prefix, "wineserver", "-k"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(work, ignore_errors=True)
    print("user fonts: both faces seen by the setup program, twice; nothing left")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--make-fonts":
        make_fonts(sys.argv[2], sys.argv[3])
        sys.exit(0)
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
