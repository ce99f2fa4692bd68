#!/usr/bin/env python3
"""Screening out features that carry nothing: the defaults with and without
`screen` (each member sees only the features whose values differ between
the classes in its training fold, a chi-square test at the level 0.01),
beside 1-NN, a tuned RBF SVC and a random forest, on the same folds.

    PYTHONPATH=build/python python3 bench/screen_study.py [--sets iris,wine] [--fresh | --third]

Without --fresh: the bundled sets and bench/member_views_study.py's stress
sets (seed 33). With --fresh: sets the level was never tried on
(bench/outlier_rule.py's fresh sets and the stress sets drawn anew, seed
3312). The folds are `qir cv`'s own (5, stratified, seed 1); the screen
sees each training fold alone, so every figure is nested. Each QIR cell:
mean accuracy over the folds, ROC AUC from predict_proba, the nodes of all
members (node evaluations per pattern when classifying), the features the
members saw (mean over the folds) and the CPU seconds of fit and predict
over the five folds. "gain" is the screen's mean per-fold gain over the
defaults with the standard error of those gains. The levels 0.001 and 0.05
are shown as information only: they are emulated by training the defaults
on the columns a copy of the test (below) keeps, which differs from the
library's screen only in that `auto` scaling and D then see those columns
alone.

The level 0.01 was fixed before the --fresh run, and so was the rule for
making the screen the default there: it gains on the redrawn sets of
irrelevant features, and on no set does its mean per-fold loss exceed the
standard error of its per-fold gains. The first screen (all features kept
only when every one passed) failed that rule on the fresh counts (-1.00 ±
0.51); the screen now drops features only where those that pass are fewer
than half the varying ones. That change was made after the --fresh run, so
--third tests it on sets drawn after it (the fresh and stress sets with
other seeds, and three sets of weak and partly idle features), by the same
rule fixed before that run.
"""
import argparse
import os
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from accuracy import BUNDLED, DATA, read_csv, write_csv  # noqa: E402
from member_views_study import auc, sklearn_scores, stress_sets  # noqa: E402
from outlier_rule import fresh_sets  # noqa: E402

LEVELS = {0.001: 3.090232306167813, 0.05: 1.6448536269514722}  # level: normal quantile


