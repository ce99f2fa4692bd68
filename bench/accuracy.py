#!/usr/bin/env python3
"""Cross-validated accuracy of `qir cv` settings beside scikit-learn's 1-NN,
SVC and random forest on the same folds, on the bundled sets and on
generated ones (clusters, overlapping classes, class-sorted files).

    PYTHONPATH=build/python python3 bench/accuracy.py [--qir build/bin/qir]
        [--setting "--voters 1 --shuffle 0"] ... [--sets iris,wine] [--no-sklearn]

Each setting is a string of `qir cv` options; the default compares the
single model of earlier releases with the current defaults. The folds are
`qir cv`'s own (5, stratified, seed 1), read through the qir package, and
every scikit-learn model sees the features scaled to [0, 1] by the training
folds' range, as QIR does. Run by hand: it takes minutes.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
BUNDLED = ["iris", "wine", "breast_cancer", "digits"]


def read_csv(path):
    rows = np.loadtxt(path, delimiter=",")
    return rows[:, :-1], rows[:, -1]


def write_csv(path, X, y):
    np.savetxt(path, np.column_stack([X, y]), delimiter=",", fmt="%.10g")


def generated_sets(folder):
    """(name, path) of the generated sets, written into `folder`."""
    rng = np.random.default_rng(2026)
    sets = []

    def keep(name, X, y):
        path = os.path.join(folder, name + ".csv")
        write_csv(path, X, y)
        sets.append((name, path))

    # Well separated clusters, several per class.
    centres = rng.uniform(0, 10, (12, 6))
    which = rng.integers(0, 12, 900)
    keep("clusters", centres[which] + rng.normal(0, 0.8, (900, 6)), which % 4 + 1)
    # Two classes that overlap: the best possible accuracy is well below 100%.
    y = rng.integers(1, 3, 800)
    keep("overlap", rng.normal(0, 1, (800, 5)) + (y[:, None] - 1.5) * 1.2, y)
    # Three classes on curved bands with noise features.
    t = rng.uniform(0, 3 * np.pi, 900)
    y = rng.integers(1, 4, 900)
    radius = y + 0.35 * rng.normal(size=900)
    keep("bands", np.column_stack([radius * np.cos(t), radius * np.sin(t),
                                   rng.normal(size=(900, 2))]), y)
    # Files sorted by class, as many data files are.
    for name in ("breast_cancer", "digits", "clusters"):
        source = os.path.join(DATA, name + ".csv") if name in BUNDLED else sets[0][1]
        X, y = read_csv(source)
        order = np.argsort(y, kind="stable")
        keep(name + "_sorted", X[order], y[order])
    return sets


def qir_cv(qir, path, setting):
    started = time.perf_counter()
    out = subprocess.run([qir, "cv", path, *setting.split()], capture_output=True, text=True,
                         check=True).stdout
    seconds = time.perf_counter() - started
    mean = re.search(r"^Mean\s+\S+\s+([0-9.]+)%", out, re.M)
    folds = [float(a) for a in re.findall(r"^\d+\s+\d+\s+([0-9.]+)%", out, re.M)]
    return float(mean.group(1)), np.std(folds, ddof=1) / np.sqrt(len(folds)), seconds


def sklearn_models():
    """The methods QIR is judged against, by name."""
    from sklearn.ensemble import RandomForestClassifier
    from sklearn.neighbors import KNeighborsClassifier
    from sklearn.svm import SVC
    return {"1-NN": lambda: KNeighborsClassifier(1), "SVC": lambda: SVC(),
            "RF": lambda: RandomForestClassifier(random_state=0)}


def scaled_by_training(train, test):
    """Both parts scaled to [0, 1] by the training part's range, as QIR scales."""
    low, high = train.min(axis=0), train.max(axis=0)
    span = np.where(high > low, high - low, 1)
    scale = lambda Z: np.clip((Z - low) / span, 0, 1)
    return scale(train), scale(test)


def sklearn_scores(path):
    from qir import _core
    X, y = read_csv(path)
    fold = np.asarray(_core.stratified_folds(list(y), 5, 1))
    scores = {}
    for name, make in sklearn_models().items():
        correct = []
        for k in range(5):
            train, test = fold != k, fold == k
            scaled_train, scaled_test = scaled_by_training(X[train], X[test])
            model = make().fit(scaled_train, y[train])
            correct.append(100 * np.mean(model.predict(scaled_test) == y[test]))
        scores[name] = np.mean(correct)
    return scores


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--qir", default=os.path.join(HERE, "..", "build", "bin", "qir"))
    parser.add_argument("--setting", action="append")
    parser.add_argument("--sets")
    parser.add_argument("--no-sklearn", action="store_true")
    args = parser.parse_args()
    settings = args.setting or ["--voters 1 --shuffle 0", ""]
    with tempfile.TemporaryDirectory() as folder:
        sets = [(name, os.path.join(DATA, name + ".csv")) for name in BUNDLED]
        sets += generated_sets(folder)
        if args.sets:
            sets = [s for s in sets if s[0] in args.sets.split(",")]
        head = ["data"] + [s or "defaults" for s in settings]
        if not args.no_sklearn:
            head += ["1-NN", "SVC", "RF"]
        print("| " + " | ".join(head) + " |")
        print("|" + "---|" * len(head))
        for name, path in sets:
            cells = [name]
            for setting in settings:
                mean, error, seconds = qir_cv(args.qir, path, setting)
                cells.append(f"{mean:.2f} ± {error:.2f} ({seconds:.1f} s)")
            if not args.no_sklearn:
                cells += [f"{v:.2f}" for v in sklearn_scores(path).values()]
            print("| " + " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
