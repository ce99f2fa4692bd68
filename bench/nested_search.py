#!/usr/bin/env python3
"""Nested cross-validation of the search: on each of `qir cv`'s 5 outer folds
the search runs on the training folds alone (its own 5-fold cross-validation
inside them), the chosen setting is trained on those folds and tested on the
held-out one. Beside it, on the same outer folds: the defaults, and
scikit-learn's 1-NN, SVC and random forest on features scaled by the
training folds' range.

    PYTHONPATH=build/python python3 bench/nested_search.py [--sets iris,wine]

--sets may also name the stress sets of bench/member_views_study.py
(irrelevant_binary, scales_outliers, ...).

Prints one row per set: mean accuracy and its fold-to-fold standard error
for the defaults and the nested search, the outer folds on which the
search's choice did worse than the defaults, the search's time per outer
fold, and the scikit-learn figures. Unclassified patterns count as wrong,
as in `qir cv`. Run by hand: it takes minutes.
"""
import argparse
import os
import sys
import tempfile
import time

import numpy as np

from accuracy import BUNDLED, DATA, read_csv, sklearn_models, scaled_by_training
from member_views_study import stress_sets


def mean_and_error(values):
    values = np.asarray(values, dtype=float)
    return values.mean(), values.std(ddof=1) / np.sqrt(len(values))


def nested(X, y, outer_folds=5, seed=1):
    import qir
    from qir import _core
    fold = np.asarray(_core.stratified_folds(list(y), outer_folds, seed))
    rows = {"defaults": [], "search": [], "worse": [], "kept": [], "seconds": []}
    others = {name: [] for name in sklearn_models()}
    for k in range(outer_folds):
        train, test = fold != k, fold == k
        score = lambda model: 100 * np.mean(model.predict(X[test]) == y[test])
        defaults = qir.QIRClassifier(unknown_label=-1, oflag=0).fit(X[train], y[train])
        started = time.perf_counter()
        found = qir.search(X[train], y[train], folds=5, random_state=seed)
        rows["seconds"].append(time.perf_counter() - started)
        chosen = qir.QIRClassifier(unknown_label=-1, oflag=0, **found["best_params"])
        rows["defaults"].append(score(defaults))
        rows["search"].append(score(chosen.fit(X[train], y[train])))
        rows["worse"].append(rows["search"][-1] < rows["defaults"][-1])
        rows["kept"].append(found["kept_defaults"])
        low_X, high_X = scaled_by_training(X[train], X[test])
        for name, make in sklearn_models().items():
            model = make().fit(low_X, y[train])
            others[name].append(100 * np.mean(model.predict(high_X) == y[test]))
    return rows, others


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sets")
    args = parser.parse_args()
    sets = args.sets.split(",") if args.sets else BUNDLED
    folder = tempfile.TemporaryDirectory()
    paths = {name: os.path.join(DATA, name + ".csv") for name in BUNDLED}
    paths.update(stress_sets(folder.name))  # member_views_study's stress sets by name
    print("| data | defaults | search (nested) | folds worse / kept defaults | search s/fold"
          " | 1-NN | SVC | RF |")
    print("|---|---|---|---|---|---|---|---|")
    for name in sets:
        X, y = read_csv(paths[name])
        rows, others = nested(X, y)
        cells = [name]
        for key in ("defaults", "search"):
            mean, error = mean_and_error(rows[key])
            cells.append(f"{mean:.2f} ± {error:.2f}")
        cells.append(f"{sum(rows['worse'])} / {sum(rows['kept'])} of {len(rows['kept'])}")
        cells.append(f"{np.median(rows['seconds']):.1f}")
        cells += [f"{np.mean(v):.2f}" for v in others.values()]
        print("| " + " | ".join(cells) + " |", flush=True)
        print("    per fold: defaults " + " ".join(f"{v:.2f}" for v in rows["defaults"]) +
              "; search " + " ".join(f"{v:.2f}" for v in rows["search"]), flush=True)


if __name__ == "__main__":
    sys.exit(main())
