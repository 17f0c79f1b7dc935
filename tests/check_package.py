#!/usr/bin/env python3
"""Checks what a build installs, and the Windows ZIP package.

    check_package.py install BUILD_DIR PROGRAM_NAME
        cmake --install into a new prefix: the program under bin/, the
        README under share/doc/console_threads/, nothing else.
    check_package.py zip BUILD_DIR ZIP_NAME
        cpack: a ZIP of that name holding the .exe and the README only, whose
        .exe, unpacked into a folder of its own, runs under Wine.
"""
import os
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from piped_run import Failure, Run, check  # noqa: E402

DOC = "share/doc/console_threads/README.md"


def files_below(folder):
    return sorted(os.path.relpath(os.path.join(top, name), folder)
                  for top, _, names in os.walk(folder) for name in names)


def check_install(build, program, scratch):
    prefix = os.path.join(scratch, "prefix")
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL)
    installed = files_below(prefix)
    check(installed == sorted([f"bin/{program}", DOC]), f"installed {installed}")
    check(os.access(os.path.join(prefix, "bin", program), os.X_OK), "the program is not executable")


def check_zip(build, name, scratch):
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", scratch],
                   check=True, stdout=subprocess.DEVNULL)
    path = os.path.join(scratch, name)
    check(os.path.exists(path), f"no {name}; cpack made {os.listdir(scratch)}")
    top = name[:-len(".zip")]
    with zipfile.ZipFile(path) as package:
        entries = sorted(entry for entry in package.namelist() if not entry.endswith("/"))
        check(entries == sorted([f"{top}/bin/console_threads.exe", f"{top}/{DOC}"]),
              f"the ZIP holds {entries}")
        unpacked = os.path.join(scratch, "unpacked")
        package.extractall(unpacked)
    # Alone in its folder, with no DLL beside it, it still runs.
    with Run(os.path.join(unpacked, top, "bin", "console_threads.exe"), wine=True) as run:
        run.read_prompt()
        run.send(b"5\n")
        run.ends_with(1)


def main(mode, build, name):
    with tempfile.TemporaryDirectory() as scratch:
        try:
            (check_install if mode == "install" else check_zip)(build, name, scratch)
        except Failure as failure:
            print(f"{mode}: {failure}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
