#!/usr/bin/env python3
"""Wall time of training 5 members against 1, in the command and in Python.

    PYTHONPATH=build/python python3 bench/ensemble_timing.py [--qir build/bin/qir]
        [--data data/digits.csv] [--runs 5]

Each figure is the median of --runs rounds. A round trains one member with
each of the seeds 1 to 5, then five members, so load from other work on the
machine hits both alike. Members differ in cost with their presentation
order, so the ratio is given against the mean of the five single members
(the fair "one member") and against the seed-1 member alone. The members
train side by side, one per core; on two cores five members take three
rounds, so about three times one member is the floor.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
import warnings

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
    warnings.simplefilter("ignore", qir.QIRWarning)  # digits has constant columns
    rows = np.loadtxt(args.data, delimiter=",")
    X, y = rows[:, :-1], rows[:, -1]
    with tempfile.TemporaryDirectory() as folder:
        model = os.path.join(folder, "m.model")

        def command(voters, seed):
            subprocess.run([args.qir, "train", args.data, "-o", model, "--oflag", "0",
                            "--voters", str(voters), "--seed", str(seed)],
                           check=True, capture_output=True)

        def python(voters, seed):
            qir.QIRClassifier(n_voters=voters, random_state=seed, oflag=0).fit(X, y)

        seeds = range(1, 6)
        for name, run in (("command", command), ("Python", python)):
            one = {seed: [] for seed in seeds}
            five = []
            for _ in range(args.runs):
                for seed in seeds:
                    one[seed].append(timed(lambda: run(1, seed)))
                five.append(timed(lambda: run(5, 1)))
            singles = [statistics.median(one[seed]) for seed in seeds]
            mean, first = statistics.fmean(singles), singles[0]
            b = statistics.median(five)
            print(f"{name}: 1 member {mean:.3f} s (mean of seeds 1-5; "
                  f"{min(singles):.3f} to {max(singles):.3f}), seed 1 {first:.3f} s, "
                  f"5 members {b:.3f} s, ratio {b / mean:.2f} to the mean, "
                  f"{b / first:.2f} to seed 1 (median of {args.runs}, {os.cpu_count()} cores)")


if __name__ == "__main__":
    sys.exit(main())
