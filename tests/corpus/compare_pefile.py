#!/usr/bin/python3
"""Checks quelvo's reports against an independent reader, pefile.

For every file given, pefile finds the version resource Windows would pick
(type 16, name 1; language neutral, then 0x0409, then 0x0009, then the
first), and its company name, description, version string, fixed record
and first translation are turned into the lines quelvo should print. The
script runs quelvo -d once over all files and compares, file by file.

    compare_pefile.py QUELVO EXPECTATIONS FILE...

EXPECTATIONS lists known disagreements, one per line: a file name (base
name), a colon, and the reason. A listed file that agrees is reported too,
so the list cannot go stale. Exit status 0 when every disagreement is
listed and explained.
"""
import os
import re
import subprocess
import sys

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
BESTFIT = os.path.join(HERE, "..", "..", "tools", "data", "bestfit1252.txt")
FIXED_INFO = os.path.join(HERE, "..", "..", "src", "report", "fixed_info.cpp")
LANGUAGE_ORDER = (0x0000, 0x0409, 0x0009)


def load_tables():
    """The report's decoding tables, read from the program's own source:
    what is checked here is the numbers pefile finds, not the texts."""
    tables = {}
    name = None
    with open(FIXED_INFO, encoding="latin-1") as f:
        for line in f:
            m = re.match(r"(?:const|constexpr) Decode (k\w+)\[\] = \{", line)
            if m:
                name = m.group(1)
                tables[name] = []
            if name:
                for value, text in re.findall(r'\{(0x[0-9A-Fa-f]+|\d+), "((?:[^"\\]|\\.)*)"\}', line):
                    text = text.encode("latin-1").decode("unicode_escape")
                    tables[name].append((int(value, 0), text))
                if line.startswith("};"):
                    name = None
    return tables


TABLES = load_tables()


def decode(table, value):
    for v, text in TABLES[table]:
        if v == value:
            return text
    return ""


def load_bestfit():
    table = {}
    section = None
    with open(BESTFIT, encoding="latin-1") as f:
        for line in f:
            fields = line.split(";")[0].split()
            if not fields:
                continue
            if fields[0] in ("WCTABLE", "MBTABLE", "CPINFO", "ENDCODEPAGE"):
                section = fields[0]
                continue
            if section == "WCTABLE" and len(fields) >= 2:
                table[int(fields[0], 16)] = int(fields[1], 16)
    return table


BEST = load_bestfit()


def shown(text):
    """What the report prints for a UTF-16 string: code page 1252 with best
    fit, one unit at a time, then every non-printable byte as a space."""
    out = []
    raw = text.encode("utf-16-le", "surrogatepass")
    for unit in [int.from_bytes(raw[i:i + 2], "little")
                 for i in range(0, len(raw), 2)]:
        if unit == 0:
            break
        b = BEST.get(unit, 0x3F)
        out.append(chr(b) if 0x20 <= b <= 0x7E else " ")
    return "".join(out)


def pick_language(entry):
    data = [e for e in entry.directory.entries if hasattr(e, "data")]
    for want in LANGUAGE_ORDER:
        for e in data:
            if e.id == want:
                return e
    return data[0] if data else None


