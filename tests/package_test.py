#!/usr/bin/env python3
# The Debian package as a user gets it: built with cpack, checked by lintian,
# installed with apt-get on this machine, its programs run from where it put
# them, removed, and nothing of it left behind.
#
# usage: package_test.py package BUILD_DIR HASH_FILE; exits 0 when it all holds,
# 77 when it cannot run here (not root).

import fcntl
import glob
import os
import re
import subprocess
import sys
import tempfile

from desktop import SKIP, check, run, run_case

BUILD, GOLDEN = sys.argv[2:4]
APT = {**os.environ, "DEBIAN_FRONTEND": "noninteractive"}
# Held by every checkout's installs on this machine (scripts/common.sh), and
# here from install to removal, so no other test swaps the package meanwhile.
APT_LOCK = "/var/lock/pelmira-apt.lock"


def installed():
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "pelmira"],
                            capture_output=True, text=True).stdout
    return "installed" in status.split()


def case_package():
    if os.geteuid() != 0:
        print("needs root to install the package on this machine")
        sys.exit(SKIP)
    with tempfile.TemporaryDirectory() as folder:
        os.chmod(folder, 0o755)  # apt reads the package as its own user
        run("cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-G", "DEB", "-B",
            folder)
        debs = glob.glob(os.path.join(folder, "pelmira_*.deb"))
        check(len(debs) == 1, f"cpack made {debs}")
        deb = debs[0]
        lint = run("lintian", deb, holds=lambda done: not re.search("^E:", done.stdout, re.M))

        version = run("dpkg-deb", "-f", deb, "Version").stdout.strip()
        listing = run("dpkg-deb", "-c", deb).stdout.splitlines()
        paths = [line.split()[-1].lstrip(".").rstrip("/") for line in listing]
        files = [p for line, p in zip(listing, paths) if line.startswith("-")]
        new_folders = [p for line, p in zip(listing, paths)
                       if line.startswith("d") and p and not os.path.isdir(p)]
        check(files, "the package holds no files")

        with open(APT_LOCK, "a") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            check(not installed(), "pelmira is installed already: remove it first "
                  "(apt-get purge pelmira) so this test does not replace it")
            try:
                run("apt-get", "install", "-y", "./" + os.path.basename(deb), cwd=folder, env=APT,
                    holds=lambda _: installed())
                run("/usr/bin/pelmira", "--version",
                    holds=lambda done: done.stdout == f"pelmira {version}\n")
                # The frame the show draws at 12 s, as the committed hash file holds it.
                run("/usr/bin/pelmira-capture", "--at", "12", "--verify", GOLDEN, "x.png",
                    cwd=folder, holds=lambda _: os.path.getsize(os.path.join(folder, "x.png")))
                for name, section in (("pelmira", 6), ("pelmira-capture", 1)):
                    run("man", "-w", name, holds=lambda done: re.fullmatch(
                        rf"/usr/share/man/man{section}/{name}\.{section}\.gz\n", done.stdout))
            finally:
                run("apt-get", "purge", "-y", "pelmira", env=APT,
                    holds=lambda _: not installed())
        left = [p for p in files + new_folders if os.path.lexists(p)]
        check(not left, f"left after removal: {left}")
        print(f"{os.path.basename(deb)}: {os.path.getsize(deb)} bytes, "
              f"{len(files)} files; lintian said {lint.stdout.strip() or 'nothing'}")


if __name__ == "__main__":
    run_case(globals())
