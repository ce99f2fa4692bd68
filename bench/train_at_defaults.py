#!/usr/bin/env python3
"""Wall time of `qir train` at its defaults beside a random forest's fit on
the same files, in turns (median of --runs rounds, so load from other work
hits both alike).

    python3 bench/train_at_defaults.py [--qir build/bin/qir] [--runs 3] DATA.csv ...

`qir train`'s time is the whole command (reading the file, scaling, the
members side by side, writing the model); the forest's (100 trees, 2 jobs,
bench/forest_fit.py) is its fit alone. `build/bin/qir_bench large
--write-inputs DIR` writes the large training workloads.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def qir_train(qir, path, model):
    started = time.perf_counter()
    out = subprocess.run([qir, "train", path, "-o", model, "--oflag", "0"], capture_output=True,
                         text=True, check=True).stdout
    seconds = time.perf_counter() - started
    summary = re.search(r"with (\d+) nodes in all, .* (\d+) list presentations", out)
    return seconds, summary.groups() if summary else ("?", "?")


def forest_fit(path):
    out = subprocess.run([sys.executable, os.path.join(HERE, "forest_fit.py"), path],
                         capture_output=True, text=True, check=True).stdout
    return float(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--qir", default=os.path.join(HERE, "..", "build", "bin", "qir"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("data", nargs="+")
    args = parser.parse_args()
    print("| Data | qir train (s) | Nodes in all | Presentations (member 1) | Forest fit (s) | Ratio |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        model = os.path.join(folder, "m.model")
        for path in args.data:
            ours, theirs = [], []
            for _ in range(args.runs):
                seconds, (nodes, presentations) = qir_train(args.qir, path, model)
                ours.append(seconds)
                theirs.append(forest_fit(path))
            a, b = statistics.median(ours), statistics.median(theirs)
            print(f"| {os.path.basename(path)} | {a:.2f} | {nodes} | {presentations} | "
                  f"{b:.2f} | {a / b:.2f} |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
