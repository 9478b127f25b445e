#!/usr/bin/env python3
"""Checks that the console examples in the documentation are the binary's real output.

In each ```console block, a line "$ orvik WORDS" runs the binary with those words (split as a
shell would), and "$ echo TEXT | orvik WORDS" also feeds TEXT and a newline to standard input
(otherwise standard input is empty). The lines up to the next "$ " line or the end of the block
are the expected output: standard output, then standard error (so a failing command shows its
"error: " line). A last expected line "..." stands for the rest of the output, which is not
compared. Timings differ from run to run: their digits are compared as "#", keeping the count of
decimals ("0.014 ms" as "#.### ms", "0.017286 ms" as "#.###### ms"). Commands run in the
repository's root folder.
"""
import argparse
import difflib
import os
import re
import shlex
import subprocess
import sys

TIME = re.compile(rb"\b\d+\.(\d+) ms\b")


def mask_times(text):
    return TIME.sub(lambda m: b"#." + b"#" * len(m.group(1)) + b" ms", text)


def examples(text):
    """Yields (line number, words, stdin bytes, expected stdout bytes) for every example."""
    in_block = False
    current = None
    for number, line in enumerate(text.split("\n"), 1):
        if not in_block:
            in_block = line.strip() == "```console"
            continue
        if line.startswith("```") or line.startswith("$ "):
            if current:
                yield current[0], current[1], current[2], ("\n".join(current[3]) + "\n").encode()
                current = None
            if line.startswith("```"):
                in_block = False
                continue
            tokens = shlex.split(line[2:])
            stdin = b""
            if "|" in tokens:
                bar = tokens.index("|")
                if tokens[0] != "echo" or bar < 1:
                    raise SystemExit("line %d: only `echo TEXT | orvik ...` is supported" % number)
                stdin = (" ".join(tokens[1:bar]) + "\n").encode()
                tokens = tokens[bar + 1:]
            if not tokens or tokens[0] != "orvik":
                raise SystemExit("line %d: an example must run orvik" % number)
            current = (number, tokens[1:], stdin, [])
        elif current:
            current[3].append(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("docs", nargs="+")
    opts = parser.parse_args()
    failures = 0
    count = 0
    for doc in opts.docs:
        with open(doc, encoding="utf-8") as f:
            text = f.read()
        for number, words, stdin, expected in examples(text):
            count += 1
            proc = subprocess.run([os.path.abspath(opts.binary)] + words, input=stdin,
                                  capture_output=True, cwd=opts.root, timeout=120)
            output = proc.stdout + proc.stderr
            if expected.endswith(b"\n...\n"):
                expected = expected[:-4]
                output = output[:len(expected)]
            actual = mask_times(output)
            if actual != mask_times(expected):
                failures += 1
                diff = difflib.unified_diff(expected.decode().splitlines(True),
                                            output.decode("utf-8", "replace").splitlines(True),
                                            "documented", "actual")
                print("FAIL %s:%d (status %d)\n%s%s" % (doc, number, proc.returncode,
                                                        "".join(diff), proc.stderr.decode()))
    print("%d examples, %d failed" % (count, failures))
    return 1 if failures or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
