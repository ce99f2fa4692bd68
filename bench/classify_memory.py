#!/usr/bin/env python3
"""Peak memory of `qir classify` against the size of its pattern matrix
(rows x features x 8 bytes), with the time it took, on letters-like
held-out rows (as bench/predict_vs_forest.py makes them: 16 integer
features 0-15, 26 classes) classified by a model trained on 16,000 rows
(the default 15 members, or --voters). The peak resident set is
/usr/bin/time -v's "Maximum resident set size". With --before OTHER_QIR the
same runs are made with a second build, and the labels, vote shares and
console text of both are compared byte for byte.

    python3 bench/classify_memory.py [--qir build/bin/qir] [--before OLD_QIR]
        [--rows 100000,1000000] [--voters 15]
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from predict_vs_forest import letters_like, write  # noqa: E402


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()[:16]


def measured(command):
    """Peak resident set (bytes), CPU and wall seconds and the output of one run."""
    run = subprocess.run(["/usr/bin/time", "-v"] + command, capture_output=True, text=True,
                         check=True, timeout=3600)
    figures = dict(re.findall(r"^\s*(.+?): (.+)$", run.stderr, re.M))
    wall = figures["Elapsed (wall clock) time (h:mm:ss or m:ss)"].split(":")
    seconds = sum(float(part) * 60 ** k for k, part in enumerate(reversed(wall)))
    cpu = float(figures["User time (seconds)"]) + float(figures["System time (seconds)"])
    return int(figures["Maximum resident set size (kbytes)"]) * 1024, cpu, seconds, run.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--qir", default=os.path.join(HERE, "..", "build", "bin", "qir"))
    parser.add_argument("--before", help="a second qir to compare with")
    parser.add_argument("--rows", default="100000,1000000")
    parser.add_argument("--voters", type=int, default=15)
    args = parser.parse_args()

    rng = np.random.default_rng(2026)
    prototypes = rng.integers(0, 16, (26, 4, 16)).astype(float)
    builds = [("after", args.qir)] + ([("before", args.before)] if args.before else [])
    with tempfile.TemporaryDirectory() as folder:
        train_csv = os.path.join(folder, "train.csv")
        write(train_csv, *letters_like(rng, prototypes, 16000))
        model = os.path.join(folder, "letters.model")
        subprocess.run([args.qir, "train", train_csv, "-o", model, "--oflag", "0",
                        "--voters", str(args.voters)], check=True, capture_output=True)
        print(f"{args.voters} members; peak resident set of `qir classify MODEL TEST.csv "
              f"-o LABELS --scores SHARES`")
        print("| rows | pattern matrix | file | build | peak RSS | RSS / matrix | CPU s | wall s |")
        print("|---|---|---|---|---|---|---|---|")
        for rows in (int(n) for n in args.rows.split(",")):
            test_csv = os.path.join(folder, "test.csv")
            X, y = letters_like(rng, prototypes, rows)
            write(test_csv, X, y)
            matrix = X.size * 8
            outputs = {}
            for name, qir in builds:
                labels = os.path.join(folder, f"labels-{name}.csv")
                shares = os.path.join(folder, f"shares-{name}.csv")
                peak, cpu, wall, console = measured(
                    [qir, "classify", model, test_csv, "-o", labels, "--scores", shares])
                console = console.replace(labels, "LABELS").replace(shares, "SHARES")
                console = re.sub(r"in \d+ seconds", "in S seconds", console)
                outputs[name] = (digest(labels), digest(shares), console)
                print(f"| {rows:,} | {matrix / 1e6:.0f} MB | {os.path.getsize(test_csv) / 1e6:.0f} MB"
                      f" | {name} | {peak / 1e6:.0f} MB | {peak / matrix:.2f}x | {cpu:.1f} | {wall:.1f} |",
                      flush=True)
            if len(outputs) == 2 and outputs["after"] != outputs["before"]:
                raise SystemExit(f"{rows} rows: the two builds' output differs")


if __name__ == "__main__":
    main()
