#!/usr/bin/env python3
"""The pictures of docs/images for a set of 60 features: 600 patterns in 3
classes (scikit-learn's make_classification, 6 informative and 44 redundant
features, 10 of noise; seed 4), the first 400 to train on, the rest to test.
Each picture is drawn by `qir plot` from the model trained at the defaults.

    python3 bench/pictures.py [--qir build/bin/qir] [--out docs/images]
"""
import argparse
import os
import subprocess
import tempfile

from sklearn.datasets import make_classification


def write(path, X, y):
    with open(path, "w") as f:
        f.write(",".join(f"f{k + 1}" for k in range(X.shape[1])) + ",class\n")
        for row, label in zip(X, y):
            f.write(",".join(f"{v:.4f}" for v in row) + f",{'ABC'[label]}\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--qir", default="build/bin/qir")
    parser.add_argument("--out", default="docs/images")
    args = parser.parse_args()
    X, y = make_classification(n_samples=600, n_features=60, n_informative=6, n_redundant=44,
                               n_classes=3, n_clusters_per_class=1, class_sep=1.2,
                               random_state=4)
    with tempfile.TemporaryDirectory() as folder:
        train, test = os.path.join(folder, "train.csv"), os.path.join(folder, "test.csv")
        write(train, X[:400], y[:400])
        write(test, X[400:], y[400:])
        model = os.path.join(folder, "wide.model")
        qir = [os.path.abspath(args.qir)]
        subprocess.run(qir + ["train", train, "-o", model, "--oflag", "0"], check=True)
        subprocess.run(qir + ["classify", model, test, "--oflag", "0"], check=True)
        for what, data, extra, title in (
                ("nodes", test, [], "60 features, test data: principal components 1 and 2"),
                ("confusion", test, [], "60 features: confusion matrix on the test data"),
                ("votes", test, [], "60 features: the members' votes on the test data"),
                ("progress", train, ["--test", test],
                 "60 features: accuracy on the test data and nodes while training")):
            subprocess.run(qir + ["plot", model, data, "--show", what, "--title", title, "-o",
                                  os.path.join(args.out, f"wide-{what}.svg")] + extra, check=True)


if __name__ == "__main__":
    main()
