#!/usr/bin/env python3
"""Runs the orvik binary on golden command-line cases and compares output exactly.

A case is a folder holding:
  args    one argument per line (the words after `orvik`); absent or empty file: no arguments
  stdin   optional; fed to standard input (otherwise standard input is empty)
  env     optional; KEY=VALUE lines set variables, -KEY lines remove one
  stdout_to   optional; a file (such as /dev/full) that standard output is written to instead
          of being captured (the expected stdout is then empty)
  terminal    optional, empty; standard output and standard error are pseudo-terminals (raw
          mode, so bytes arrive as written)
  memory_limit  optional; the process's address space is capped at this many MiB (to run out of
          memory on purpose); such cases are skipped under --sanitized, since a sanitizer
          reserves far more address space than any cap
  mask_times  optional; timings vary from run to run, so in every "N.DDD ms" figure of the
          actual standard output the digits become "#", keeping the count of decimals
          ("0.017286 ms" becomes "#.###### ms") before the comparison; the expected stdout holds
          the masked figures, and --update writes them masked
  stdout, stderr, status   the expected standard output, standard error and exit status
The binary runs with the working directory tests/data. In args and env, @DATA@, @STANDIN@ and
@PYTHON3@ stand for the absolute tests/data and tests/python_standin folders and the machine's
python3. Cases are found recursively below the folders given on the command line. A case that cannot run
on this machine (no pseudo-terminal to open, a memory cap under a sanitizer) is reported as
skipped, with the reason, and does not fail the run.
"""
import argparse
import difflib
import os
import pty
import re
import resource
import select
import shutil
import subprocess
import sys
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
DATA = os.path.join(TESTS, "data")
STANDIN = os.path.join(TESTS, "python_standin")
TIME = re.compile(rb"\b\d+\.(\d+) ms\b")


def mask_times(text):
    return TIME.sub(lambda m: b"#." + b"#" * len(m.group(1)) + b" ms", text)
PYTHON3 = shutil.which("python3", path="/usr/bin:/bin") or shutil.which("python3") or "python3"


def substitute(text):
    return (text.replace("@DATA@", DATA).replace("@STANDIN@", STANDIN)
            .replace("@PYTHON3@", PYTHON3))


def read(path, default=None):
    if not os.path.exists(path):
        return default
    with open(path, "rb") as f:
        return f.read()


def find_cases(roots):
    cases = []
    for root in roots:
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            if "status" in filenames or "args" in filenames:
                cases.append(dirpath)
    return sorted(cases)


class Skip(Exception):
    """A case that cannot run here; the text says why."""


def address_space_cap(mib):
    def cap():
        limit = mib * 1024 * 1024
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    return cap


def run_case(binary, case, sanitized=False):
    # surrogateescape keeps bytes that are not UTF-8, so a case can pass raw bytes as arguments.
    raw_args = read(os.path.join(case, "args"), b"").decode("utf-8", "surrogateescape")
    args = [substitute(a) for a in raw_args.split("\n")]
    if args and args[-1] == "":
        args.pop()
    env = dict(os.environ)
    env.pop("KALTERA_PYTHON", None)
    env_text = read(os.path.join(case, "env"))
    if env_text is not None:
        for line in env_text.decode("utf-8").splitlines():
            if not line:
                continue
            if line.startswith("-"):
                env.pop(line[1:], None)
            else:
                key, _, value = line.partition("=")
                env[key] = substitute(value)
    stdin = read(os.path.join(case, "stdin"), b"")
    stdout_to = read(os.path.join(case, "stdout_to"))
    memory_limit = read(os.path.join(case, "memory_limit"))
    limit = None
    if memory_limit is not None:
        if sanitized:
            raise Skip("a memory cap cannot be set under a sanitizer")
        limit = address_space_cap(int(memory_limit.decode().strip()))
    if os.path.exists(os.path.join(case, "terminal")):
        return run_on_terminals([binary] + args, stdin, env)
    if stdout_to is not None:
        with open(stdout_to.decode("utf-8").strip(), "wb") as out:
            proc = subprocess.run([binary] + args, input=stdin, stdout=out, stderr=subprocess.PIPE,
                                  cwd=DATA, env=env, timeout=120)
        return b"", proc.stderr, proc.returncode
    proc = subprocess.run([binary] + args, input=stdin, capture_output=True, cwd=DATA, env=env,
                          timeout=120, preexec_fn=limit)
    return proc.stdout, proc.stderr, proc.returncode


def run_on_terminals(command, stdin, env):
    try:
        masters, slaves = zip(pty.openpty(), pty.openpty())
    except OSError as e:
        raise Skip("no pseudo-terminal can be opened: %s" % e)
    for slave in slaves:
        tty.setraw(slave)
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=slaves[0], stderr=slaves[1],
                            cwd=DATA, env=env)
    for slave in slaves:
        os.close(slave)
    proc.stdin.write(stdin)
    proc.stdin.close()
    received = {fd: b"" for fd in masters}
    open_fds = list(masters)
    while open_fds:
        ready, _, _ = select.select(open_fds, [], [], 120)
        if not ready:
            proc.kill()
            break
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # EIO: the last writer closed the terminal
                chunk = b""
            if chunk:
                received[fd] += chunk
            else:
                open_fds.remove(fd)
    status = proc.wait(timeout=120)
    for fd in masters:
        os.close(fd)
    return received[masters[0]], received[masters[1]], status


def show_diff(name, expected, actual):
    exp = expected.decode("utf-8", "replace").splitlines(keepends=True)
    act = actual.decode("utf-8", "replace").splitlines(keepends=True)
    return "".join(difflib.unified_diff(exp, act, "expected " + name, "actual " + name))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--update", action="store_true",
                        help="write the expected files from the current output")
    parser.add_argument("--sanitized", action="store_true",
                        help="the binary runs under a sanitizer: skip the memory-capped cases")
    parser.add_argument("roots", nargs="+")
    opts = parser.parse_args()
    binary = os.path.abspath(opts.binary)
    failures = 0
    skipped = 0
    cases = find_cases(opts.roots)
    for case in cases:
        rel = os.path.relpath(case, HERE)
        try:
            out, err, status = run_case(binary, case, opts.sanitized)
        except Skip as reason:
            skipped += 1
            print("SKIP %s: %s" % (rel, reason))
            continue
        if os.path.exists(os.path.join(case, "mask_times")):
            out = mask_times(out)
        if opts.update:
            for name, data in (("stdout", out), ("stderr", err), ("status", b"%d\n" % status)):
                with open(os.path.join(case, name), "wb") as f:
                    f.write(data)
            continue
        problems = []
        for name, actual in (("stdout", out), ("stderr", err)):
            expected = read(os.path.join(case, name), b"")
            if expected != actual:
                problems.append(show_diff(name, expected, actual))
        expected_status = int(read(os.path.join(case, "status"), b"0").decode().strip() or 0)
        if expected_status != status:
            problems.append("status: expected %d, got %d\n" % (expected_status, status))
        if problems:
            failures += 1
            print("FAIL %s\n%s" % (rel, "".join(problems)))
    if not opts.update:
        print("%d passed, %d failed, %d skipped" % (len(cases) - failures - skipped, failures,
                                                    skipped))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