def kept_columns(X, y, z):
    """The columns the screen keeps at the normal quantile z (a copy of the
    library's test, for the levels it does not take)."""
    n = len(y)
    classes = np.unique(y)
    width = len(classes)
    bins = int(np.clip(n // (5 * width), 2, 10))
    index = np.searchsorted(classes, y)
    kept, varying, carrying = [], 0, 0
    for j in range(X.shape[1]):
        order = np.argsort(X[:, j], kind="stable")
        values = X[order, j]
        if values[0] == values[-1]:
            kept.append(j)
            continue
        varying += 1
        first = np.searchsorted(values, values, side="left")
        place = np.maximum(first * bins // n, (first > 0).astype(int))
        table = np.zeros((bins, width))
        np.add.at(table, (place, index[order]), 1)
        table = table[table.sum(axis=1) > 0]
        expected = table.sum(axis=1)[:, None] * table.sum(axis=0)[None, :] / n
        statistic = ((table - expected) ** 2 / expected).sum()
        dof = (table.shape[0] - 1) * (width - 1)
        h = 2 / (9 * dof)
        if statistic > dof * (1 - h + z * np.sqrt(h)) ** 3:
            kept.append(j)
            carrying += 1
    return None if carrying < 2 or 2 * carrying >= varying else kept


def third_sets(folder, seed=3315):
    """(name, path) of the sets for the screen's last test: the fresh and
    stress sets drawn again, and sets of weak and partly idle features."""
    rng = np.random.default_rng(seed)
    sets = fresh_sets(folder, seed=3313)
    sets = [(name + "_third", path) for name, path in sets]
    sets += stress_sets(folder, seed=3314, suffix="_third")
    n = 900

    def keep(name, X, y):
        path = os.path.join(folder, name + ".csv")
        write_csv(path, X, y)
        sets.append((name, path))

    # 12 features whose class shifts fade (1.2 down to 0.1) among 48 idle.
    y = rng.integers(1, 4, n)
    shifts = 1.2 * 0.8 ** np.arange(12)
    centres = rng.normal(0, 1, (3, 12)) * shifts
    keep("weak_among_idle", np.column_stack([centres[y - 1] + rng.normal(0, 1, (n, 12)),
                                             rng.normal(0, 1, (n, 48))]), y)
    # 10 informative features and 12 idle ones (a bare majority), and 6.
    for name, idle in (("some_idle", 12), ("few_idle", 6)):
        y = rng.integers(1, 4, n)
        centres = rng.normal(0, 1.2, (3, 10))
        keep(name, np.column_stack([centres[y - 1] + rng.normal(0, 1, (n, 10)),
                                    rng.normal(0, 1, (n, idle))]), y)
    return sets


def fold_rows(X, y, fold, screen=False, z=None):
    """Per fold: accuracy, ROC AUC, nodes, features seen and CPU seconds."""
    import qir
    rows = []
    for k in range(5):
        train, test = fold != k, fold == k
        columns = kept_columns(X[train], y[train], z) if z is not None else None
        Xk = X if columns is None else X[:, columns]
        started = time.process_time()
        model = qir.QIRClassifier(oflag=0, screen=screen).fit(Xk[train], y[train])
        proba = model.predict_proba(Xk[test])
        labels = model.classes_[np.argmax(proba, axis=1)]
        seconds = time.process_time() - started
        seen = model.member_features_[0]
        rows.append((100 * np.mean(labels == y[test]), auc(y[test], proba, model.classes_),
                     sum(len(n) for n, _ in model.members_),
                     Xk.shape[1] if seen is None else len(seen), seconds))
    return np.array(rows)


def cell(rows, seconds=True):
    text = (f"{rows[:, 0].mean():.2f} (AUC {rows[:, 1].mean():.3f}, {rows[:, 2].mean():.0f} "
            f"nodes, {rows[:, 3].mean():.1f} features")
    return text + (f", {rows[:, 4].sum():.2f} s)" if seconds else ")")


def main():
    from qir import _core
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sets")
    parser.add_argument("--fresh", action="store_true")
    parser.add_argument("--third", action="store_true")
    parser.add_argument("--qir-only", action="store_true",
                        help="the screen on and off alone: no other levels, no peers")
    args = parser.parse_args()
    head = ["data", "screen off", "screen on", "gain"]
    if not args.qir_only:
        head += [f"level {level}" for level in LEVELS] + ["1-NN", "SVC (tuned)", "RF"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    with tempfile.TemporaryDirectory() as folder:
        if args.third:
            sets = third_sets(folder)
        elif args.fresh:
            sets = fresh_sets(folder) + stress_sets(folder, seed=3312, suffix="_redrawn")
        else:
            sets = [(name, os.path.join(DATA, name + ".csv")) for name in BUNDLED]
            sets += stress_sets(folder)
        if args.sets:
            sets = [s for s in sets if s[0] in args.sets.split(",")]
        for name, path in sets:
            X, y = read_csv(path)
            fold = np.asarray(_core.stratified_folds(list(y), 5, 1))
            plain = fold_rows(X, y, fold)
            screened = fold_rows(X, y, fold, screen=True)
            gain = screened[:, 0] - plain[:, 0]
            cells = [name, cell(plain), cell(screened),
                     f"{gain.mean():+.2f} ± {gain.std(ddof=1) / np.sqrt(5):.2f}"]
            if not args.qir_only:
                cells += [cell(fold_rows(X, y, fold, z=z), seconds=False)
                          for z in LEVELS.values()]
                cells += list(sklearn_scores(X, y, fold).values())
            print("| " + " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