def expected_for(path):
    """The quelvo -d lines pefile predicts, or None for no version info."""
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except Exception:
        return None
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return None
    types = [e for e in root.entries if e.name is None and e.id == 16]
    if not types or not hasattr(types[0], "directory"):
        return None
    names = [e for e in types[0].directory.entries if e.name is None and e.id == 1]
    if not names or not hasattr(names[0], "directory"):
        return None
    language = pick_language(names[0])
    if language is None:
        return None
    for attr in ("VS_VERSIONINFO", "VS_FIXEDFILEINFO", "FileInfo"):
        if hasattr(pe, attr):
            delattr(pe, attr)
    pe.parse_version_information(language.data.struct)
    raw = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
    key = "Translation".encode("utf-16-le") + b"\0\0"
    at = raw.find(key)
    if at < 0:
        return {"lines": [], "stage": 102}
    value = (at + len(key) + 3) & ~3
    language_id = int.from_bytes(raw[value:value + 2], "little")
    code_page = int.from_bytes(raw[value + 2:value + 4], "little")
    table_key = "%04x%04x" % (language_id, code_page)
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            if table.LangID.decode("latin-1").lower() == table_key:
                for k, v in table.entries.items():
                    strings.setdefault(k.decode("latin-1").lower(),
                                       v.decode("utf-8", "replace"))
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    lines = []
    for label, name in (("Company Name:      ", "companyname"),
                        ("File Description:  ", "filedescription"),
                        ("Version String:    ", "fileversion")):
        if name not in strings:
            # The label is printed before the lookup fails.
            return {"lines": lines + [label], "stage": 103}
        lines.append(label + shown(strings[name]))
    if fixed is not None:
        ms, ls = fixed.FileVersionMS, fixed.FileVersionLS
        lines.append("Version Number:\t   %d.%02d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
        ms, ls = fixed.ProductVersionMS, fixed.ProductVersionLS
        lines.append("Product Number:\t   %d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
        lines.append("File Flags:\t   " + "".join(
            text for bit, text in TABLES["kFileFlags"] if fixed.FileFlags & bit))
        lines.append("File OS:\t   " + decode("kFileOs", fixed.FileOS))
        lines.append("File Type:\t   " + decode("kFileType", fixed.FileType))
        if fixed.FileType in (3, 4):
            table = "kDriverSubtype" if fixed.FileType == 3 else "kFontSubtype"
            lines.append("File Subtype:\t   " + decode(table, fixed.FileSubtype))
    lines.append("Character Set:\t   " + decode("kCharacterSet", code_page))
    lines.append("Language:\t   " + decode("kLanguage", language_id))
    return {"lines": lines, "stage": 0}


def quelvo_reports(quelvo, files):
    """quelvo -d over all files, split into one list of lines per file."""
    reports = {}
    batch = 200
    for i in range(0, len(files), batch):
        out = subprocess.run([quelvo, "-d"] + files[i:i + batch], check=False,
                             stdout=subprocess.PIPE).stdout.decode("latin-1")
        current = None
        for line in out.split("\n"):
            if line.startswith("Program Name:      "):
                current = line[len("Program Name:      "):]
                reports[current] = []
            elif line.endswith(" does not contain version information."):
                path = line[:-len(" does not contain version information.")]
                reports.setdefault(path, []).append("<none>")
                current = None
            elif current is not None and line:
                reports[current].append(line)
    return reports


LANGUAGES = {0x0409: "U.S. English", 0x0000: "Language-Neutral"}


def comparable(lines):
    keep = ("Company Name:", "File Description:", "Version String:",
            "Version Number:", "Product Number:", "File Flags:", "File OS:",
            "File Type:", "File Subtype:", "Character Set:", "Language:")
    return [l for l in lines if l.startswith(keep)]


def read_expectations(path):
    """The files a comparison may disagree on, by name, with the reason."""
    expected = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                name, _, reason = line.partition(":")
                expected[name.strip()] = reason.strip()
    return expected


def main():
    quelvo, expectations_file, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    expected_disagreements = read_expectations(expectations_file)
    reports = quelvo_reports(quelvo, files)
    agree = with_version = 0
    unexplained = []
    stale = []
    for path in files:
        want = expected_for(path)
        got = reports.get(path, ["<missing from output>"])
        if want is None:
            ok = got == ["<none>"]
        else:
            complete = want["stage"] == 0
            with_version += complete
            if complete:
                ok = comparable(got) == comparable(want["lines"])
            else:
                ok = got[-1:] == ["<none>"] and \
                    comparable(got[:-1]) == comparable(want["lines"])
        name = os.path.basename(path)
        if ok:
            agree += 1
            if name in expected_disagreements:
                stale.append(name)
        elif name not in expected_disagreements:
            unexplained.append((path, want and want["lines"], got))
    print("corpus: %d files, %d with version information, %d agree with pefile, "
          "%d listed disagreements, %d unexplained"
          % (len(files), with_version, agree, len(expected_disagreements),
             len(unexplained)))
    for path, want, got in unexplained[:20]:
        print("DISAGREE %s\n  pefile: %r\n  quelvo: %r" % (path, want, got))
    for name in stale:
        print("STALE expectation, now agrees: %s" % name)
    return 1 if unexplained or stale else 0


if __name__ == "__main__":
    sys.exit(main())
