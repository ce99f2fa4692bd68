#!/usr/bin/env python3
"""A data-driven default scaling, tried before it is built: rank scaling
when some feature's range on the training data is more than ten times its
interquartile range (outliers that would squash the feature's min-max
range), min-max otherwise. The rule sees each training fold alone, so its
cross-validated figures are nested as they stand.

    PYTHONPATH=build/python python3 bench/outlier_rule.py [--sets iris,wine]

Prints, per set (the bundled sets and bench/member_views_study.py's stress
sets, on `qir cv`'s folds), the defaults and the rule: mean accuracy, ROC
AUC from predict_proba, the nodes of all members (node evaluations per
pattern when classifying) and the folds on which the rule chose rank.
"""
import argparse
import os
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from accuracy import BUNDLED, DATA, read_csv  # noqa: E402
from member_views_study import auc, stress_sets  # noqa: E402

SPREAD = 10  # range over interquartile range beyond which min-max is squashed


def outlier_scaling(X):
    """'rank' when a feature's range exceeds SPREAD times its interquartile
    range (features whose middle half is one value are left out), else True."""
    low, high = np.percentile(X, [25, 75], axis=0)
    middle = high - low
    spread = np.ptp(X, axis=0)
    squashed = (middle > 0) & (spread > SPREAD * middle)
    return "rank" if squashed.any() else True


def scores(X, y, fold, rule):
    import qir
    correct, areas, nodes, ranked = [], [], [], 0
    for k in range(5):
        train, test = fold != k, fold == k
        scale = outlier_scaling(X[train]) if rule else True
        ranked += scale == "rank"
        model = qir.QIRClassifier(oflag=0, unknown_label=-1, scale=scale).fit(X[train], y[train])
        correct.append(100 * np.mean(model.predict(X[test]) == y[test]))
        areas.append(auc(y[test], model.predict_proba(X[test]), model.classes_))
        nodes.append(sum(len(n) for n, _ in model.members_))
    return f"{np.mean(correct):.2f} (AUC {np.mean(areas):.3f}, {np.mean(nodes):.0f} nodes)", ranked


def main():
    from qir import _core
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sets")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        sets = [(name, os.path.join(DATA, name + ".csv")) for name in BUNDLED]
        sets += stress_sets(folder)
        if args.sets:
            sets = [s for s in sets if s[0] in args.sets.split(",")]
        print("| data | defaults (minmax) | outlier rule | folds on which it chose rank |")
        print("|---|---|---|---|")
        for name, path in sets:
            X, y = read_csv(path)
            fold = np.asarray(_core.stratified_folds(list(y), 5, 1))
            plain, _ = scores(X, y, fold, False)
            ruled, ranked = scores(X, y, fold, True)
            print(f"| {name} | {plain} | {ruled} | {ranked} of 5 |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
