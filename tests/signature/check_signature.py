#!/usr/bin/python3
"""Checks quelvo --signature on the signed fixtures: every object against
the JSON Schema, and each fixture's facts against what the fixture build
made it to be (tests/fixtures/signed/make_signed.sh).

    check_signature.py QUELVO TESTS_DIR

Needs Debian's python3-jsonschema; exits 77 (skipped) without it.
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

try:
    import jsonschema
except ImportError:
    print("signature: skipped: python3-jsonschema is not installed")
    sys.exit(77)

QUELVO, TESTS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
FIXTURES = os.path.join(TESTS, "fixtures")
with open(os.path.join(TESTS, "..", "schema", "quelvo.schema.json")) as f:
    SCHEMA = json.load(f)
VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)
failures = []
checked = 0


def fail(what):
    failures.append(what)
    print("FAIL:", what)


def run(args, cwd=FIXTURES):
    global checked
    p = subprocess.run([QUELVO, "--json"] + args, cwd=cwd,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    found = {}
    for line in p.stdout.decode("utf-8").splitlines():
        obj = json.loads(line)
        for error in VALIDATOR.iter_errors(obj):
            fail("%s: %s" % (obj.get("path"), error.message))
        checked += 1
        found[obj["path"]] = obj["signature"]
    return found


CA = ["--ca-file", "signed/pki/ca.pem", "--crl-file", "signed/pki/inter.crl"]
signed = run(CA + ["signed/*.exe", "signed/*.dll"])

# path: (status, problem, [(depth, digest, integrity, trust, reason)],
#        timestamp kind of the first signature)
OK = "ok"
EXPECT = {
    "sha1.dll": ("signed", None, [(0, "sha1", OK, "trusted", None)], None),
    "sha256.exe": ("signed", None, [(0, "sha256", OK, "trusted", None)],
                   "rfc3161"),
    "sha384.dll": ("signed", None, [(0, "sha384", OK, "trusted", None)],
                   "rfc3161"),
    "sha512.exe": ("signed", None, [(0, "sha512", OK, "trusted", None)], None),
    "overlay.exe": ("signed", None, [(0, "sha256", OK, "trusted", None)], None),
    "countersigned.dll": ("signed", None, [(0, "sha256", OK, "trusted", None)],
                          "pkcs9"),
    "ecdsa.dll": ("signed", None, [(0, "sha256", OK, "trusted", None)],
                  "rfc3161"),
    "dual.exe": ("signed", None, [(0, "sha1", OK, "trusted", None),
                                  (1, "sha256", OK, "trusted", None)],
                 "rfc3161"),
    "nested3.exe": ("signed", None, [(0, "sha1", OK, "trusted", None),
                                     (1, "sha256", OK, "trusted", None),
                                     (1, "sha512", OK, "trusted", None)],
                    "rfc3161"),
    "expired.exe": ("signed", None,
                    [(0, "sha256", OK, "untrusted", "expired")], None),
    "expired_stamped.exe": ("signed", None,
                            [(0, "sha256", OK, "trusted", None)], "rfc3161"),
    "revoked.exe": ("signed", None,
                    [(0, "sha256", OK, "untrusted", "revoked")], "rfc3161"),
    "wrong_usage.exe": ("signed", None,
                        [(0, "sha256", OK, "untrusted", "wrong-purpose")],
                        "rfc3161"),
    "t_section_byte.exe": ("signed", None,
                           [(0, "sha256", "mismatch", "untrusted",
                             "bad-digest")], "rfc3161"),
    "t_checksum.exe": ("signed", None, [(0, "sha256", OK, "trusted", None)],
                       "rfc3161"),
    "t_appended.exe": ("malformed", "data-after-table", [], None),
    "t_truncated.exe": ("malformed", "outside-file", [], None),
    "t_table_past_end.exe": ("malformed", "outside-file", [], None),
    "t_entry_past_table.exe": ("malformed", "bad-entry", [], None),
    "t_entry_zero.exe": ("malformed", "bad-entry", [], None),
    "t_entry_ffffffff.exe": ("malformed", "bad-entry", [], None),
    "t_misaligned.exe": ("malformed", "misaligned", [], None),
    "t_table_in_headers.exe": ("malformed", "overlaps-headers", [], None),
}
for name in sorted(os.listdir(os.path.join(FIXTURES, "signed"))):
    if name.endswith((".exe", ".dll")) and name not in EXPECT:
        fail("signed/%s has no expectation here" % name)
for name, (status, problem, sigs, stamp) in sorted(EXPECT.items()):
    s = signed.get("signed/" + name)
    if s is None:
        fail("signed/%s: not reported" % name)
        continue
    # Nested signatures are the values of one SET OF, which DER sorts by
    # their bytes, not by when they were added.
    got = (s["status"], s["problem"],
           sorted((g["depth"], g["digest_algorithm"], g["integrity"],
                   g["trust"]["status"], g["trust"]["reason"])
                  for g in s["signatures"]),
           (s["signatures"][0]["timestamp"] or {}).get("kind")
           if s["signatures"] else None)
    if got != (status, problem, sorted(sigs), stamp):
        fail("signed/%s: %r, expected %r" % (name, got,
                                             (status, problem, sigs, stamp)))
    for g in s["signatures"]:
        if g["signature_valid"] is not True:
            fail("signed/%s: a signature that does not verify" % name)
        if g["integrity"] == OK and g["authentihash"] != g["signed_digest"]:
            fail("signed/%s: integrity ok with different digests" % name)
        ts = g["timestamp"]
        if ts and not (ts["signature_valid"] and ts["imprint_valid"]):
            fail("signed/%s: a timestamp that does not verify" % name)
    checksum = s["checksum"]
    if status == "signed" and name != "t_checksum.exe" and \
            name != "t_appended.exe" and name != "t_section_byte.exe" and \
            checksum["stored"] != checksum["computed"]:
        fail("signed/%s: checksum %r" % (name, checksum))

# What each bent copy tells beside its verdict.
if signed["signed/t_checksum.exe"]["checksum"]["stored"] != 0x12345678:
    fail("t_checksum.exe: the stored checksum is not the bent one")
if signed["signed/t_appended.exe"]["table"]["trailing_bytes"] != 40:
    fail("t_appended.exe: trailing bytes %r"
         % signed["signed/t_appended.exe"]["table"])
if [e["aligned"] for e in signed["signed/t_misaligned.exe"]["table"]["entries"]] != [False]:
    fail("t_misaligned.exe: entries %r" % signed["signed/t_misaligned.exe"]["table"])
stamped = signed["signed/expired_stamped.exe"]["signatures"][0]
if stamped["trust"]["checked_at"] != "2020-06-01T00:00:00Z" or \
        stamped["timestamp"]["time"] != "2020-06-01T00:00:00Z":
    fail("expired_stamped.exe: not checked at its timestamp's time: %r"
         % stamped["trust"])
first = signed["signed/sha256.exe"]["signatures"][0]
if (first["program_name"], first["program_url"]) != \
        ("Quelvo Fixture", "https://example.invalid/quelvo"):
    fail("sha256.exe: program %r" % ((first["program_name"],
                                     first["program_url"]),))
if first["signer"]["subject_cn"] != "Quelvo Fixture Signer" or \
        first["timestamp"]["authority"]["subject_cn"] != "Quelvo Test Timestamping":
    fail("sha256.exe: signer %r" % first["signer"])
if "ecdsa" not in signed["signed/ecdsa.dll"]["signatures"][0]["signature_algorithm"]:
    fail("ecdsa.dll: %r" % signed["signed/ecdsa.dll"]["signatures"][0])

# Timestamps (make_stamps.sh): a signer expired since 2021, stamped in
# 2020; only a stamp from an authority the CA vouches for, for time
# stamping, makes it trusted. The rest must say why not.
stamps = run(["--ca-file", "signed/stamps/pki/ca.pem", "signed/stamps/*.exe",
              "signed/stamps/*.dll"])
for path, s in sorted(stamps.items()):
    g = s["signatures"][0]
    ts = g["timestamp"]
    good = os.path.basename(path) in ("stamped.exe", "keyid.exe",
                                      "pkcs9_stamped.dll")
    want = ("trusted", None) if good else ("untrusted", "expired")
    if (g["trust"]["status"], g["trust"]["reason"]) != want or \
            ts["time"] != "2020-06-01T00:00:00Z" or \
            (ts["trust"]["status"] == "trusted") != good or \
            (g["trust"]["checked_at"] == ts["time"]) != good:
        fail("%s: trust %r, timestamp %r" % (path, g["trust"], ts))
if len(stamps) != 8:
    fail("stamps: %d files" % len(stamps))

# Revocation needs the CRL; Debian's CAs know nothing of the test PKI.
plain = run(["--ca-file", "signed/pki/ca.pem", "signed/revoked.exe"])
if plain["signed/revoked.exe"]["signatures"][0]["trust"]["status"] != "trusted":
    fail("revoked.exe without a CRL: %r" % plain["signed/revoked.exe"])
if os.path.exists("/etc/ssl/certs/ca-certificates.crt"):
    debian = run(["--ca-file", "/etc/ssl/certs/ca-certificates.crt",
                  "signed/sha256.exe"])
    trust = debian["signed/sha256.exe"]["signatures"][0]["trust"]
    if (trust["status"], trust["reason"]) != ("untrusted", "unknown-issuer"):
        fail("sha256.exe against Debian's CAs: %r" % trust)
nothing = run(["--signature", "signed/sha256.exe"])
if nothing["signed/sha256.exe"]["signatures"][0]["trust"]["status"] != "not-checked":
    fail("sha256.exe without CAs: %r" % nothing["signed/sha256.exe"])

# A hashed folder of CAs, as openssl rehash makes it, instead of a file.
if shutil.which("openssl"):
    folder = tempfile.mkdtemp()
    try:
        shutil.copy(os.path.join(FIXTURES, "signed", "pki", "root.pem"), folder)
        subprocess.run(["openssl", "rehash", folder], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        hashed = run(["--ca-path", folder, "signed/sha1.dll"])
        trust = hashed["signed/sha1.dll"]["signatures"][0]["trust"]["status"]
        if trust != "trusted":
            fail("sha1.dll with --ca-path: %s" % trust)
    finally:
        shutil.rmtree(folder)

# Catalogs: an unsigned file the catalog lists, one it does not, a signed
# one (its own signature comes first), and the same catalog with its
# signature broken, which lists nothing.
catalog = run(["--catalog-dir", "signed/catalogs", "--ca-file",
               "signed/pki/ca.pem", "pe/basic.dll", "pe/app32.exe",
               "signed/sha1.dll"])
basic = catalog["pe/basic.dll"]
if basic["status"] != "catalog" or basic["catalog"]["digest_algorithm"] != "sha256" \
        or basic["catalog"]["trust"]["status"] != "trusted" \
        or basic["catalog"]["signer"]["subject_cn"] != "Quelvo Fixture Signer":
    fail("pe/basic.dll with the catalog: %r" % basic)
if catalog["pe/app32.exe"]["status"] != "none":
    fail("pe/app32.exe with the catalog: %r" % catalog["pe/app32.exe"])
if catalog["signed/sha1.dll"]["status"] != "signed":
    fail("signed/sha1.dll with the catalog: %r" % catalog["signed/sha1.dll"])
scratch = tempfile.mkdtemp()
try:
    data = bytearray(open(os.path.join(FIXTURES, "signed", "catalogs",
                                       "quelvo.cat"), "rb").read())
    data[len(data) - 40] ^= 0x55  # inside the signer's signature value
    os.mkdir(os.path.join(scratch, "sub"))
    with open(os.path.join(scratch, "sub", "BROKEN.CAT"), "wb") as f:
        f.write(data)
    with open(os.path.join(scratch, "notes.txt"), "w") as f:
        f.write("not a catalog")
    broken = run(["--catalog-dir", scratch, "pe/basic.dll"])
    if broken["pe/basic.dll"]["status"] != "none":
        fail("pe/basic.dll with a broken catalog: %r" % broken["pe/basic.dll"])
finally:
    shutil.rmtree(scratch)

# Hostile files: a signature that verifies under a chain that holds, over
# a file whose digest cannot be computed or whose entry carries bytes
# nothing signed, is never trusted.
HOSTILE = {
    "headers_short.exe": (CA, "headers-too-short", None, "untrusted",
                          "unknown-digest"),
    "data_after_signature.exe": (CA, "data-after-signature",
                                 "data-after-signature", "untrusted",
                                 "data-after-signature"),
    "zeros_after_signature.exe": (CA, "data-after-signature",
                                  "data-after-signature", "untrusted",
                                  "data-after-signature"),
    "unknown_digest.exe": (["--ca-file", "signed/hostile/pki/root.pem"], None,
                           None, "untrusted", "unknown-digest"),
    "foreign_root.exe": (["--ca-file", "signed/hostile/pki/root.pem"], None,
                         "ok", "trusted", None),
}
for name, (args, problem, integrity, trust, reason) in sorted(HOSTILE.items()):
    s = run(args + ["signed/hostile/" + name])["signed/hostile/" + name]
    first = s["signatures"][0] if s["signatures"] else {}
    got = (s["problem"], s["integrity"], first.get("trust", {}).get("status"),
           first.get("trust", {}).get("reason"))
    if got != (problem, integrity, trust, reason):
        fail("signed/hostile/%s: %r, expected %r"
             % (name, got, (problem, integrity, trust, reason)))


def timed(args, cwd=FIXTURES, timeout=20):
    """Runs quelvo; (status, stdout, stderr, seconds), or None when it
    does not finish in time."""
    start = time.monotonic()
    try:
        p = subprocess.run([QUELVO] + args, cwd=cwd, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    return p.returncode, p.stdout, p.stderr, time.monotonic() - start


# A CRL file gives revocation lists only, PEM or DER: the certificate of a
# "CRL file" is no trust anchor, and without a CA nothing is checked.
r = timed(["--json", "--crl-file", "signed/hostile/pki/root-and-crl.pem",
           "signed/hostile/foreign_root.exe"])
if r is None or r[0] != 0 or \
        json.loads(r[1])["signature"]["signatures"][0]["trust"]["status"] != "not-checked" \
        or b"holds 1 certificate, ignored" not in r[2]:
    fail("a certificate in the CRL file: %r" % (r,))
scratch = tempfile.mkdtemp()
try:
    if shutil.which("openssl"):
        der = os.path.join(scratch, "inter.der")
        subprocess.run(["openssl", "crl", "-in", os.path.join(
            FIXTURES, "signed", "pki", "inter.crl"), "-outform", "DER",
            "-out", der], check=True, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        trust = run(["--ca-file", "signed/pki/ca.pem", "--crl-file", der,
                     "signed/revoked.exe"])["signed/revoked.exe"]
        if trust["signatures"][0]["trust"]["reason"] != "revoked":
            fail("revoked.exe with a DER CRL: %r" % trust["signatures"][0])
    # A FIFO for a CA or CRL file is refused at once, never waited on.
    fifo = os.path.join(scratch, "fifo.pem")
    os.mkfifo(fifo)
    for option in ("--ca-file", "--crl-file"):
        r = timed([option, fifo, "pe/basic.dll"], timeout=10)
        if r is None or r[0] != 1 or b"is not a regular file" not in r[2]:
            fail("%s naming a FIFO: %r" % (option, r))

    # A catalog folder of junk: 20 sparse 256 MiB .cat files, a FIFO and
    # a device among them, rejected on their first bytes or never opened,
    # and counted on standard error; the real catalog still serves.
    folder = os.path.join(scratch, "catalogs")
    os.mkdir(folder)
    shutil.copy(os.path.join(FIXTURES, "signed", "catalogs", "quelvo.cat"),
                folder)
    for i in range(20):
        with open(os.path.join(folder, "junk%02d.cat" % i), "wb") as f:
            f.truncate(256 << 20)
    os.mkfifo(os.path.join(folder, "pipe.cat"))
    os.symlink("/dev/zero", os.path.join(folder, "zero.cat"))
    r = timed(["--json", "--catalog-dir", folder, "pe/basic.dll"], timeout=60)
    if r is None or r[0] != 0 or \
            json.loads(r[1])["signature"]["status"] != "catalog":
        fail("a catalog folder of junk: %r" % (r,))
    else:
        want = (b"quelvo: --catalog-dir: 1 catalog read, 20 rejected (20 not a "
                b"signed catalog), 2 unreadable (2 not a regular file)\n")
        if r[2] != want:
            fail("a catalog folder of junk told %r, not %r" % (r[2], want))
        if r[3] > 5:
            fail("a catalog folder of junk took %.1f s" % r[3])

    # 65,535 sections over the same megabyte: the digest would read 64 GiB
    # of a 3.6 MiB file, and is refused before anything is read.
    image = bytearray(open(os.path.join(FIXTURES, "signed", "sha256.exe"),
                           "rb").read())
    nt = struct.unpack_from("<I", image, 0x3C)[0]
    optional = nt + 24
    directory = optional + 112 + 4 * 8
    table, size = struct.unpack_from("<II", image, directory)
    signature = bytes(image[table:table + size])
    sections = optional + struct.unpack_from("<H", image, nt + 20)[0]
    count, data = 65535, 1 << 20
    start = (sections + 40 * count + 0xFFF) & ~0xFFF
    head = image[:sections]
    struct.pack_into("<H", head, nt + 6, count)
    struct.pack_into("<I", head, optional + 60, start)
    header = bytearray(40)
    header[:5] = b".data"
    struct.pack_into("<IIII", header, 8, data, 0x1000, data, start)
    body = head + header * count
    body += bytes(start - len(body)) + bytes(i % 251 for i in range(data))
    struct.pack_into("<II", body, directory, len(body), size)
    path = os.path.join(scratch, "sections.exe")
    with open(path, "wb") as f:
        f.write(body + signature)
    r = timed(["--json", "--signature", path], timeout=60)
    if r is None or json.loads(r[1])["signature"]["problem"] != "sections-overlap":
        fail("65,535 sections over one megabyte: %r" % (r and r[1][:300],))
    elif r[3] > 5:
        fail("65,535 sections over one megabyte took %.1f s" % r[3])
finally:
    shutil.rmtree(scratch)

# An option without its value (a usage error, 2), and a CA file that
# cannot be read (1), stop the run before any file.
p = subprocess.run([QUELVO, "--ca-file"], cwd=FIXTURES,
                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
if p.returncode != 2 or p.stdout or not p.stderr.startswith(b"quelvo: "):
    fail("['--ca-file']: exit status %d, output %r, message %r"
         % (p.returncode, p.stdout[:60], p.stderr))
for args in (["--catalog-dir", "nosuch", "pe/basic.dll"],
             ["--ca-file", "nosuch.pem", "pe/basic.dll"],
             ["--ca-path", "nosuch", "pe/basic.dll"],
             ["--ca-path", "pe/basic.dll", "pe/basic.dll"],
             ["--crl-file", "pe/basic.dll", "pe/basic.dll"]):
    p = subprocess.run([QUELVO] + args, cwd=FIXTURES, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE)
    if p.returncode != 1 or p.stdout or not p.stderr.startswith(b"quelvo: "):
        fail("%r: exit status %d, output %r, message %r"
             % (args, p.returncode, p.stdout[:60], p.stderr))

print("signature: %d objects checked, %d failed" % (checked, len(failures)))
sys.exit(1 if failures else 0)
