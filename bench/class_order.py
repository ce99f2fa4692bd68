#!/usr/bin/env python3
"""Does a file sorted by class change the defaults' accuracy beyond noise?

    PYTHONPATH=build/python python3 bench/class_order.py [--sets breast_cancer] [--seeds 10]

For each set, 5-fold cross-validation with `qir cv`'s folds (seed 1) of the
defaults on the file as it is and on a copy sorted by class (stable, so each
pattern keeps its fold: the folds deal each class's patterns by their rank
within the class), once per seed of the members' orders (1, 1001, 2001,
...: member k of seed s draws its order from s + k, so nearby seeds share
most members and would understate the spread). Prints the mean
accuracy of both over the seeds with its standard error, the mean per-seed
difference with its standard error, the fold-to-fold standard error of one
run, and seed 1's difference (what one `qir cv` run on each file shows).
"""
import argparse
import os
import sys

import numpy as np

from accuracy import BUNDLED, DATA, read_csv


def fold_accuracies(X, y, fold, seed):
    import qir
    accuracy = []
    for k in range(fold.max() + 1):
        train, test = fold != k, fold == k
        model = qir.QIRClassifier(unknown_label=-1, random_state=seed, oflag=0)
        model.fit(X[train], y[train])
        accuracy.append(100 * np.mean(model.predict(X[test]) == y[test]))
    return np.array(accuracy)


def error(values):
    return np.std(values, ddof=1) / np.sqrt(len(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sets")
    parser.add_argument("--seeds", type=int, default=10)
    args = parser.parse_args()
    from qir import _core
    print("| data | file | sorted by class | sorted - file | fold-to-fold s.e. | seed 1: sorted - file |")
    print("|---|---|---|---|---|---|")
    for name in args.sets.split(",") if args.sets else BUNDLED:
        X, y = read_csv(os.path.join(DATA, name + ".csv"))
        order = np.argsort(y, kind="stable")
        fold = np.asarray(_core.stratified_folds(list(y), 5, 1))
        sorted_fold = np.asarray(_core.stratified_folds(list(y[order]), 5, 1))
        assert np.array_equal(fold[order], sorted_fold), "sorting moved patterns between folds"
        plain, ordered, fold_errors = [], [], []
        for seed in range(1, 1000 * args.seeds + 1, 1000):
            a = fold_accuracies(X, y, fold, seed)
            b = fold_accuracies(X[order], y[order], sorted_fold, seed)
            plain.append(a.mean())
            ordered.append(b.mean())
            fold_errors.append(error(a))
        plain, ordered = np.array(plain), np.array(ordered)
        difference = ordered - plain
        print(f"| {name} | {plain.mean():.2f} ± {error(plain):.2f} | "
              f"{ordered.mean():.2f} ± {error(ordered):.2f} | "
              f"{difference.mean():+.2f} ± {error(difference):.2f} | "
              f"{np.mean(fold_errors):.2f} | {difference[0]:+.2f} |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
