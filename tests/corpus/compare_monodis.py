#!/usr/bin/python3
"""Checks quelvo --json --dotnet against an independent reader, Mono's
monodis (--assembly and --assemblyref).

For every file given, quelvo --json --dotnet says whether it is a .NET file
and reads its identity and references; monodis, run on each file quelvo
calls .NET, prints its Assembly and AssemblyRef tables. The two must give
the same assembly name, version, culture, flags, public key (and so token,
which monodis does not print: it is computed here from the key it dumps)
and hash algorithm, and the same references, each with its name, version,
flags and key or token (monodis prints no reference's culture). A file
quelvo calls .NET must be one monodis reads, and the reverse for the files
given that quelvo passes over is not checked: monodis reads no native file.

    compare_monodis.py QUELVO EXPECTATIONS FILE...

EXPECTATIONS lists known disagreements, "base-name: why", as the other
corpus comparisons read them. Prints a summary line "N passed, N failed";
exit status 0 when every disagreement is listed.
"""
import hashlib
import json
import os
import re
import subprocess
import sys

BATCH = 200


def read_expectations(path):
    known = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, _, why = line.partition(":")
            known[name.strip()] = why.strip()
    return known


def token_of(key):
    return hashlib.sha1(key).digest()[-8:][::-1].hex()


def dump_bytes(lines, i):
    """The hex dump lines monodis prints from lines[i] on: its bytes and
    the index of the first line after them."""
    data = bytearray()
    while i < len(lines) and re.match(r"^0x[0-9a-fA-F]{8}:", lines[i]):
        data += bytes(int(b, 16) for b in lines[i].split(":", 1)[1].split())
        i += 1
    return bytes(data), i


def monodis(option, path):
    run = subprocess.run(["monodis", option, path], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=120)
    return run.returncode, run.stdout.decode("utf-8", "replace").splitlines()


def monodis_assembly(path):
    """The Assembly table's row as monodis prints it, or None for a module
    without one."""
    code, lines = monodis("--assembly", path)
    if code != 0:
        return "error"
    row = {}
    i = 0
    while i < len(lines):
        line = lines[i]
        field, _, value = line.partition(":")
        value = value.strip()
        if field == "Name":
            row["name"] = value
        elif field == "Hash Algoritm":
            row["hash"] = int(value, 16)
        elif field == "Version":
            row["version"] = value
        elif field == "Flags":
            row["flags"] = int(value, 16)
        elif field == "Culture":
            row["culture"] = line.partition(":")[2].strip()
        elif field == "PublicKey":
            key, i = dump_bytes(lines, i + 2)
            row["key"] = key
            continue
        i += 1
    return row if "name" in row else None


def monodis_references(path):
    code, lines = monodis("--assemblyref", path)
    if code != 0:
        return "error"
    refs = []
    i = 0
    while i < len(lines):
        m = re.match(r"^\d+: Version=(\S+)$", lines[i])
        if m:
            refs.append({"version": m.group(1), "key": b""})
        elif refs and lines[i].startswith("\tName="):
            refs[-1]["name"] = lines[i][len("\tName="):]
        elif refs and lines[i].startswith("\tFlags="):
            refs[-1]["flags"] = int(lines[i][len("\tFlags="):], 16)
        elif refs and lines[i] == "\tPublic Key:":
            refs[-1]["key"], i = dump_bytes(lines, i + 1)
            continue
        i += 1
    return refs


def quelvo_objects(quelvo, files):
    objects = {}
    for start in range(0, len(files), BATCH):
        batch = files[start:start + BATCH]
        run = subprocess.run([quelvo, "--json", "--dotnet", "--"] + batch,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        for line in run.stdout.decode("utf-8").splitlines():
            obj = json.loads(line)
            objects[obj["path"]] = obj
    return objects


def compare_file(path, dotnet):
    """The disagreements on one .NET file, as text."""
    problems = []
    theirs = monodis_assembly(path)
    if theirs == "error":
        return ["monodis could not read it"]
    ours = dotnet["assembly"]
    if theirs is None or ours is None:
        if (theirs is None) != (ours is None):
            problems.append("assembly row: quelvo %s, monodis %s" %
                            ("none" if ours is None else "one",
                             "none" if theirs is None else "one"))
    else:
        key = bytes.fromhex(ours["public_key"] or "")
        pairs = [("name", ours["name"], theirs.get("name")),
                 ("version", ours["version"], theirs.get("version")),
                 ("culture", ours["culture"], theirs.get("culture")),
                 ("flags", ours["flags"], theirs.get("flags")),
                 ("hash algorithm", ours["hash_algorithm"]["id"],
                  theirs.get("hash")),
                 ("public key", key, theirs.get("key", b"")),
                 ("token", ours["public_key_token"],
                  token_of(theirs["key"]) if theirs.get("key") else None)]
        for what, a, b in pairs:
            if a != b:
                problems.append("%s: quelvo %r, monodis %r" % (what, a, b))
    refs = monodis_references(path)
    if refs == "error":
        return problems + ["monodis could not read its references"]
    if dotnet["reference_count"] != len(refs):
        problems.append("references: quelvo %s, monodis %d" %
                        (dotnet["reference_count"], len(refs)))
    for n, (a, b) in enumerate(zip(dotnet["references"], refs), 1):
        whole = (b.get("flags", 0) & 1) != 0
        token = (token_of(b["key"]) if whole and b["key"] else
                 b["key"].hex() if len(b["key"]) == 8 else None)
        key = bytes.fromhex(a["public_key"] or "")
        pairs = [("name", a["name"], b.get("name")),
                 ("version", a["version"], b["version"]),
                 ("flags", a["flags"], b.get("flags")),
                 ("key", key, b["key"] if whole else b""),
                 ("token", a["public_key_token"], token)]
        for what, x, y in pairs:
            if x != y:
                problems.append("reference %d %s: quelvo %r, monodis %r" %
                                (n, what, x, y))
    return problems


def main():
    quelvo, expectations = sys.argv[1], sys.argv[2]
    files = sys.argv[3:]
    known = read_expectations(expectations)
    objects = quelvo_objects(quelvo, files)
    passed = failed = explained = native = 0
    for path in files:
        obj = objects.get(path)
        if obj is None:
            print("FAIL %s: quelvo wrote no object for it" % path)
            failed += 1
            continue
        dotnet = obj.get("dotnet")
        if dotnet is None or dotnet["host"] is not None:
            native += 1
            continue
        problems = compare_file(path, dotnet)
        if dotnet["malformed"] is not None:
            problems.append("quelvo calls it malformed: %s" %
                            dotnet["malformed"])
        name = os.path.basename(path)
        if not problems:
            passed += 1
        elif name in known:
            explained += 1
            print("known %s: %s (%s)" % (path, "; ".join(problems),
                                         known[name]))
        else:
            failed += 1
            print("FAIL %s: %s" % (path, "; ".join(problems)))
    print("monodis: %d .NET files compared, %d native files passed over, "
          "%d known differences" % (passed + failed + explained, native,
                                    explained))
    print("%d passed, %d failed" % (passed + explained, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
