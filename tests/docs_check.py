#!/usr/bin/env python3
"""What the desktop and the man command get: the man pages against the
programs' --help and the variables the code reads, the desktop entry and the
AppStream metainfo through their validators.

usage: docs_check.py CASE SOURCE_DIR BUILD_DIR; exits 0 when the case holds.
"""
import glob
import os
import re
import subprocess
import sys

from desktop import check, run_case

SOURCE, BUILD = sys.argv[2:4]
PELMIRA = os.path.join(BUILD, "pelmira")
CAPTURE = os.path.join(BUILD, "pelmira-capture")
SECTIONS = ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "ENVIRONMENT",
            "EXAMPLES")


def run(*args, **kw):
    return subprocess.run(args, capture_output=True, text=True, timeout=300, **kw)


def options(text):
    return set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", text))


def variables_read(*folders):
    """Every environment variable the code in folders asks for by name."""
    found = set()
    for folder in folders:
        for path in glob.glob(os.path.join(SOURCE, folder, "*.cpp")):
            with open(path) as f:
                found |= set(re.findall(r'getenv\("(\w+)"\)', f.read()))
    return found


def case_man_pages():
    # The SDL driver variables are read by SDL itself, on the programs' behalf.
    sdl = {"SDL_VIDEODRIVER", "SDL_AUDIODRIVER"}
    for program, page, folders in ((PELMIRA, "pelmira.6", ("platform", "show")),
                                   (CAPTURE, "pelmira-capture.1", ("tools",))):
        path = os.path.join(BUILD, "docs", page)
        warnings = run("man", "--warnings", "-l", path, env={**os.environ, "MANWIDTH": "80"})
        check(warnings.returncode == 0 and not warnings.stderr,
              f"{page}: man --warnings says {warnings.stderr}")
        text = run("man", "-l", path, env={**os.environ, "MANWIDTH": "200"}).stdout
        parts = re.split(r"^([A-Z][A-Z ]+)$", text, flags=re.M)
        sections = dict(zip(parts[1::2], parts[2::2]))
        missing = [s for s in SECTIONS if s not in sections]
        check(not missing, f"{page} lacks {missing}")
        helped = options(run(program, "--help").stdout)
        documented = options(sections["OPTIONS"])
        check(helped == documented, f"{page}: --help has {sorted(helped - documented)} "
              f"that OPTIONS lacks, OPTIONS has {sorted(documented - helped)} that --help lacks")
        undocumented = (sdl | variables_read(*folders)) - set(re.findall(r"\w+",
                                                                          sections["ENVIRONMENT"]))
        check(not undocumented, f"{page}: ENVIRONMENT lacks {sorted(undocumented)}")


def case_desktop_entry():
    entry = os.path.join(SOURCE, "docs", "pelmira.desktop")
    valid = run("desktop-file-validate", entry)
    check(valid.returncode == 0 and not valid.stdout, f"desktop-file-validate: {valid.stdout}")
    with open(entry) as f:
        commands = re.findall(r"^Exec=(.*)$", f.read(), flags=re.M)
    check(commands, "no Exec line")
    # Every command line the menu offers is one the show accepts.
    for command in commands:
        words = command.split()
        check(words[0] == "pelmira", f"Exec={command} runs another program")
        accepted = run(PELMIRA, *words[1:], "--help")
        check(accepted.returncode == 0, f"Exec={command}: {accepted.stderr}")


def case_metainfo():
    found = glob.glob(os.path.join(BUILD, "docs", "*.metainfo.xml"))
    check(len(found) == 1, f"metainfo files: {found}")
    valid = run("appstreamcli", "validate", "--no-net", found[0])
    check(valid.returncode == 0, "appstreamcli validate:\n" + valid.stdout + valid.stderr)
    with open(found[0]) as f:
        text = f.read()
    version = run(PELMIRA, "--version").stdout.split()[-1]
    check(f'<release version="{version}"' in text, f"no release {version} in the metainfo")
    for image in re.findall(r"<image>.*/([^/<]+)</image>", text):
        check(os.path.isfile(os.path.join(SOURCE, "docs", image)), f"docs/{image} is missing")
    for launchable in re.findall(r'<launchable type="desktop-id">(.*)</launchable>', text):
        check(os.path.isfile(os.path.join(SOURCE, "docs", launchable)),
              f"docs/{launchable} is missing")


if __name__ == "__main__":
    run_case(globals())
