#!/usr/bin/env python3
# What the desktop and the man command get: the man pages against the
# programs' --help and the variables the code reads, the desktop entry and the
# AppStream metainfo through their validators.
#
# usage: docs_check.py CASE SOURCE_DIR BUILD_DIR; exits 0 when the case holds.

import glob
import os
import pathlib
import re
import sys

from desktop import check, run, run_case

SOURCE, BUILD = sys.argv[2:4]
PELMIRA = os.path.join(BUILD, "pelmira")
CAPTURE = os.path.join(BUILD, "pelmira-capture")
SECTIONS = ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "ENVIRONMENT",
            "EXAMPLES")


def options(text):
    return set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", text))


def variables_read(*folders):
    """Every environment variable the code in folders asks for by name."""
    return {name for folder in folders for path in pathlib.Path(SOURCE, folder).glob("*.cpp")
            for name in re.findall(r'getenv\("(\w+)"\)', path.read_text())}


def case_man_pages():
    # The SDL driver variables are read by SDL itself, on the programs' behalf.
    sdl = {"SDL_VIDEODRIVER", "SDL_AUDIODRIVER"}
    linux = ("platform/linux", "platform/common", "show")
    for program, page, folders in ((PELMIRA, "pelmira.6", linux),
                                   (CAPTURE, "pelmira-capture.1", ("tools",))):
        path = os.path.join(BUILD, "docs", page)
        run("man", "--warnings", "-l", path, env={**os.environ, "MANWIDTH": "80"},
            holds=lambda done: not done.stderr)
        text = run("man", "-l", path, env={**os.environ, "MANWIDTH": "200"}).stdout
        parts = re.split(r"^([A-Z][A-Z ]+)$", text, flags=re.M)
        sections = dict(zip(parts[1::2], parts[2::2]))
        missing = [s for s in SECTIONS if s not in sections]
        check(not missing, f"{page} lacks {missing}")
        helped = options(run(program, "--help").stdout)
        documented = options(sections["OPTIONS"])
        check(helped == documented, f"{page}: --help has {sorted(helped - documented)} "
              f"that OPTIONS lacks, OPTIONS has {sorted(documented - helped)} that --help lacks")
        named = set(re.findall(r"\w+", sections["ENVIRONMENT"]))
        undocumented = (sdl | variables_read(*folders)) - named
        check(not undocumented, f"{page}: ENVIRONMENT lacks {sorted(undocumented)}")


def case_desktop_entry():
    entry = os.path.join(SOURCE, "docs", "pelmira.desktop")
    run("desktop-file-validate", entry, holds=lambda done: not done.stdout)
    commands = re.findall(r"^Exec=(.*)$", pathlib.Path(entry).read_text(), flags=re.M)
    check(commands, "no Exec line")
    # Every command line the menu offers is one the show accepts.
    for command in commands:
        program, *args = command.split()
        check(program == "pelmira", f"Exec={command} runs another program")
        run(PELMIRA, *args, "--help")


def case_metainfo():
    found = glob.glob(os.path.join(BUILD, "docs", "*.metainfo.xml"))
    check(len(found) == 1, f"metainfo files: {found}")
    run("appstreamcli", "validate", "--no-net", found[0])
    text = pathlib.Path(found[0]).read_text()
    version = run(PELMIRA, "--version").stdout.split()[-1]
    check(f'<release version="{version}"' in text, f"no release {version} in the metainfo")
    for named in re.findall(r'<image>.*/([^/<]+)</image>|<launchable type="desktop-id">(.*)'
                            r'</launchable>', text):
        name = "".join(named)
        check(os.path.isfile(os.path.join(SOURCE, "docs", name)), f"docs/{name} is missing")


if __name__ == "__main__":
    run_case(globals())
