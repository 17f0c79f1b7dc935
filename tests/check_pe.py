#!/usr/bin/env python3
"""Checks the Windows program's headers and import table, as the cross
toolchain's objdump reads them: a PE32 console program for Intel 80386 that
needs no DLL but KERNEL32.dll and msvcrt.dll, and takes its thread services
from the one and its C runtime functions from the other.

    check_pe.py OBJDUMP PROGRAM.exe
"""
import re
import subprocess
import sys

EXPECTED = {
    "KERNEL32.dll": {"CreateThread", "WaitForMultipleObjects", "CloseHandle", "ExitProcess"},
    "msvcrt.dll": {"printf", "getchar", "wcscpy", "wcscat"},
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


def main(objdump, program):
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
    for fault in faults:
        print(f"{program}: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
