#!/usr/bin/python3
"""Checks quelvo --json with a real JSON parser and the JSON Schema.

    check_json.py QUELVO TESTS_DIR

Every line quelvo writes must parse on its own (lines split at LF only),
be valid UTF-8 and validate against schema/quelvo.schema.json; so must the
JSON lines of the end-to-end cases. On top: lossless strings, names that
are not UTF-8 or hold control bytes, a folder that cannot be read, a file
that cannot be opened and a folder named without --recursive (as an
ordinary user), the exit status, and --csv: it loads with Python's csv
module and holds, cell for cell, the values --json gives. Needs Debian's python3-jsonschema;
exits 77 (skipped) without it.
"""
import csv
import io
import hashlib
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


LONG_OPTIONS = ("--json", "--recursive", "--all", "--utf8", "--hash",
                "--help", "--version", "--signature", "--dotnet", "--lint")
VALUE_OPTIONS = ("--ca-file", "--ca-path", "--crl-file", "--catalog-dir",
                 "--expect", "--lint-ignore")


def asks_for_json(args):
    """Whether a command line sets --json, whole objects (no --fields):
    among the long options at its start, before "--" or the first other
    word; an option that takes a value takes the next word."""
    json_asked = False
    words = iter(args)
    for word in words:
        if word == "--fields":
            return False
        if word in VALUE_OPTIONS:
            next(words, None)
            continue
        if word not in LONG_OPTIONS:
            return json_asked
        if word == "--json":
            json_asked = True
    return json_asked


def value_at(obj, field):
    """The JSON value a field names: a key, a dotted path into objects, or
    a string's name in "strings"; None when there is none."""
    node = obj
    for part in field.split("."):
        if not isinstance(node, dict) or part not in node:
            node = None
            break
        node = node[part]
    else:
        return node
    if "." not in field and isinstance(obj.get("strings"), dict):
        return obj["strings"].get(field)
    return None


def as_cell(value):
    """A JSON value as a CSV cell holds it."""
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


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

# --csv: the same objects as rows, with the default columns and with chosen
# ones, loaded by the csv module; every cell holds the JSON value.
everything = ["pe/*", "ne/*", "lossless/*", "nosuch.dll"]
_, out = run(["--json"] + everything)
json_rows = [json.loads(line) for line in out.decode("utf-8").splitlines()]
for fields in (None, "path,status,version.file,version.source,fixed.file_flags,"
                     "translations,Comments,strings.CompanyName,Nothing"):
    args = ["--csv"] + (["--fields", fields] if fields else []) + everything
    status, out = run(args)
    if status != 1:
        fail("csv %s: exit status %d, expected 1" % (fields, status))
    if out and not out.endswith(b"\r\n"):
        fail("csv %s: records do not end with CR LF" % fields)
    rows = list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))
    header, body = rows[0], rows[1:]
    want_header = fields.split(",") if fields else [
        "path", "status", "format", "machine", "CompanyName", "ProductName",
        "ProductVersion", "FileVersion", "OriginalFilename", "file_version",
        "product_version", "language"]
    if header != want_header:
        fail("csv %s: header %r" % (fields, header))
    if len(body) != len(json_rows):
        fail("csv %s: %d rows for %d objects" % (fields, len(body),
                                                 len(json_rows)))
    for row, obj in zip(body, json_rows):
        want = [as_cell(value_at(obj, f)) for f in header]
        if row != want:
            fail("csv %s: %s: %r, expected %r" % (fields, obj["path"], row,
                                                  want))

# --hash: the same objects, each with "sha256" last, the digest Python's
# hashlib makes of the file (null where no file was examined); the keys
# before it as they were without the option.
hash_args = ["pe/*", "ne/*", "lossless/*", "nosuch.dll", too_long]
status, out = run(["--json", "--hash"] + hash_args)
hashed = objects(out, "fixtures --hash")
if status != 1:
    fail("fixtures --hash: exit status %d, expected 1" % status)
if len(hashed) != len(found):
    fail("fixtures --hash: %d objects, %d without it" % (len(hashed),
                                                         len(found)))
for plain, with_hash in zip(found, hashed):
    path = with_hash.get("path")
    if list(with_hash)[-1:] != ["sha256"]:
        fail("%s: sha256 is not the last key" % path)
    digest = with_hash.pop("sha256", "absent")
    if with_hash != plain or list(with_hash) != list(plain):
        fail("%s: --hash changed the other keys" % path)
    if plain["status"] in ("not-found", "too-long"):
        want = None
    else:
        with open(os.path.join(FIXTURES, path), "rb") as f:
            want = hashlib.sha256(f.read()).hexdigest()
    if digest != want:
        fail("%s: sha256 %r, expected %r" % (path, digest, want))
