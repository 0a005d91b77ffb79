#!/usr/bin/python3
"""Peer for the benchmark: the same three strings quelvo prints, read with
pefile in one process over every file given on the command line.

Only the headers and the resource directory are parsed (fast_load, then the
resource data directory), which is the least pefile needs to reach the
version resource.
"""
import sys

import pefile

RESOURCE = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]
KEYS = (b"CompanyName", b"FileDescription", b"FileVersion")


def first_string_table(pe):
    for group in getattr(pe, "FileInfo", None) or ():
        for entry in group:
            for table in getattr(entry, "StringTable", None) or ():
                return table
    return None


def report(path, out):
    try:
        pe = pefile.PE(path, fast_load=True)
    except (pefile.PEFormatError, OSError) as err:
        out.write(f"{path}: not a PE file ({err})\n")
        return
    try:
        pe.parse_data_directories(directories=[RESOURCE])
        table = first_string_table(pe)
    except Exception as err:  # a damaged resource tree is a result, not a crash
        table = None
        out.write(f"{path}: resource error ({err})\n")
    finally:
        pe.close()
    if table is None:
        out.write(f"{path}: no version information\n")
        return
    values = [table.entries.get(k, b"").decode("utf-8", "replace") for k in KEYS]
    out.write(f"{path}: version: {values[0]} | {values[1]} | {values[2]}\n")


def main(argv):
    out = sys.stdout
    for path in argv[1:]:
        report(path, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
