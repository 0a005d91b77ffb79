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
import subprocess
import sys
import tempfile

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
