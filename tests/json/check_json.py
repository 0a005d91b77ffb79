#!/usr/bin/python3
"""Checks quelvo --json with a real JSON parser and the JSON Schema.

    check_json.py QUELVO TESTS_DIR

Every line quelvo writes must parse on its own (lines split at LF only),
be valid UTF-8 and validate against schema/quelvo.schema.json; so must the
JSON lines of the end-to-end cases. On top: lossless strings, names that
are not UTF-8 or hold control bytes, a folder that cannot be read (as an
ordinary user), and the exit status. Needs Debian's python3-jsonschema;
exits 77 (skipped) without it.
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
    print("json: skipped: python3-jsonschema is not installed")
    sys.exit(77)

QUELVO, TESTS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
FIXTURES = os.path.join(TESTS, "fixtures")
SCHEMA_FILE = os.path.join(TESTS, "..", "schema", "quelvo.schema.json")
failures = []
checked = 0


def fail(what):
    failures.append(what)
    print("FAIL:", what)


def objects(raw, where):
    """Parses JSON Lines, validating each object against the schema."""
    global checked
    if raw and not raw.endswith(b"\n"):
        fail("%s: output does not end with a newline" % where)
    result = []
    for number, line in enumerate(raw.split(b"\n")[:-1], 1):
        try:
            obj = json.loads(line.decode("utf-8"))
        except (UnicodeDecodeError, ValueError) as e:
            fail("%s line %d does not parse: %s" % (where, number, e))
            continue
        for error in VALIDATOR.iter_errors(obj):
            fail("%s line %d: %s" % (where, number, error.message))
        checked += 1
        result.append(obj)
    return result


LONG_OPTIONS = ("--json", "--recursive", "--all", "--utf8", "--help",
                "--version", "--dotnet")


def asks_for_json(args):
    """Whether a command line sets --json: among the long options at its
    start, before "--" or the first other word."""
    for word in args:
        if word not in LONG_OPTIONS:
            return False
        if word == "--json":
            return True
    return False


def run(args, cwd=FIXTURES, user=None):
    command = [QUELVO] + args
    if user:
        command = user + command
    p = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, check=False)
    return p.returncode, p.stdout


with open(SCHEMA_FILE) as f:
    SCHEMA = json.load(f)
jsonschema.Draft202012Validator.check_schema(SCHEMA)
VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)

# Every fixture, every failure an argument can meet.
too_long = "pe/" + "x" * 300 + ".dll"
status, out = run(["--json", "pe/*", "ne/*", "lossless/*", "nosuch.dll",
                   too_long])
found = objects(out, "fixtures")
names = sorted(os.listdir(os.path.join(FIXTURES, "pe"))) + \
    sorted(os.listdir(os.path.join(FIXTURES, "ne")))
if len(found) != len(names) + 1 + 2:
    fail("fixtures: %d objects for %d files and 2 failed arguments"
         % (len(found), len(names) + 1))
if status != 1:
    fail("fixtures: exit status %d, expected 1" % status)
by_path = {o["path"]: o for o in found}
for path, want in (("nosuch.dll", "not-found"), (too_long, "too-long"),
                   ("pe/nover.dll", "no-version"),
                   ("pe/nocompany.dll", "no-company-name"),
                   ("pe/basic.dll", "ok")):
    got = by_path.get(path, {}).get("status")
    if got != want:
        fail("%s: status %r, expected %r" % (path, got, want))

# Text no code page holds comes through whole.
unicode = by_path.get("lossless/unicode.dll", {})
want_strings = {
    "CompanyName": "M\u00fcller & S\u00f6hne",
    "FileDescription": "\u4e2d\u6587 \U0001F600 ok",
    "FileVersion": "2.0.0.1",
    "Comments": "lone \ufffd high, lone \ufffd low, end \ufffd",
    "Quoted": 'say "hi" \\ back',
    "Schl\u00fcssel": "\x01\x1b[31m\x85\x7f",
    "Empty": "",
    "ARatherLongCustomKeyName": "long",
}
if unicode.get("strings") != want_strings:
    fail("lossless/unicode.dll strings: %r" % (unicode.get("strings"),))
if list(unicode.get("strings", {})) != list(want_strings):
    fail("lossless/unicode.dll: strings not in stored order")

# A run in which everything is reported in full exits with 0.
status, out = run(["--json", "-d", "pe/basic.dll", "pe/app*.exe"])
if status != 0 or len(objects(out, "all ok")) != 3:
    fail("all ok: exit status %d" % status)

# --dotnet: a "dotnet" key on every object, last; null for a native file
# and an argument not examined; the identity and the comparison with the
# version resource for the .NET fixtures.
status, out = run(["--json", "--dotnet", "dotnet/*", "dotnet/de/*",
                   "pe/basic.dll", "nosuch.dll"])
found = objects(out, "dotnet")
by_path = {o["path"]: o for o in found}
for o in found:
    if list(o)[-1] != "dotnet":
        fail("dotnet: %s: the key is missing or not last" % o["path"])
for path in ("pe/basic.dll", "nosuch.dll"):
    if by_path.get(path, {"dotnet": 1})["dotnet"] is not None:
        fail("dotnet: %s: not null" % path)
want = {
    "dotnet/attrs.dll": ("attrs", "1.2.3.4", "", None, False),
    "dotnet/strong.dll": ("strong", "2.0.0.0", "", "6cab93588d860294", False),
    "dotnet/refs.exe": ("refs", "3.1.0.0", "", None, True),
    "dotnet/de/satellite.resources.dll": ("satellite.resources", "1.2.3.4",
                                          "de-DE", None, None),
}
for path, (name, version, culture, token, mismatch) in want.items():
    d = by_path.get(path, {}).get("dotnet") or {}
    a = d.get("assembly") or {}
    got = (a.get("name"), a.get("version"), a.get("culture"),
           a.get("public_key_token"), d.get("version_mismatch"))
    if got != (name, version, culture, token, mismatch):
        fail("dotnet: %s: %r" % (path, got))
module = (by_path.get("dotnet/module.netmodule", {}).get("dotnet") or {})
if module.get("assembly", 1) is not None or module.get("module") != \
        "module.netmodule":
    fail("dotnet: module.netmodule: %r" % (module,))
bundle = (by_path.get("dotnet/bundle6.exe", {}).get("dotnet") or {})
if ((bundle.get("host") or {}).get("bundle") or {}).get("main_assembly") != \
        "app.dll":
    fail("dotnet: bundle6.exe: %r" % (bundle,))

# The JSON lines the end-to-end cases expect are held to the schema too.
cases = os.path.join(TESTS, "e2e", "cases")
for name in sorted(os.listdir(cases)):
    if name.endswith(".out"):
        with open(os.path.join(cases, name[:-4] + ".args")) as f:
            if asks_for_json(f.read().split("\n")):
                with open(os.path.join(cases, name), "rb") as g:
                    objects(g.read(), "e2e " + name)

scratch = tempfile.mkdtemp()
try:
    os.chmod(scratch, 0o755)
    basic = os.path.join(FIXTURES, "pe", "basic.dll")
    # Names that are not UTF-8, and control bytes in a name.
    odd = os.path.join(scratch.encode(), b"odd")
    os.mkdir(odd)
    for name in (b"\xff\xfe.dll", b"caf\xe9.dll", b"ctl\x01\x1b.dll",
                 "caf\u00e9.dll".encode()):
        shutil.copy(basic, os.path.join(odd, name))
    status, out = run(["--json", "odd/*"], cwd=scratch)
    paths = sorted(o["path"] for o in objects(out, "odd names"))
    want = sorted(["odd/\ufffd\ufffd.dll", "odd/caf\ufffd.dll",
                   "odd/ctl\x01\x1b.dll", "odd/caf\u00e9.dll"])
    if paths != want or status != 0:
        fail("odd names: %r, exit status %d" % (paths, status))
    if b"\x1b" in out or b"\x01" in out:
        fail("odd names: a control byte reached the output unescaped")

    # --recursive from the current folder, with no separator typed.
    tree = os.path.join(scratch, "tree")
    os.makedirs(os.path.join(tree, "sub", "locked"))
    os.makedirs(os.path.join(tree, "sub", "open"))
    shutil.copy(basic, os.path.join(tree, "sub", "x.dll"))
    shutil.copy(basic, os.path.join(tree, "sub", "locked", "y.dll"))
    shutil.copy(basic, os.path.join(tree, "sub", "open", "z.dll"))
    status, out = run(["--json", "--recursive", "*.dll"], cwd=tree)
    paths = [o["path"] for o in objects(out, "recursive")]
    if paths != ["sub/x.dll", "sub/locked/y.dll", "sub/open/z.dll"]:
        fail("recursive: %r" % paths)

    # A folder that cannot be read, as a user without root's privileges:
    # named in an object of its own, and the walk goes on.
    os.chmod(os.path.join(tree, "sub", "locked"), 0)
    user = None
    if os.geteuid() == 0:
        user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        shutil.copy(QUELVO, os.path.join(scratch, "quelvo"))
        os.chmod(os.path.join(scratch, "quelvo"), 0o755)
        QUELVO = os.path.join(scratch, "quelvo")
    if shutil.which("setpriv") or user is None:
        status, out = run(["--json", "--recursive", "*.dll"], cwd=tree,
                          user=user)
        got = [(o["path"], o["status"], o["message"])
               for o in objects(out, "unreadable folder")]
        want = [("sub/x.dll", "ok", None),
                ("sub/locked", "unreadable-folder",
                 "Unable to read folder sub/locked."),
                ("sub/open/z.dll", "ok", None)]
        if got != want or status != 1:
            fail("unreadable folder: %r, exit status %d" % (got, status))
    else:
        print("json: unreadable folder case skipped: setpriv is not installed")
    os.chmod(os.path.join(tree, "sub", "locked"), 0o755)
finally:
    shutil.rmtree(scratch)

print("json: %d objects parsed and validated, %d failures"
      % (checked, len(failures)))
sys.exit(1 if failures else 0)
