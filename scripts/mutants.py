#!/usr/bin/env python3
"""Measures how many single-token changes to the operator's record, run and
report code its tests catch.

  scripts/mutants.py --seed N [--count 100] [--work DIR] [--minutes M]

Copies the committed tree (git archive HEAD) into DIR/src, builds it once in
DIR/build, then for each mutant: changes one token of one source file of
operator/record, operator/run or operator/report (picked by the seed), builds
vpoperator and its unit tests, and runs the operator's unit tests, then its
end-to-end tests (the slowest aside, see SLOW), stopping at the first failure.
A mutant that does not compile is not counted. Prints one line per mutant
and the kill rate; DIR/survivors.txt lists the survivors with their diffs.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import time

SWAPS = [("==", "!="), ("!=", "=="), ("<=", "<"), (">=", ">"), ("<", "<="), (">", ">="), ("&&", "||"),
         ("||", "&&"), ("+", "-"), ("-", "+"), ("true", "false"), ("false", "true"), ("++", "--"),
         ("--", "++"), ("!", ""), ("continue", "break"), ("break", "continue")]
TOKEN = re.compile(r"==|!=|<=|>=|&&|\|\||\+\+|--|\btrue\b|\bfalse\b|\bcontinue\b|\bbreak\b|\b\d+\b|[<>+\-!]")
UNIT = "^operator\\."
# The operator's end-to-end tests but the slowest (the whole matrix, the
# ten-run and by-hand runs, the flood, the browser's pages), which a 2-core
# machine cannot afford a hundred times; say so beside the rate.
E2E = "operator_"
SLOW = "browser|operator_fault_matrix|operator_records_(manual|flood|stderr|ending)|operator_all_tests"
TARGETS = ["vpoperator", "vpoperator_tests", "devbench", "holdprobe", "vprinter", "kelmorport_standin"]


def run(command, cwd, timeout=None):
    try:
        return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def candidates(path):
    """(line index, start, end, replacement) of every token that can change."""
    out = []
    in_comment = False
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n")):
        stripped = line.strip()
        if stripped.startswith("#include") or stripped.startswith("//"):
            continue
        code = line.split("//")[0]
        # Text in quotes is no token of the code: blanked, positions kept.
        code = re.sub(r'"(\\.|[^"\\])*"|\'(\\.|[^\'\\])*\'', lambda m: " " * len(m.group()), code)
        for match in TOKEN.finditer(code):
            token = match.group()
            # Templates, arrows and streams are no comparisons.
            if token in "<>" and (code[match.end():match.end() + 1] in "<>=" or "template" in code
                                  or "std::" in code[max(0, match.start() - 20):match.start()]
                                  or code[match.start() - 1:match.start()] == "-"):
                continue
            if token == "-" and code[match.end():match.end() + 1] == ">":
                continue
            if token == "!" and code[match.end():match.end() + 1] == "=":
                continue
            if token.isdigit():
                out.append((number, match.start(), match.end(), str(int(token) + 1)))
                continue
            for before, after in SWAPS:
                if token == before:
                    out.append((number, match.start(), match.end(), after))
                    break
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seed", type=int, required=True)
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--work", default="/tmp/devbench-mutants")
    parser.add_argument("--minutes", type=float, default=90)
    parser.add_argument("--reuse", action="store_true", help="keep DIR's copy and build from an earlier run")
    args = parser.parse_args()
    top = subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip()
    src, build = os.path.join(args.work, "src"), os.path.join(args.work, "build")
    if not args.reuse:
        subprocess.run(["rm", "-rf", args.work], check=True)
        os.makedirs(src)
        subprocess.run("git -C %s archive HEAD | tar -x -C %s" % (top, src), shell=True, check=True)
        subprocess.run(["cmake", "-S", src, "-B", build, "-G", "Ninja"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", build, "-j2"] + TARGETS, check=True, stdout=subprocess.DEVNULL)
    files = sorted(os.path.join(folder, name) for folder in ("operator/record", "operator/run", "operator/report")
                   for name in os.listdir(os.path.join(src, folder)) if name.endswith(".cpp"))
    pool = [(path, c) for path in files for c in candidates(os.path.join(src, path))]
    chooser = random.Random(args.seed)
    picked = chooser.sample(pool, min(len(pool), args.count * 2))
    deadline = time.time() + args.minutes * 60
    killed = survived = 0
    report = open(os.path.join(args.work, "survivors.txt"), "w")
    for path, (line, start, end, replacement) in picked:
        if killed + survived >= args.count or time.time() > deadline:
            break
        full = os.path.join(src, path)
        original = open(full, encoding="utf-8").read()
        lines = original.split("\n")
        before = lines[line]
        lines[line] = before[:start] + replacement + before[end:]
        open(full, "w", encoding="utf-8").write("\n".join(lines))
        try:
            if run(["ninja", "-C", build, "-j2", "vpoperator", "vpoperator_tests"], build) != 0:
                print("no build  %s:%d  %s" % (path, line + 1, lines[line].strip()), flush=True)
                continue
            dead = run(["ctest", "-R", UNIT, "-j2", "--stop-on-failure", "--timeout", "60"], build) != 0 or run(
                ["ctest", "-R", E2E, "-E", SLOW, "-j2", "--stop-on-failure", "--timeout", "120"], build) != 0
            killed += dead
            survived += not dead
            print("%s  %s:%d  %s" % ("killed  " if dead else "SURVIVED", path, line + 1, lines[line].strip()),
                  flush=True)
            if not dead:
                report.write("%s:%d\n- %s\n+ %s\n\n" % (path, line + 1, before.strip(), lines[line].strip()))
                report.flush()
        finally:
            open(full, "w", encoding="utf-8").write(original)
    total = killed + survived
    print("%d of %d mutants killed (%.0f %%)" % (killed, total, 100.0 * killed / max(total, 1)))


main()
