#!/usr/bin/env python3
"""Prediction throughput of the qir command (default model and one member)
against scikit-learn's RandomForestClassifier(100 trees, n_jobs=2) and 1-NN,
in one run, on two generated workloads:

  letters-like  16 integer features 0-15, 26 classes of 4 prototypes each,
                a pattern a prototype plus N(0, 3^2) noise rounded and
                clipped (as bench/workload.cpp); 16,000 training rows
  overlapping   25 centres N(0, 1.1^2) in 20 dimensions, noise N(0, 0.9^2),
                class = centre mod 5, seed 7; 20,000 training rows

and held-out rows from the same centres. Figures are patterns per CPU
second of the whole process (user + system, all threads): the command's
from its rusage, the Python estimators' from process_time around predict.
Each figure is the median of --runs rounds; a round runs every classifier
once in turn, so drifts in the machine's speed hit all alike. QIR's labels
are checked to be the same in every round and with QIR_CHOICE_BOUNDS=0.

    python3 bench/predict_vs_forest.py [--qir build/bin/qir] [--test 100000]
        [--runs 3] [--env NAME=VALUE ...]
"""
import argparse
import os
import resource
import statistics
import subprocess
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


def letters_like(rng, prototypes, n):
    cls = rng.integers(0, 26, n)
    proto = prototypes[cls, rng.integers(0, 4, n)]
    X = np.clip(np.rint(proto + rng.normal(0, 3, proto.shape)), 0, 15)
    return X, cls + 1


def overlapping(rng, centres, n):
    k = rng.integers(0, len(centres), n)
    X = centres[k] + rng.normal(0, 0.9, (n, centres.shape[1]))
    return X, k % 5 + 1


def workloads(train, test):
    rng = np.random.default_rng(2026)
    prototypes = rng.integers(0, 16, (26, 4, 16)).astype(float)
    letters = [letters_like(rng, prototypes, n) for n in (16000, test)]
    rng = np.random.default_rng(7)
    centres = rng.normal(0, 1.1, (25, 20))
    over = [overlapping(rng, centres, n) for n in (train, test)]
    return {"letters-like": letters, "overlapping": over}


def write(path, X, y):
    np.savetxt(path, np.column_stack([X, y]), delimiter=",", fmt="%.10g")


def child_cpu(command, env):
    """CPU seconds (user + system) of one run of the command, and its output."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = subprocess.run(command, env=env, check=True, capture_output=True, text=True,
                         timeout=3600).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), out


def python_cpu(action):
    started = time.process_time()
    result = action()
    return time.process_time() - started, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--qir", default=os.path.join(HERE, "..", "build", "bin", "qir"))
    parser.add_argument("--train", type=int, default=20000)
    parser.add_argument("--test", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--env", action="append", default=[],
                        help="NAME=VALUE for the qir runs (e.g. QIR_CHOICE_BOUNDS=0)")
    parser.add_argument("--sets", default="letters-like,overlapping")
    args = parser.parse_args()

    from sklearn.ensemble import RandomForestClassifier
    from sklearn.neighbors import KNeighborsClassifier

    env = dict(os.environ)
    for item in args.env:
        name, value = item.split("=", 1)
        env[name] = value
    plain_env = dict(env, QIR_CHOICE_BOUNDS="0")
    sets = workloads(args.train, args.test)
    with tempfile.TemporaryDirectory() as folder:
        for name in args.sets.split(","):
            (X, y), (Xt, yt) = sets[name]
            train_csv = os.path.join(folder, "train.csv")
            test_csv = os.path.join(folder, "test.csv")
            write(train_csv, X, y)
            write(test_csv, Xt, yt)
            models = {}
            for label, voters in (("QIR default model (15 members)", 15), ("QIR one member", 1)):
                model = os.path.join(folder, f"m{voters}.model")
                subprocess.run([args.qir, "train", train_csv, "-o", model, "--oflag", "0",
                                "--voters", str(voters)], check=True, capture_output=True,
                               timeout=3600)
                models[label] = model
            forest = RandomForestClassifier(n_estimators=100, n_jobs=2, random_state=0).fit(X, y)
            knn = KNeighborsClassifier(n_neighbors=1).fit(X, y)
            times = {label: [] for label in list(models) + ["forest", "1-NN"]}
            accuracy = {}
            for _ in range(args.runs):
                for label, model in models.items():
                    out_csv = os.path.join(folder, "labels.csv")
                    seconds, _ = child_cpu([args.qir, "classify", model, test_csv, "-o", out_csv,
                                            "--oflag", "0"], env)
                    labels = np.loadtxt(out_csv)
                    if label in accuracy and not np.array_equal(accuracy[label][1], labels):
                        raise SystemExit(f"{label}: labels differ between runs")
                    accuracy[label] = (np.mean(labels == yt), labels)
                    times[label].append(seconds)
                seconds, labels = python_cpu(lambda: forest.predict(Xt))
                times["forest"].append(seconds)
                accuracy["forest"] = (np.mean(labels == yt), labels)
                seconds, labels = python_cpu(lambda: knn.predict(Xt))
                times["1-NN"].append(seconds)
                accuracy["1-NN"] = (np.mean(labels == yt), labels)
            for label, model in models.items():
                out_csv = os.path.join(folder, "plain.csv")
                child_cpu([args.qir, "classify", model, test_csv, "-o", out_csv, "--oflag", "0"],
                          plain_env)
                if not np.array_equal(np.loadtxt(out_csv), accuracy[label][1]):
                    raise SystemExit(f"{label}: labels differ with QIR_CHOICE_BOUNDS=0")
            forest_rate = len(Xt) / statistics.median(times["forest"])
            print(f"\n{name}: {len(X)} training rows, {len(Xt)} test patterns;"
                  f" patterns per CPU-second, median of {args.runs}")
            for label, seconds in times.items():
                rate = len(Xt) / statistics.median(seconds)
                print(f"  {label:32s} {rate:12,.0f}  ({rate / forest_rate:.2f}x forest)"
                      f"  accuracy {accuracy[label][0]:.4f}")


if __name__ == "__main__":
    main()
