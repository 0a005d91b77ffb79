#!/usr/bin/python3
"""Checks quelvo --json against an independent reader, pefile.

For every file given, pefile finds the version resource Windows would pick
(as compare_pefile.py does) and from it: the kind of image and its machine,
every language the resource is stored in, the first translation entry (the
one the report uses) and the whole translation list, every string of that
entry's table, every string table of the block (key and strings, in stored
order) and the file and product versions of the fixed record. The
script runs quelvo --json over all files, validates each object against
the JSON Schema, and compares field by field.

    compare_json.py QUELVO EXPECTATIONS FILE...

EXPECTATIONS lists known disagreements as compare_pefile.py reads them.
Exit status 0 when every disagreement is listed and explained.
"""
import json
import os
import re
import struct
import subprocess
import sys

import jsonschema
import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_pefile import (expected_for, pick_language,  # noqa: E402
                            read_expectations)

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA = os.path.join(HERE, "..", "..", "schema", "quelvo.schema.json")
MACHINES = {0x014C: "x86", 0x8664: "x64", 0xAA64: "arm64", 0x01C0: "arm",
            0x01C2: "arm", 0x01C4: "arm"}
SURROGATE = re.compile(r"\\u(d[89a-f][0-9a-f]{2})")


def lossless(value):
    """pefile turns each UTF-16 unit into a character on its own and writes
    every surrogate, paired or not, as a \\udXXXX escape; undo that, then
    read the units as UTF-16, an unpaired surrogate becoming U+FFFD."""
    text = value.decode("utf-8")
    text = SURROGATE.sub(lambda m: chr(int(m.group(1), 16)), text)
    return text.encode("utf-16-le", "surrogatepass").decode("utf-16-le",
                                                            "replace")


def dotted(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def translations(raw):
    """Every entry of the Translation value, from the raw resource: pefile
    keeps only the last one."""
    key = "Translation".encode("utf-16-le") + b"\0\0"
    at = raw.find(key)
    if at < 6:
        return None
    node = at - 6
    value_length = struct.unpack_from("<H", raw, node + 2)[0]
    value = (at + len(key) + 3) & ~3
    data = raw[value:value + value_length]
    return [list(struct.unpack_from("<HH", data, i))
            for i in range(0, len(data) - 3, 4)]


def expected_json(path):
    """The fields pefile predicts, or None when it cannot read the file."""
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except Exception:
        return None
    want = {"format": "PE32+" if pe.OPTIONAL_HEADER.Magic == 0x20B else "PE32",
            "machine": MACHINES.get(pe.FILE_HEADER.Machine,
                                    pe.FILE_HEADER.Machine),
            "languages": None, "version": False}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    types = [e for e in getattr(root, "entries", [])
             if e.name is None and e.id == 16 and hasattr(e, "directory")]
    names = [e for e in types[0].directory.entries
             if e.name is None and e.id == 1 and hasattr(e, "directory")] \
        if types else []
    if not names:
        return want
    data = [e for e in names[0].directory.entries
            if e.name is None and hasattr(e, "data")]
    if len(data) > 1:
        want["languages"] = [e.id for e in data]
    language = pick_language(names[0])
    if language is None:
        return want
    report = expected_for(path)
    want["version"] = report is not None
    want["ok"] = report is not None and report["stage"] == 0
    for attr in ("VS_VERSIONINFO", "VS_FIXEDFILEINFO", "FileInfo"):
        if hasattr(pe, attr):
            delattr(pe, attr)
    pe.parse_version_information(language.data.struct)
    raw = pe.get_data(language.data.struct.OffsetToData,
                      language.data.struct.Size)
    want["translations"] = translations(raw)
    first = (want["translations"] or [[None, None]])[0]
    want["language"], want["charset"] = first
    table_key = "%04x%04x" % tuple(first) if first[0] is not None else None
    strings = None
    tables = None
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if not hasattr(info, "StringTable"):
            continue
        tables = tables or []
        for table in info.StringTable:
            entries = {lossless(k): lossless(v)
                       for k, v in table.entries.items()}
            tables.append([lossless(table.LangID), entries])
            if strings is None and table_key and \
                    table.LangID.decode("latin-1").lower() == table_key:
                strings = entries
    want["strings"] = strings
    want["tables"] = tables
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) \
        else None
    want["file_version"] = fixed and dotted(fixed.FileVersionMS,
                                            fixed.FileVersionLS)
    want["product_version"] = fixed and dotted(fixed.ProductVersionMS,
                                               fixed.ProductVersionLS)
    return want


