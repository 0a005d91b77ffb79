#!/usr/bin/env python3
"""--json and --csv on a terminal and to a pipe.

On a terminal (a pseudo-terminal here) every control character and every
bidirectional control that a name or value holds is shown as its \\u escape;
to a pipe the same run writes the bytes exactly. The text report without
long options prints the same on both.

    terminal.py QUELVO TESTS_DIR
"""
import os
import pty
import shutil
import subprocess
import sys
import tempfile

ESC = b"\x1b"
RLO = "\u202e".encode()
C1 = "\u009b".encode()


def on_pty(argv, cwd):
    """The run's standard output through a pseudo-terminal, line ends as
    the program wrote them (the terminal's own CR before LF taken out)."""
    master, slave = pty.openpty()
    # No echo, no output processing: the bytes as the program wrote them.
    import termios
    attrs = termios.tcgetattr(slave)
    attrs[1] &= ~termios.OPOST
    termios.tcsetattr(slave, termios.TCSANOW, attrs)
    proc = subprocess.Popen(argv, cwd=cwd, stdout=slave,
                            stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL)
    os.close(slave)
    out = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # EIO: the program closed its end
            break
        if not chunk:
            break
        out += chunk
    os.close(master)
    proc.wait(timeout=30)
    return out


def on_pipe(argv, cwd):
    return subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=30).stdout


def main():
    quelvo, tests = sys.argv[1], sys.argv[2]
    try:
        pty.openpty()
    except OSError:
        print("no pseudo-terminal here: skipped")
        return 77
    failures = []
    passed = []

    def check(what, ok):
        (passed if ok else failures).append(what)

    work = tempfile.mkdtemp()
    try:
        name = b"x" + ESC + b"[31m" + RLO + b"lld." + C1 + b"2J.dll"
        shutil.copy(os.path.join(tests, "fixtures", "pe", "basic.dll"),
                    os.path.join(work.encode(), name))
        for form in ("--csv", "--json"):
            argv = [quelvo, form, "*"]
            tty = on_pty(argv, work)
            pipe = on_pipe(argv, work)
            # A pipe gets the data exactly: the name's bytes in CSV, its
            # JSON escapes (\u001b, \u009b; the override raw) in JSON.
            if form == "--csv":
                check(form + " pipe keeps the name", name in pipe)
            else:
                check(form + " pipe keeps the override", RLO in pipe)
            for raw in (ESC, RLO, C1):
                check(form + " terminal shows no raw %r" % raw, raw not in tty)
            check(form + " terminal shows the escapes",
                  b"\\u001b[31m\\u202elld.\\u009b2J.dll" in tty)
            # Only the escapes differ.
            shown = (pipe.replace(ESC, b"\\u001b").replace(RLO, b"\\u202e")
                     .replace(C1, b"\\u009b"))
            check(form + " terminal differs by the escapes alone", tty == shown)
            if form == "--csv":
                check(form + " rows end in CR LF on both", tty.endswith(b"\r\n"))
        # The text report is the same on a terminal as to a pipe, and
        # keeps the name's override; --utf8 shows it as an escape.
        argv = [quelvo, "*"]
        text = on_pipe(argv, work)
        check("text report unchanged on a terminal", on_pty(argv, work) == text)
        check("text report keeps the override", RLO in text)
        utf8 = on_pipe([quelvo, "--utf8", "*"], work)
        check("--utf8 escapes the override in the path",
              RLO not in utf8 and b"\\u202elld.?2J.dll" in utf8)
    finally:
        shutil.rmtree(work)
    for f in failures:
        print("FAIL:", f)
    print("%d passed, %d failed" % (len(passed), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
