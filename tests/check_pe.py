#!/usr/bin/env python3
# Checks the Windows program's headers, import table and version resource,
# as pefile reads them: a PE32 console program for Intel 80386, linked with no
# time stamp (so that one commit always gives the same bytes), that needs no
# DLL but KERNEL32.dll and msvcrt.dll and takes its thread services from the
# one and its C runtime functions from the other; its version resource gives
# the product name, description and version.
#
#     check_pe.py PROGRAM.exe PRODUCT DESCRIPTION VERSION
import sys

import pefile

EXPECTED = {
    "KERNEL32.dll": {"CreateThread", "WaitForMultipleObjects", "CloseHandle", "ExitProcess"},
    "msvcrt.dll": {"printf", "getchar", "wcscpy", "wcscat", "_setmode", "_fileno"},
}


def imports(image):
    # Maps each DLL named in the import table to the names taken from it.
    return {entry.dll.decode(): {symbol.name.decode() for symbol in entry.imports if symbol.name}
            for entry in getattr(image, "DIRECTORY_ENTRY_IMPORT", [])}


def version_faults(image, product, description, version):
    if not getattr(image, "VS_FIXEDFILEINFO", None):
        return ["has no version resource"]
    fixed = image.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
               fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    expected_numbers = tuple(int(part) for part in version.split("."))
    faults = []
    if numbers[:len(expected_numbers)] != expected_numbers:
        faults.append(f"file version {numbers}, expected {version}")
    strings = {key.decode(): value.decode()
               for info in image.FileInfo for block in info if block.Key == b"StringFileInfo"
               for table in block.StringTable for key, value in table.entries.items()}
    expected = {"ProductName": product, "FileDescription": description,
                "FileVersion": version, "ProductVersion": version}
    for key, value in expected.items():
        if strings.get(key) != value:
            faults.append(f"{key} {strings.get(key)!r}, expected {value!r}")
    return faults


def main(program, product, description, version):
    image = pefile.PE(program)
    header, optional = image.FILE_HEADER, image.OPTIONAL_HEADER
    faults = [fault for value, expected, fault in [
        (header.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], "not for Intel 80386"),
        (optional.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE, "not PE32"),
        (optional.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"],
         "not a console program"),
        (header.TimeDateStamp, 0, f"time stamp {header.TimeDateStamp:#x} in the file header, "
                                  "expected none (0): the link is not reproducible"),
    ] if value != expected]
    table = imports(image)
    if set(table) != set(EXPECTED):
        faults.append(f"imports from {sorted(table)}, expected {sorted(EXPECTED)}")
    faults += [f"takes none of {sorted(missing)} from {dll}" for dll, names in EXPECTED.items()
               if (missing := names - table.get(dll, set()))]
    faults += version_faults(image, product, description, version)
    for fault in faults:
        print(f"{program}: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
