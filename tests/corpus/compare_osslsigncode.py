#!/usr/bin/python3
"""Compares quelvo --signature with osslsigncode verify, file by file.

    compare_osslsigncode.py QUELVO CA_FILE CRL_FILE FILE...

For every file, each signature in osslsigncode's order (the primary, then
the nested ones): the digest algorithm, the digest the signature states
and the one computed from the file, the signer's serial number and the
verdict must agree; so must the PE checksum, stored and computed, and a
table osslsigncode cannot read must be one quelvo calls malformed (or
absent). The verdict is osslsigncode's "Signature verification: ok" for
that signature against quelvo's integrity ok, signature valid and chain
trusted (and, with a timestamp, the timestamp's signature and imprint
valid), both checked with the same CA and CRL files. A timestamp's time
must be the same to the second. A table of several entries, which
osslsigncode does not read, is compared entry by entry: a copy of the file
with that entry alone in its table, for each. Prints one line per
difference and a closing count, and the timestamps compared.
"""
import calendar
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import time

QUELVO, CA, CRL = sys.argv[1], sys.argv[2], sys.argv[3]
FILES = sys.argv[4:]
failures = []
compared = 0
signatures = 0


def fail(what):
    failures.append(what)
    print("FAIL:", what)


def osslsigncode(path):
    args = ["osslsigncode", "verify", "-CAfile", CA, "-TSA-CAfile", CA]
    if CRL != "-":
        args += ["-CRLfile", CRL]
    done = subprocess.run(args + ["-in", path], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=120)
    text = done.stdout.decode("utf-8", "replace")
    result = {"readable": "Unable to extract existing signature" not in text
              and "No signature found" not in text, "signatures": []}
    checksum = re.search(r"^PE checksum\s*: ([0-9A-Fa-f]+)", text, re.M)
    if checksum:
        result["checksum"] = (int(checksum.group(1), 16),) * 2
    else:
        current = re.search(r"^Current PE checksum\s*: ([0-9A-Fa-f]+)", text, re.M)
        computed = re.search(r"^Calculated PE checksum\s*: ([0-9A-Fa-f]+)", text, re.M)
        if current and computed:
            result["checksum"] = (int(current.group(1), 16),
                                  int(computed.group(1), 16))
    blocks = re.split(r"^Signature Index: \d+.*$", text, flags=re.M)[1:]
    for block in blocks:
        s = {}
        m = re.search(r"^Message digest algorithm\s+: (\S+)", block, re.M)
        s["digest"] = m.group(1).lower() if m else None
        m = re.search(r"^Current message digest\s*: ([0-9A-F]+)", block, re.M)
        s["signed"] = m.group(1).lower() if m else None
        m = re.search(r"^Calculated message digest\s*: ([0-9A-F]+)", block, re.M)
        s["computed"] = m.group(1).lower() if m else None
        m = re.search(r"Signer's certificate:\s*\n\s*-+\s*\n\s*Signer #0:\s*\n"
                      r"(?:.*\n)*?\s*Serial : ([0-9A-Fa-f]+)", block)
        s["serial"] = m.group(1).lower() if m else None
        m = re.search(r"^\s*Timestamp time: (\w+ +\d+ [\d:]+ \d+) GMT", block,
                      re.M)
        s["time"] = (time.strftime("%Y-%m-%dT%H:%M:%SZ", time.strptime(
            m.group(1), "%b %d %H:%M:%S %Y")) if m else None)
        verdicts = re.findall(r"^Signature verification: (\w+)", block, re.M)
        s["ok"] = bool(verdicts) and verdicts[-1] == "ok"
        result["signatures"].append(s)
    return result


def quelvo(path):
    args = [QUELVO, "--json", "--ca-file", CA]
    if CRL != "-":
        args += ["--crl-file", CRL]
    done = subprocess.run(args + [path], stdout=subprocess.PIPE, timeout=120)
    return json.loads(done.stdout.decode("utf-8").splitlines()[0])["signature"]


def verdict(g):
    ts = g["timestamp"]
    return (g["integrity"] == "ok" and g["signature_valid"] is True and
            g["trust"]["status"] == "trusted" and
            (ts is None or (ts["signature_valid"] is True and
                            ts["imprint_valid"] is True)))


def serial(text):
    return (text or "").lstrip("0") or "0"


def single_entries(path, folder):
    """Copies of a PE file whose certificate table holds more than one
    entry (shimx64.efi.signed: one signature by each of Microsoft's UEFI
    CAs, 2011 and 2023), each with one entry alone; none for other files."""
    data = open(path, "rb").read()
    try:
        nt = struct.unpack_from("<I", data, 0x3C)[0]
        optional = nt + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directory = optional + (96 if magic == 0x10B else 112) + 4 * 8
        table, size = struct.unpack_from("<II", data, directory)
        entries, at = [], table
        while at + 8 <= table + size and at + 8 <= len(data):
            length = struct.unpack_from("<I", data, at)[0]
            if length < 8:
                return []
            entries.append(data[at:at + length])
            at += (length + 7) & ~7
    except struct.error:
        return []
    if len(entries) < 2:
        return []
    copies = []
    for i, entry in enumerate(entries):
        entry += b"\0" * (-len(entry) % 8)
        copy = bytearray(data[:table] + entry)
        struct.pack_into("<I", copy, directory + 4, len(entry))
        name = os.path.join(folder, "%s#%d" % (os.path.basename(path), i + 1))
        open(name, "wb").write(copy)
        copies.append(name)
    return copies


