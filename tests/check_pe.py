#!/usr/bin/env python3
"""Checks the Windows program's headers and import table, as the cross
toolchain's objdump reads them: a PE32 console program for Intel 80386 that
needs no DLL but KERNEL32.dll and msvcrt.dll, and takes its thread services
from the one and its C runtime functions from the other. Reads its version
resource back too: product name, description and version.

    check_pe.py OBJDUMP PROGRAM.exe PRODUCT DESCRIPTION VERSION
"""
import re
import struct
import subprocess
import sys

EXPECTED = {
    "KERNEL32.dll": {"CreateThread", "WaitForMultipleObjects", "CloseHandle", "ExitProcess"},
    "msvcrt.dll": {"printf", "getchar", "wcscpy", "wcscat", "_setmode", "_fileno"},
}


def imports(dump):
    """Maps each DLL named in the import table to the names taken from it."""
    table, dll = {}, None
    for line in dump.splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1)
            table[dll] = set()
            continue
        entry = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\w+)$", line)
        if dll and entry:
            table[dll].add(entry.group(1))
        elif not line.strip():
            dll = None
    return table


def version_resource(image):
    """The fixed file version, and the strings, of the image's version resource."""
    fixed = image.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return None, {}
    most, least = struct.unpack_from("<II", image, fixed + 8)
    version = (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)
    strings = {}
    for key in ("ProductName", "FileDescription", "FileVersion", "ProductVersion"):
        name = key.encode("utf-16-le") + b"\0\0"
        at = image.find(name, fixed)
        if at < 0:
            continue
        start = (at + len(name) + 3) & ~3  # the value is 32-bit aligned
        end = start
        while image[end:end + 2] != b"\0\0":
            end += 2
        strings[key] = image[start:end].decode("utf-16-le")
    return version, strings


def check_version(program, product, description, version):
    with open(program, "rb") as file:
        fixed, strings = version_resource(file.read())
    if fixed is None:
        return ["has no version resource"]
    faults = []
    numbers = tuple(int(part) for part in version.split("."))
    if fixed[:len(numbers)] != numbers:
        faults.append(f"file version {fixed}, expected {version}")
    expected = {"ProductName": product, "FileDescription": description,
                "FileVersion": version, "ProductVersion": version}
    for key, value in expected.items():
        if strings.get(key) != value:
            faults.append(f"{key} {strings.get(key)!r}, expected {value!r}")
    return faults


def main(objdump, program, product, description, version):
    headers = subprocess.run([objdump, "-f", "-p", program], check=True,
                             capture_output=True, text=True).stdout
    faults = []
    if "file format pei-i386" not in headers:
        faults.append("not a PE file for Intel 80386")
    if not re.search(r"^Magic\s+010b\s+\(PE32\)", headers, re.M):
        faults.append("not PE32")
    if not re.search(r"^Subsystem\s+00000003\s+\(Windows CUI\)", headers, re.M):
        faults.append("not a console program")
    table = imports(headers)
    if set(table) != set(EXPECTED):
        faults.append(f"imports from {sorted(table)}, expected {sorted(EXPECTED)}")
    for dll, names in EXPECTED.items():
        missing = names - table.get(dll, set())
        if missing:
            faults.append(f"takes none of {sorted(missing)} from {dll}")
    faults += check_version(program, product, description, version)
    for fault in faults:
        print(f"{program}: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
