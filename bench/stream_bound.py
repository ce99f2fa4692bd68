#!/usr/bin/env python3
"""What a continued batch of the stream demo costs against a fit on that
batch alone, at the defaults' ensemble: the batches of `qir demo --stream`
(the library's stream plan, seed 1), each one through partial_fit beside a
fit on the batch alone, median of --runs runs each in one process.

    PYTHONPATH=build/python python3 bench/stream_bound.py [--runs 7] [--batches 10]

"Given" and "made" are the nodes of all members before the batch and added
by it; "bound" is the batch-alone time scaled by the nodes the batch
competes with, t_alone * (1 + given / alone nodes). Prints a table, then
the continued model's and a refit's test accuracy after the last batch.
"""
import argparse
import os
import statistics
import sys
import time
import warnings

import numpy as np

import qir
from qir import _qir
from qir._core import QIRWarning


def node_count(model):
    return sum(len(nodes) for nodes, _ in model.members_)


def timed(work):
    started = time.perf_counter()
    result = work()
    return result, time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--batches", type=int, default=10)
    args = parser.parse_args()
    digits = np.loadtxt(os.path.join(_qir.bundled_data_folder(), "digits.csv"), delimiter=",")
    X, y = digits[:, :-1], digits[:, -1].astype(int)
    test, stream, _, _ = _qir.stream_plan(y.astype(float), args.batches, 1)
    warnings.simplefilter("ignore", QIRWarning)  # the digits' blank pixels are no news here
    continued = {b: [] for b in range(len(stream))}
    alone = {b: [] for b in range(len(stream))}
    for _ in range(args.runs):
        # Continued and alone in turns, batch by batch, so load hits both alike.
        model = qir.QIRClassifier(oflag=0, scale=True)
        given, made, alone_nodes = [], [], []
        for b, batch in enumerate(stream):
            before = node_count(model) if b else 0
            _, seconds = timed(lambda: model.partial_fit(X[batch], y[batch]))
            continued[b].append(seconds)
            single, seconds = timed(lambda: qir.QIRClassifier(oflag=0, scale=True).fit(
                X[batch], y[batch]))
            alone[b].append(seconds)
            given.append(before)
            made.append(node_count(model) - before)
            alone_nodes.append(node_count(single))
    members = len(model.members_)
    print(f"{members} members, {len(stream)} batches, median of {args.runs} runs")
    print("| Batch | Given | Made | Alone nodes | Continued (s) | Alone (s) | Bound (s) "
          "| Continued / bound |")
    print("|---|---|---|---|---|---|---|---|")
    for b in range(len(stream)):
        c, a = statistics.median(continued[b]), statistics.median(alone[b])
        bound = a * (1 + given[b] / alone_nodes[b])
        print(f"| {b + 1} | {given[b]} | {made[b]} | {alone_nodes[b]} | {c:.4f} | {a:.4f} "
              f"| {bound:.4f} | {c / bound:.2f} |")
    seen = np.concatenate(stream)
    refit, seconds = timed(lambda: qir.QIRClassifier(oflag=0, scale=True).fit(X[seen], y[seen]))
    print(f"after batch {len(stream)}: continued {100 * model.score(X[test], y[test]):.1f}% "
          f"with {node_count(model)} nodes, refit on all {len(seen)} "
          f"{100 * refit.score(X[test], y[test]):.1f}% in {seconds:.3f} s")


if __name__ == "__main__":
    sys.exit(main())