if any("sha256" in o for o in found):
    fail("fixtures: a sha256 key without --hash")

# --lint and --expect: every object gains "lint" and "expect", null for
# an argument that matched nothing; an error found makes the status 1.
status, out = run(["--json", "--lint", "--expect", "FileVersion~=^1\\.",
                   "--expect", "language=1033", "pe/*", "ne/*", "lossless/*",
                   "lint/*", "nosuch.dll"])
checked_objects = objects(out, "lint and expect")
if status != 1:
    fail("lint and expect: exit status %d, expected 1" % status)
for obj in checked_objects:
    if "lint" not in obj or "expect" not in obj:
        fail("%s: no lint or expect key" % obj["path"])
    elif obj["status"] == "not-found":
        if obj["lint"] is not None or obj["expect"] is not None:
            fail("%s: checks of a file not found" % obj["path"])
    elif len(obj["expect"]) != 2:
        fail("%s: %d expectations" % (obj["path"], len(obj["expect"])))
by_path = {o["path"]: o for o in checked_objects}
if [f["rule"] for f in by_path["lint/l_neutral.dll"]["lint"]] != ["QV005"]:
    fail("lint/l_neutral.dll: %r" % by_path["lint/l_neutral.dll"]["lint"])
if by_path["lint/l_clean.exe"]["lint"] != []:
    fail("lint/l_clean.exe: %r" % by_path["lint/l_clean.exe"]["lint"])
status, out = run(["--json", "--lint", "--expect", "file_version=1.2.3.4",
                   "pe/basic.dll", "lint/l_clean.exe"])
if status != 0 or len(objects(out, "checks hold")) != 2:
    fail("checks hold: exit status %d" % status)

# A run in which everything is reported in full exits with 0.
status, out = run(["--json", "-d", "pe/basic.dll", "pe/app*.exe"])
if status != 0 or len(objects(out, "all ok")) != 3:
    fail("all ok: exit status %d" % status)
status, out = run(["--json", "--hash", "-d", "pe/basic.dll", "pe/app*.exe"])
if status != 0 or len(objects(out, "all ok --hash")) != 3:
    fail("all ok --hash: exit status %d" % status)

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
        # A file that may not be read, one in a folder that may not be
        # searched, and a folder named without --recursive: none of them
        # passes for a fact about a file, and no argument vanishes.
        shutil.copy(basic, os.path.join(tree, "private.dll"))
        os.chmod(os.path.join(tree, "private.dll"), 0o600)
        status, out = run(["--json", "private.dll", "sub/locked/y.dll",
                           "sub/open", "sub/x.dll"], cwd=tree, user=user)
        got = [(o["path"], o["status"], o["message"])
               for o in objects(out, "unreadable files")]
        denied = os.strerror(13)
        want = [("private.dll", "unreadable",
                 "Unable to open file private.dll: %s." % denied),
                ("sub/locked/y.dll", "unreadable",
                 "Unable to open file sub/locked/y.dll: %s." % denied),
                ("sub/open", "folder",
                 "sub/open is a folder; --recursive walks every file below "
                 "it."),
                ("sub/x.dll", "ok", None)]
        if got != want or status != 1:
            fail("unreadable files: %r, exit status %d" % (got, status))
    else:
        print("json: unreadable folder case skipped: setpriv is not installed")
    os.chmod(os.path.join(tree, "sub", "locked"), 0o755)
finally:
    shutil.rmtree(scratch)

# --fields takes the keys and dotted paths of the objects, and the bash
# completion offers them (the program's tests hold the two lists together):
# every member the schema describes, through nested objects but not
# arrays, must be among them, and every lower-case name must be one.
def member_paths(node, prefix, out):
    while isinstance(node, dict) and "$ref" in node:
        node = SCHEMA["$defs"][node["$ref"].split("/")[-1]]
    if not isinstance(node, dict):
        return
    for alternative in node.get("oneOf", []) + node.get("anyOf", []):
        member_paths(alternative, prefix, out)
    for key, value in node.get("properties", {}).items():
        out.add(prefix + key)
        member_paths(value, prefix + key + ".", out)


described = set()
member_paths(SCHEMA, "", described)
completion = open(os.path.join(TESTS, "..", "completion", "quelvo")).read()
offered = completion.split("_quelvo_field_names='", 1)[1].split("'", 1)[0]
offered = {name for name in offered.split() if not name[0].isupper()}
for name in sorted(described - offered):
    fail("--fields does not take %s, which the schema describes" % name)
for name in sorted(offered - described):
    fail("--fields takes %s, which the schema does not describe" % name)

print("json: %d objects parsed and validated, %d failures"
      % (checked, len(failures)))
sys.exit(1 if failures else 0)
