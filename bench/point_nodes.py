#!/usr/bin/env python3
"""How near the nearest-pattern rule the nodes come, and whether a fit
should choose it: the default ensemble beside one member of point nodes
(trained at a size bound so small that every training pattern keeps a node
of its own, each pattern then classified by its best-fitting node: the
nearest training pattern's class, 1-NN on the features the member sees),
and a choice between the two made inside each training fold (nested).

    PYTHONPATH=build/python /usr/bin/python3 bench/point_nodes.py [--sets digits]
        [--fold-seed 2 --seed-offset 100 --stress-seed 3316 --fresh 3317]

The choice: only where the point member keeps no more nodes than the
ensemble (it has one node per distinct training pattern, so it is never
dearer to classify with), an inner stratified cross-validation on the
training folds alone (--inner folds) measures both, and the point member is
kept only if it is strictly better there. The outer folds are `qir cv`'s
(5, stratified, --fold-seed); the ensemble's members are drawn from seed
1 + --seed-offset. Each row: the mean accuracy over the outer folds of the
ensemble, the point member and the choice, the choice's mean per-fold gain
over the ensemble with its standard error, the folds on which it chose the
point member, the point member's nodes as a multiple of the ensemble's
(mean over the folds), and the CPU seconds of fitting with the choice
against the ensemble alone.
"""
import argparse
import os
import sys
import tempfile
import time
import warnings

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from accuracy import read_csv  # noqa: E402
from member_views_study import study_sets  # noqa: E402


def node_count(model):
    return sum(len(nodes) for nodes, _ in model.members_)


def point_member(X, y):
    """One member whose every training pattern is a node of its own; its
    predict answers every pattern by the best-fitting (nearest) node."""
    import qir
    varying = int(np.sum(X.max(axis=0) > X.min(axis=0)))
    return qir.QIRClassifier(oflag=0, n_voters=1, D=0.01 * np.sqrt(max(varying, 1)),
                             max_list_presentations=1).fit(X, y)


def ensemble(X, y, seed):
    import qir
    return qir.QIRClassifier(oflag=0, random_state=seed).fit(X, y)


def accuracy(model, X, y):
    return 100 * np.mean(model.predict(X) == y)


def prefers_points(X, y, seed, inner_folds, fold_seed):
    """Whether the point member is strictly better than the ensemble in an
    inner cross-validation on (X, y)."""
    import qir
    inner = np.asarray(qir._core.stratified_folds(list(y), inner_folds, fold_seed + 17))
    ensemble_right, points_right = 0.0, 0.0
    for j in range(inner_folds):
        train, test = inner != j, inner == j
        ensemble_right += accuracy(ensemble(X[train], y[train], seed), X[test], y[test])
        points_right += accuracy(point_member(X[train], y[train]), X[test], y[test])
    return points_right > ensemble_right


def timed(action):
    started = time.process_time()
    result = action()
    return result, time.process_time() - started


def fold_rows(X, y, fold_seed, seed, inner_folds):
    """Per outer fold: the ensemble's, the point member's and the choice's
    accuracy, whether it chose points, the nodes' ratio, and the CPU seconds
    of fitting with the choice and of the ensemble alone."""
    import qir
    fold = np.asarray(qir._core.stratified_folds(list(y), 5, fold_seed))
    rows = []
    for k in range(5):
        train, test = fold != k, fold == k
        Xt, yt = X[train], y[train]
        whole, ensemble_seconds = timed(lambda: ensemble(Xt, yt, seed))
        points, points_seconds = timed(lambda: point_member(Xt, yt))
        # The point member is never dearer to classify with than the ensemble.
        affordable = node_count(points) <= node_count(whole)
        picked, choice_seconds = timed(
            lambda: affordable and prefers_points(Xt, yt, seed, inner_folds, fold_seed))
        chosen = points if picked else whole
        rows.append((accuracy(whole, X[test], y[test]), accuracy(points, X[test], y[test]),
                     accuracy(chosen, X[test], y[test]), picked,
                     node_count(points) / node_count(whole),
                     ensemble_seconds + points_seconds + choice_seconds, ensemble_seconds))
    return np.array(rows, dtype=float)


def main():
    warnings.simplefilter("ignore")  # the data's warnings, once per fit
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--fold-seed", type=int, default=1)
    parser.add_argument("--seed-offset", type=int, default=0)
    parser.add_argument("--stress-seed", type=int, default=33)
    parser.add_argument("--fresh", type=int, metavar="SEED",
                        help="add bench/outlier_rule.py's fresh sets drawn with SEED")
    parser.add_argument("--inner", type=int, default=5, help="inner folds of the choice")
    parser.add_argument("--sets")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        sets = study_sets(folder, args.stress_seed, args.fresh, args.sets)
        print("| data | ensemble | point member (1-NN) | choice (nested) | gain | chose points "
              "| point / ensemble nodes | fit s, choice / ensemble |")
        print("|---|---|---|---|---|---|---|---|")
        for name, path in sets:
            X, y = read_csv(path)
            r = fold_rows(X, y, args.fold_seed, 1 + args.seed_offset, args.inner)
            gain = r[:, 2] - r[:, 0]
            print(f"| {name} | {r[:, 0].mean():.2f} | {r[:, 1].mean():.2f} | {r[:, 2].mean():.2f} "
                  f"| {gain.mean():+.2f} ± {gain.std(ddof=1) / np.sqrt(len(gain)):.2f} "
                  f"| {int(r[:, 3].sum())} of 5 | {r[:, 4].mean():.2f}x "
                  f"| {r[:, 5].sum():.1f} / {r[:, 6].sum():.1f} |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
