#!/usr/bin/env python3
"""Nested cross-validation of the search: on each of `qir cv`'s 5 outer folds
the search (scaling stage included) runs on the training folds alone, with
its own 5-fold cross-validation inside them; the chosen setting is trained
on those folds and tested on the held-out one. Beside it, on the same outer
folds: the defaults, and scikit-learn's 1-NN, an RBF SVC tuned inside the
training folds (nested) and a random forest, on features scaled by the
training folds' range.

    PYTHONPATH=build/python python3 bench/nested_search.py [--sets iris,wine]
        [--rows 500]

--sets may also name the stress sets of bench/member_views_study.py
(irrelevant_binary, scales_outliers, ...); --rows keeps the first rows of
each stress set (they are drawn at random), to keep the searches short.

Prints one row per set: mean accuracy and its fold-to-fold standard error
for the defaults and the nested search, with ROC AUC from predict_proba
(one class against the rest) and the nodes of all members (node
evaluations per pattern when classifying); the scalings the search chose,
the outer folds on which its choice did worse than the defaults and those
on which it kept them; its time per outer fold; and the scikit-learn
figures (the forest's with its AUC). Unclassified patterns count as wrong,
as in `qir cv`. Run by hand: it takes minutes per set.
"""
import argparse
import collections
import os
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from accuracy import BUNDLED, DATA, read_csv  # noqa: E402
from member_views_study import auc, scaled_by_training, sklearn_models, stress_sets  # noqa: E402


def mean_and_error(values):
    values = np.asarray(values, dtype=float)
    return values.mean(), values.std(ddof=1) / np.sqrt(len(values))


def qir_fold(model, X, y, train, test):
    model.fit(X[train], y[train])
    proba = model.predict_proba(X[test])
    labels = model.predict(X[test])
    return (100 * np.mean(labels == y[test]), auc(y[test], proba, model.classes_),
            sum(len(n) for n, _ in model.members_))


def nested(X, y, outer_folds=5, seed=1):
    import qir
    from qir import _core
    fold = np.asarray(_core.stratified_folds(list(y), outer_folds, seed))
    rows = collections.defaultdict(list)
    for k in range(outer_folds):
        train, test = fold != k, fold == k
        for key, value in zip(("defaults", "defaults_auc", "defaults_nodes"),
                              qir_fold(qir.QIRClassifier(unknown_label=-1, oflag=0),
                                       X, y, train, test)):
            rows[key].append(value)
        started = time.perf_counter()
        found = qir.search(X[train], y[train], folds=5, random_state=seed)
        rows["seconds"].append(time.perf_counter() - started)
        chosen = qir.QIRClassifier(unknown_label=-1, oflag=0, **found["best_params"])
        for key, value in zip(("search", "search_auc", "search_nodes"),
                              qir_fold(chosen, X, y, train, test)):
            rows[key].append(value)
        rows["worse"].append(rows["search"][-1] < rows["defaults"][-1])
        rows["kept"].append(found["kept_defaults"])
        scale = found["best_params"]["scale"]
        rows["scale"].append({True: "minmax", False: "none"}.get(scale, scale))
        low_X, high_X = scaled_by_training(X[train], X[test])
        for name, make in sklearn_models().items():
            model = make().fit(low_X, y[train])
            rows[name].append(100 * np.mean(model.predict(high_X) == y[test]))
            if name == "RF":
                rows["RF_auc"].append(auc(y[test], model.predict_proba(high_X), model.classes_))
        print(f"    fold {k + 1}: defaults {rows['defaults'][-1]:.2f}, search "
              f"{rows['search'][-1]:.2f} ({rows['scale'][-1]}, "
              f"{'kept' if found['kept_defaults'] else 'chosen'}, {rows['seconds'][-1]:.1f} s), "
              + ", ".join(f"{name} {rows[name][-1]:.2f}" for name in sklearn_models()),
              flush=True)
    return rows


def table_row(name, rows):
    cells = [name]
    for key in ("defaults", "search"):
        mean, error = mean_and_error(rows[key])
        cells.append(f"{mean:.2f} ± {error:.2f} (AUC {np.mean(rows[key + '_auc']):.3f}, "
                     f"{np.mean(rows[key + '_nodes']):.0f} nodes)")
    chosen = collections.Counter(rows["scale"])
    cells.append(", ".join(f"{scale} {count}" for scale, count in chosen.most_common()))
    cells.append(f"{sum(rows['worse'])} / {sum(rows['kept'])} of {len(rows['kept'])}")
    cells.append(f"{np.median(rows['seconds']):.1f}")
    for model in sklearn_models():
        cells.append(f"{np.mean(rows[model]):.2f}")
    cells[-1] += f" (AUC {np.mean(rows['RF_auc']):.3f})"
    return "| " + " | ".join(cells) + " |"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sets")
    parser.add_argument("--rows", type=int, default=0)
    args = parser.parse_args()
    sets = args.sets.split(",") if args.sets else BUNDLED
    folder = tempfile.TemporaryDirectory()
    paths = {name: os.path.join(DATA, name + ".csv") for name in BUNDLED}
    stress = dict(stress_sets(folder.name))
    paths.update(stress)
    print("| data | defaults | search (nested) | scaling chosen | folds worse / kept defaults"
          " | search s/fold | 1-NN | SVC (tuned) | RF |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name in sets:
        X, y = read_csv(paths[name])
        if name in stress and args.rows:
            X, y = X[:args.rows], y[:args.rows]
        print(table_row(name, nested(X, y)), flush=True)


if __name__ == "__main__":
    sys.exit(main())