scratch = tempfile.mkdtemp()
split = []
for path in FILES:
    split += single_entries(path, scratch) if os.path.basename(path) == \
        "shimx64.efi.signed" else []
FILES += split
stamps = []

# Files on which the two disagree by design, by base name, and why.
EXPLAINED = {
    "shimx64.efi.signed": "two WIN_CERTIFICATE entries, one signature by "
    "each of Microsoft's UEFI CAs (2011 and 2023), as UEFI firmware reads "
    "them: osslsigncode reads only a table of one entry and calls it "
    "corrupted; quelvo reports both signatures, each verified (compared "
    "entry by entry instead)",
    "t_misaligned.exe": "the certificate table starts 4 bytes off an 8-byte "
    "boundary, which the PE format requires of it: osslsigncode does not "
    "check, quelvo reports the table malformed (misaligned)",
}
explained = []
# Files whose verdicts differ by design, by base name, and why; the rest
# of what they show is compared.
FORGED_STAMP = ("osslsigncode cannot decode an RFC 3161 token in CMS form "
                "(a version 3 SignerInfo, as Microsoft's are), yet checks "
                "the expired signer at the time it states: quelvo verifies "
                "the token and uses its time only from an authority the CA "
                "vouches for, for time stamping, and calls it untrusted")
VERDICT_EXPLAINED = {
    "keyid_forged.exe": FORGED_STAMP + " (a self-signed authority)",
    "keyid_signer.exe": FORGED_STAMP + " (a code signer, no authority)",
    "keyid_nocerts.exe": FORGED_STAMP + " (no certificate to check it by)",
}

for path in FILES:
    compared += 1
    base = path.rsplit("/", 1)[-1]
    if base in EXPLAINED:
        explained.append("%s: %s" % (path, EXPLAINED[base]))
        continue
    theirs = osslsigncode(path)
    ours = quelvo(path)
    if ours["checksum"] and "checksum" in theirs:
        mine = (ours["checksum"]["stored"], ours["checksum"]["computed"])
        if mine != theirs["checksum"]:
            fail("%s: checksum %r, osslsigncode %r" % (path, mine,
                                                       theirs["checksum"]))
    if not theirs["readable"] or not theirs["signatures"]:
        if ours["status"] not in ("malformed", "none"):
            fail("%s: osslsigncode reads no signature, quelvo says %s"
                 % (path, ours["status"]))
        continue
    if ours["status"] != "signed":
        fail("%s: osslsigncode reads %d signatures, quelvo says %s (%s)"
             % (path, len(theirs["signatures"]), ours["status"],
                ours["problem"]))
        continue
    if len(ours["signatures"]) != len(theirs["signatures"]):
        fail("%s: %d signatures, osslsigncode %d" % (
            path, len(ours["signatures"]), len(theirs["signatures"])))
        continue
    for i, (g, s) in enumerate(zip(ours["signatures"], theirs["signatures"])):
        signatures += 1
        # osslsigncode names no signer when the digest does not match.
        theirs_serial = serial(s["serial"]) if s["serial"] else None
        mine = (g["digest_algorithm"], g["signed_digest"], g["authentihash"],
                serial((g["signer"] or {}).get("serial"))
                if theirs_serial else None, verdict(g))
        other = (s["digest"], s["signed"], s["computed"], theirs_serial,
                 s["ok"])
        if base in VERDICT_EXPLAINED and mine[4] != other[4]:
            explained.append("%s: %s" % (path, VERDICT_EXPLAINED[base]))
            mine, other = mine[:4], other[:4]
        if mine != other:
            fail("%s signature %d: quelvo %r, osslsigncode %r"
                 % (path, i, mine, other))
        # osslsigncode stops before the timestamp when the digest differs.
        ours_time = (g["timestamp"] or {}).get("time")
        if ours_time != s["time"] and (s["time"] or
                                       s["signed"] == s["computed"]):
            fail("%s signature %d: timestamp %s, osslsigncode %s"
                 % (path, i, ours_time, s["time"]))
        elif ours_time and ours_time == s["time"]:
            stamps.append("%s signature %d: %s, osslsigncode %s"
                          % (path, i, ours_time, s["time"]))

for path in split:
    os.remove(path)
os.rmdir(scratch)
for stamp in stamps:
    print("timestamp:", stamp)
for note in explained:
    print("explained:", note)
print("osslsigncode: %d files, %d signatures compared: %d passed, %d failed"
      % (compared, signatures,
         compared - len(explained) - len(set(f.split(":")[0] for f in failures)),
         len(failures)))
sys.exit(1 if failures else 0)
