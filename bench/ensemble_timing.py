#!/usr/bin/env python3
"""Wall time of training 5 members against 1, in the command and in Python.

    PYTHONPATH=build/python python3 bench/ensemble_timing.py [--qir build/bin/qir]
        [--data data/digits.csv] [--runs 5]

Each figure is the median of --runs alternating runs (one member, then five),
so load from other work on the machine hits both alike. The members train
side by side, one per core; on two cores five members should cost at most
three times one.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(action):
    started = time.perf_counter()
    action()
    return time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--qir", default=os.path.join(HERE, "..", "build", "bin", "qir"))
    parser.add_argument("--data", default=os.path.join(HERE, "..", "data", "digits.csv"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    import qir
    rows = np.loadtxt(args.data, delimiter=",")
    X, y = rows[:, :-1], rows[:, -1]
    with tempfile.TemporaryDirectory() as folder:
        model = os.path.join(folder, "m.model")

        def command(voters):
            subprocess.run([args.qir, "train", args.data, "-o", model, "--oflag", "0",
                            "--voters", str(voters)], check=True, capture_output=True)

        def python(voters):
            qir.QIRClassifier(n_voters=voters, oflag=0).fit(X, y)

        for name, run in (("command", command), ("Python", python)):
            one, five = [], []
            for _ in range(args.runs):
                one.append(timed(lambda: run(1)))
                five.append(timed(lambda: run(5)))
            a, b = statistics.median(one), statistics.median(five)
            print(f"{name}: 1 member {a:.3f} s, 5 members {b:.3f} s, ratio {b / a:.2f} "
                  f"(median of {args.runs}, {os.cpu_count()} cores)")


if __name__ == "__main__":
    sys.exit(main())
