#!/usr/bin/env python3
# Checks what a build installs, and the Windows release ZIP.
#
# check_package.py install BUILD_DIR PROGRAM_NAME
#     cmake --install into a new prefix: on POSIX the program under bin/
#     and README.md under share/doc/console_threads/; on Windows
#     (PROGRAM_NAME ending in .exe) the program and README.txt at the top.
#     Nothing else.
# check_package.py zip BUILD_DIR ZIP_NAME
#     cpack: a ZIP of that name holding one folder named after it, with the
#     .exe and README.txt at its top, the text in CRLF lines, for a Windows
#     user; a SHA-256 file beside it that checks; a buildinfo beside it
#     that names the installed version of each toolchain package and the
#     .exe's and the ZIP's hashes; an .exe of at most 20 KiB with no debug
#     information and no path of the build machine. That the bytes are
#     the same from any build of the same source is reproducible.sh's to
#     show.
# check_package.py run BUILD_DIR ZIP_NAME
#     the .exe from the ZIP, alone in a folder of its own, runs under Wine.
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from piped_run import Failure, Run, check  # noqa: E402

EXE = "console_threads.exe"
README = "README.txt"
MAX_EXE_BYTES = 20 * 1024
# The packages that make the release's bytes, which its buildinfo must name.
TOOLCHAIN = [r"g\+\+-mingw-w64-i686(-posix|-win32)?", "binutils-mingw-w64-i686",
             "mingw-w64-i686-dev", "mingw-w64-common", "cmake", "zip"]
# A Windows user's README speaks of none of these.
BUILD_TALK = re.compile(rb"\b(apt|apt-get|cmake|cpack|wine|qemu|debian|linux|sha256sum)\b", re.I)


def read(path, mode="rb"):
    with open(path, mode) as file:
        return file.read()


def files_below(folder):
    return sorted(os.path.relpath(os.path.join(top, name), folder)
                  for top, _, names in os.walk(folder) for name in names)


def quiet(*command, cwd=None):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def check_install(build, program, scratch):
    prefix = os.path.join(scratch, "prefix")
    quiet("cmake", "--install", build, "--prefix", prefix)
    expected = ([program, README] if program.endswith(".exe")
                else [f"bin/{program}", "share/doc/console_threads/README.md"])
    installed = files_below(prefix)
    check(installed == sorted(expected), f"installed {installed}")
    check(os.access(os.path.join(prefix, expected[0]), os.X_OK), "the program is not executable")


def package(build, into):
    quiet("cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", into)
    return into


def unpacked_folder(zip_path, scratch):
    # Unpacks the ZIP; checks that it holds one folder with the two files.
    top = os.path.basename(zip_path)[:-len(".zip")]
    with zipfile.ZipFile(zip_path) as archive:
        entries = sorted(entry for entry in archive.namelist() if not entry.endswith("/"))
        check(entries == sorted([f"{top}/{EXE}", f"{top}/{README}"]), f"the ZIP holds {entries}")
        archive.extractall(os.path.join(scratch, "unpacked"))
    return os.path.join(scratch, "unpacked", top)


def check_zip(build, name, scratch):
    made = package(build, os.path.join(scratch, "first"))
    zip_path = os.path.join(made, name)
    check(os.path.exists(zip_path), f"no {name}; cpack made {os.listdir(made)}")
    zip_bytes, sums = read(zip_path), read(zip_path + ".sha256", "r")
    check(sums == f"{hashlib.sha256(zip_bytes).hexdigest()}  {name}\n",
          f"{name}.sha256 holds {sums!r}")
    quiet("sha256sum", "--check", "--quiet", name + ".sha256", cwd=made)

    folder = unpacked_folder(zip_path, scratch)
    exe, readme = read(os.path.join(folder, EXE)), read(os.path.join(folder, README))
    check(readme.count(b"\n") == readme.count(b"\r\n") > 0, f"{README} is not in CRLF lines")
    for needed in [b"certutil -hashfile", b"Get-FileHash", b"Exit status"]:
        check(needed in readme, f"{README} does not say {needed.decode()}")
    talk = BUILD_TALK.findall(readme)
    check(not talk, f"{README} talks of building: {talk}")
    check_buildinfo(zip_path, exe, zip_bytes)
    check(len(exe) <= MAX_EXE_BYTES, f"the .exe has {len(exe)} bytes, more than {MAX_EXE_BYTES}")
    check(b".debug" not in exe, "the .exe carries debug sections")
    for path in {ROOT, os.path.realpath(build)}:
        check(path.encode() not in exe, f"the .exe names {path}")


def check_buildinfo(zip_path, exe, zip_bytes):
    # Checks the buildinfo beside the ZIP against this system and the files.
    path = zip_path[:-len(".zip")] + ".buildinfo"
    check(os.path.exists(path), f"no {os.path.basename(path)} beside the ZIP")
    text = read(path, "r")
    packages = dict(re.findall(r"^ ([a-z0-9][a-z0-9.+:-]*) \(= ([^)]+)\),?$", text, re.M))
    for pattern in TOOLCHAIN:
        check(any(re.fullmatch(pattern, package) for package in packages),
              f"the buildinfo names no {pattern} among {sorted(packages)}")
    for package, version in packages.items():
        installed = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                   capture_output=True, text=True).stdout
        check(version == installed,
              f"the buildinfo names {package} {version}, but {installed or 'none'} is installed")
    for content, file_name in [(exe, EXE), (zip_bytes, os.path.basename(zip_path))]:
        line = f" {hashlib.sha256(content).hexdigest()} {len(content)} {file_name}\n"
        check(line in text, f"the buildinfo gives no{line.rstrip()}")


def check_run(build, name, scratch):
    made = package(build, os.path.join(scratch, "first"))
    # Alone in its folder, with no DLL beside it, it still runs.
    with Run(os.path.join(unpacked_folder(os.path.join(made, name), scratch), EXE),
             wine=True) as run:
        run.read_prompt()
        run.send(b"5\n")
        run.ends_with(1)


def main(mode, build, name):
    checks = {"install": check_install, "zip": check_zip, "run": check_run}
    with tempfile.TemporaryDirectory() as scratch:
        try:
            checks[mode](build, name, scratch)
        except Failure as failure:
            print(f"{mode}: {failure}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