def quelvo_objects(quelvo, files, validator, invalid):
    """quelvo --json over all files: one object per path."""
    objects = {}
    batch = 200
    for i in range(0, len(files), batch):
        out = subprocess.run([quelvo, "--json"] + files[i:i + batch],
                             check=False, stdout=subprocess.PIPE).stdout
        for line in out.split(b"\n")[:-1]:
            obj = json.loads(line.decode("utf-8"))
            if any(True for _ in validator.iter_errors(obj)):
                invalid.append(obj["path"])
            objects[obj["path"]] = obj
    return objects


def differences(want, got):
    if got is None:
        return ["missing from the output"]
    if want is None:
        return [] if got["status"] != "ok" else ["pefile reads no version"]
    diffs = []
    for field in ("format", "machine"):
        if got[field] != want[field]:
            diffs.append("%s: pefile %r, quelvo %r" % (field, want[field],
                                                       got[field]))
    languages = got["languages"] and [l["id"] for l in got["languages"]]
    if languages != want["languages"]:
        diffs.append("languages: pefile %r, quelvo %r" % (want["languages"],
                                                          languages))
    if not want["version"]:
        if got["status"] == "ok":
            diffs.append("status: pefile finds no version, quelvo ok")
        return diffs
    if (got["status"] == "ok") != want["ok"]:
        diffs.append("status: quelvo %s" % got["status"])
    entries = [[t["language"]["id"], t["charset"]["id"]]
               for t in got["translations"] or []]
    if want["translations"] is not None and entries != want["translations"]:
        diffs.append("translations: pefile %r, quelvo %r"
                     % (want["translations"], entries))
    if want["language"] is not None:
        if (got["language"] or {}).get("id") != want["language"] or \
                (got["charset"] or {}).get("id") != want["charset"]:
            diffs.append("language/charset: pefile %r, quelvo %r/%r"
                         % ((want["language"], want["charset"]),
                            got["language"], got["charset"]))
    if want["strings"] is not None and got["strings"] != want["strings"]:
        diffs.append("strings: pefile %r, quelvo %r" % (want["strings"],
                                                        got["strings"]))
    tables = got["string_tables"] and [[t["key"], t["strings"]]
                                       for t in got["string_tables"]]
    if tables != want["tables"]:
        diffs.append("string_tables: pefile %r, quelvo %r"
                     % (want["tables"], tables))
    for table in got["string_tables"] or []:
        key = table["key"]
        spelled = re.fullmatch("[0-9A-Fa-f]{8}", key) and \
            [int(key[:4], 16), int(key[4:], 16)]
        named = table["language"] and \
            [table["language"]["id"], table["charset"]["id"]]
        if named != (spelled or None):
            diffs.append("string_tables: key %r read as %r" % (key, named))
    for field in ("file_version", "product_version"):
        if want[field] and got[field] != want[field]:
            diffs.append("%s: pefile %r, quelvo %r" % (field, want[field],
                                                       got[field]))
    return diffs


def main():
    quelvo, expectations_file, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    expected_disagreements = read_expectations(expectations_file)
    with open(SCHEMA) as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    invalid = []
    objects = quelvo_objects(quelvo, files, validator, invalid)
    agree = ok = strings = translations = tables = 0
    unexplained, stale = [], []
    for path in files:
        want = expected_json(path)
        got = objects.get(path)
        diffs = differences(want, got)
        name = os.path.basename(path)
        if got is not None:
            tables += len(got["string_tables"] or [])
        if got is not None and got["status"] == "ok":
            ok += 1
            strings += len(got["strings"])
            translations += len(got["translations"])
        if not diffs:
            agree += 1
            if name in expected_disagreements:
                stale.append(name)
        elif name not in expected_disagreements:
            unexplained.append((path, diffs))
    print("corpus json: %d files, %d objects valid against the schema, %d "
          "reported ok (%d strings, %d translation entries), %d string "
          "tables, %d agree with pefile on every field, %d listed "
          "disagreements, %d unexplained"
          % (len(files), len(objects) - len(invalid), ok, strings,
             translations, tables, agree, len(expected_disagreements),
             len(unexplained)))
    for path in invalid[:20]:
        print("INVALID against the schema: %s" % path)
    for path, diffs in unexplained[:20]:
        print("DISAGREE %s\n  %s" % (path, "\n  ".join(diffs)))
    for name in stale:
        print("STALE expectation, now agrees: %s" % name)
    return 1 if unexplained or stale or invalid or \
        len(objects) != len(set(files)) else 0


if __name__ == "__main__":
    sys.exit(main())
