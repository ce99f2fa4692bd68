#!/usr/bin/env python3
"""QIR beside scikit-learn's RandomForestClassifier(100 trees, n_jobs=2) and
1-NN, as a user choosing a classifier would see them, every figure from one
run on this machine.

  predict  the default model, 21 members at alpha 0.1 (the earlier default), one member,
           the forest and 1-NN on held-out patterns of both workloads of bench/predict_vs_forest.py
           (letters-like, overlapping) at each --test size: patterns per
           CPU-second (user + system, all threads) through the qir command
           (`qir classify`, from reading the file to writing the labels) and
           through Python (QIRClassifier.predict on an array), Python's
           rate when every member votes on every pattern (the vote that
           predict_proba takes; predict ends a pattern's vote once it is
           settled), and the command's peak resident set.
  train    `qir train` at its defaults against the forest's fit on the
           overlapping generator (or --workload letters-like) at each --rows
           size (held-out rows as above): CPU seconds, peak resident set of
           each (the forest in a process of its own) and the accuracy of each
           on 20,000 held-out rows; with --samples, qir at each of those
           --max-samples values beside the one forest of each size; then
           each one's growth exponent k (CPU time as N^k) between sizes.

Each classifier runs in turn within a round (median of --runs rounds), so
drifts in the machine's speed hit all alike; QIR's labels through the
command and through Python are checked to be equal. With --before BUILD
(another build folder, e.g. of an earlier commit: its bin/qir and its
python/ package), QIR's figures through that build are taken in the same
rounds, in turns with this one's, and its labels checked to be the same.

    PYTHONPATH=build/python /usr/bin/python3 bench/versus_forest.py predict
        [--qir build/bin/qir] [--test 100000,1000000] [--runs 1] [--before BUILD]
        [--workload overlapping]
    PYTHONPATH=build/python /usr/bin/python3 bench/versus_forest.py train
        [--rows 10000,50000,200000] [--runs 1] [--workload overlapping]
        [--samples 0,50000,100000] [--all-rows-up-to 200000]
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from predict_vs_forest import letters_like, overlapping, write  # noqa: E402


def child(command):
    """CPU seconds, peak resident set (bytes) and standard output of a command.
    The peak through /usr/bin/time (a child forked from this process would
    count the process's own pages in its peak); the CPU time from this
    process's count of its children, to the microsecond (/usr/bin/time gives
    hundredths, 2-4 % of a run of 10^5 patterns; its own share, about a
    millisecond, is the same for every command)."""
    with tempfile.NamedTemporaryFile("r") as figures:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        run = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", figures.name] + command,
                             capture_output=True, text=True, timeout=7200)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if run.returncode != 0:
            raise SystemExit(f"{command[:2]} failed: {run.stderr[-2000:]}")
        kbytes = figures.read().split()[-1]
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, int(kbytes) * 1024, run.stdout


def cpu_of(action):
    started = time.process_time()
    result = action()
    return time.process_time() - started, result


PYTHON_PREDICT = """
import sys, time
import numpy as np
import qir
estimator = qir.QIRClassifier.load(sys.argv[1], oflag=0)
X = np.load(sys.argv[2])
started = time.process_time()
labels = estimator.predict(X)
print(time.process_time() - started)
np.save(sys.argv[3], np.asarray(labels, dtype=float))
"""


def before_figures(build, model, test_csv, Xt_npy, folder):
    """CPU seconds of the command and of Python's predict through another
    build, and its labels."""
    out_csv = os.path.join(folder, "before_labels.csv")
    cpu, _, _ = child([os.path.join(build, "bin", "qir"), "classify", model, test_csv, "-o",
                       out_csv, "--oflag", "0"])
    labels_npy = os.path.join(folder, "before_labels.npy")
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    run = subprocess.run([sys.executable, "-c", PYTHON_PREDICT, model, Xt_npy, labels_npy],
                         capture_output=True, text=True, timeout=7200, env=env, check=True)
    return cpu, float(run.stdout.split()[-1]), np.loadtxt(out_csv), np.load(labels_npy)


def workload(name, train, test, seed_shift=0):
    if name == "letters-like":
        rng = np.random.default_rng(2026 + seed_shift)
        prototypes = rng.integers(0, 16, (26, 4, 16)).astype(float)
        return [letters_like(rng, prototypes, n) for n in (train, test)]
    rng = np.random.default_rng(7 + seed_shift)
    centres = rng.normal(0, 1.1, (25, 20))
    return [overlapping(rng, centres, n) for n in (train, test)]


def predict(args, qir_py, folder):
    from sklearn.ensemble import RandomForestClassifier
    from sklearn.neighbors import KNeighborsClassifier
    sizes = [int(n) for n in args.test.split(",")]
    for name, train_rows in (("letters-like", 16000), ("overlapping", 20000)):
        if args.workload and name != args.workload:
            continue
        (X, y), (Xt_all, yt_all) = workload(name, train_rows, max(sizes))
        train_csv = os.path.join(folder, "train.csv")
        write(train_csv, X, y)
        models = {}
        # The earlier defaults trained at alpha 0.1.
        for label, voters, alpha in (("QIR default model", None, None),
                                     ("QIR 21 members at alpha 0.1 (the earlier default)", 21, 0.1),
                                     ("QIR one member", 1, None)):
            path = os.path.join(folder, f"m{voters or 'default'}.model")
            choice = [] if voters is None else ["--voters", str(voters)]
            choice += [] if alpha is None else ["--alpha", str(alpha)]
            child([args.qir, "train", train_csv, "-o", path, "--oflag", "0"] + choice)
            models[label] = (path, qir_py.QIRClassifier.load(path, oflag=0))
        forest = RandomForestClassifier(n_estimators=100, n_jobs=2, random_state=0).fit(X, y)
        knn = KNeighborsClassifier(n_neighbors=1).fit(X, y)
        for size in sizes:
            Xt, yt = Xt_all[:size], yt_all[:size]
            test_csv = os.path.join(folder, "test.csv")
            write(test_csv, Xt, yt)
            Xt_npy = os.path.join(folder, "test.npy")
            np.save(Xt_npy, Xt)
            rows, before = {}, {}
            for _ in range(args.runs):
                for label, (path, estimator) in models.items():
                    out_csv = os.path.join(folder, "labels.csv")
                    cpu, rss, _ = child([args.qir, "classify", path, test_csv, "-o", out_csv,
                                         "--oflag", "0"])
                    command_labels = np.loadtxt(out_csv)
                    py_cpu, py_labels = cpu_of(lambda: estimator.predict(Xt))
                    if not np.array_equal(command_labels, np.asarray(py_labels, dtype=float)):
                        raise SystemExit(f"{label}: the command and Python disagree")
                    full_cpu, codes = cpu_of(lambda: estimator._vote(
                        estimator._prepared(Xt), estimator.unknown_label is None)[0])
                    if not np.array_equal(estimator.classes_[codes], py_labels):
                        raise SystemExit(f"{label}: the full vote and predict disagree")
                    rows.setdefault(label, []).append((cpu, py_cpu, rss,
                                                       np.mean(command_labels == yt), full_cpu))
                    if args.before:
                        b_cpu, b_py, b_cmd, b_labels = before_figures(args.before, path, test_csv,
                                                                      Xt_npy, folder)
                        if not (np.array_equal(b_cmd, command_labels)
                                and np.array_equal(b_labels, command_labels)):
                            raise SystemExit(f"{label}: the builds' labels differ")
                        before.setdefault(label, []).append((b_cpu, b_py))
                for label, estimator in (("RandomForestClassifier(100, n_jobs=2)", forest),
                                         ("1-NN", knn)):
                    cpu, labels = cpu_of(lambda: estimator.predict(Xt))
                    rows.setdefault(label, []).append((None, cpu, None, np.mean(labels == yt)))
            forest_rate = size / statistics.median(
                r[1] for r in rows["RandomForestClassifier(100, n_jobs=2)"])
            print(f"\n{name}: {train_rows:,} training rows, {size:,} test patterns "
                  f"({Xt.size * 8 / 1e6:.0f} MB as doubles); patterns per CPU-second, "
                  f"median of {args.runs}")
            print("| classifier | command | Python | vs forest (command, Python) | "
                  "Python, every member voting (vs forest) | command peak RSS | accuracy |")
            print("|---|---|---|---|---|---|---|")
            for label, runs in rows.items():
                py = size / statistics.median(r[1] for r in runs)
                if runs[0][0] is None:
                    print(f"| {label} | | {py:,.0f} | {py / forest_rate:.2f}x | | | "
                          f"{runs[0][3]:.4f} |")
                    continue
                cmd = size / statistics.median(r[0] for r in runs)
                full = size / statistics.median(r[4] for r in runs)
                rss = max(r[2] for r in runs)
                print(f"| {label} | {cmd:,.0f} | {py:,.0f} | {cmd / forest_rate:.2f}x, "
                      f"{py / forest_rate:.2f}x | {full:,.0f} ({full / forest_rate:.2f}x) | "
                      f"{rss / 1e6:.0f} MB ({rss / (Xt.size * 8):.2f}x) "
                      f"| {runs[0][3]:.4f} |", flush=True)
                if label in before:
                    b_cmd = size / statistics.median(r[0] for r in before[label])
                    b_py = size / statistics.median(r[1] for r in before[label])
                    print(f"| {label}, before | {b_cmd:,.0f} | {b_py:,.0f} | "
                          f"{b_cmd / forest_rate:.2f}x, {b_py / forest_rate:.2f}x | | | |",
                          flush=True)


FOREST_FIT = """
import sys, time
import numpy as np
from sklearn.ensemble import RandomForestClassifier
data = np.loadtxt(sys.argv[1], delimiter=",")
test = np.loadtxt(sys.argv[2], delimiter=",")
started = time.process_time()
forest = RandomForestClassifier(n_estimators=100, n_jobs=2, random_state=0)
forest.fit(data[:, :-1], data[:, -1])
fit = time.process_time() - started
print(fit, np.mean(forest.predict(test[:, :-1]) == test[:, -1]))
"""


def train(args, folder):
    samples = [int(n) for n in args.samples.split(",")] if args.samples else [None]
    args.workload = args.workload or "overlapping"
    print(f"{args.workload} generator, qir train at its defaults (max-samples as given) "
          f"against the forest's fit; CPU seconds, median of {args.runs}")
    print("| rows | data | qir max-samples | qir train CPU s | peak RSS | forest fit CPU s | "
          "forest process peak RSS | QIR / forest CPU | accuracy QIR, forest |")
    print("|---|---|---|---|---|---|---|---|---|")
    grown = {}  # (qir's setting, size): CPU seconds; forest under None
    for rows in (int(n) for n in args.rows.split(",")):
        (X, y), (Xt, yt) = workload(args.workload, rows, 20000)
        train_csv = os.path.join(folder, "train.csv")
        test_csv = os.path.join(folder, "test.csv")
        write(train_csv, X, y)
        write(test_csv, Xt, yt)
        theirs = []
        for _ in range(args.runs):
            fit_cpu, forest_rss, out = child([sys.executable, "-c", FOREST_FIT, train_csv, test_csv])
            fit, forest_accuracy = (float(v) for v in out.split())
            theirs.append((fit, forest_rss))
        b = statistics.median(r[0] for r in theirs)
        grown[None, rows] = b
        for sample in samples:
            # Every row at sizes above --all-rows-up-to would take too long.
            if sample is not None and (sample >= rows or (sample == 0 and rows > args.all_rows_up_to)):
                continue
            model = os.path.join(folder, "m.model")
            option = [] if sample is None else ["--max-samples", str(sample)]
            ours = []
            for _ in range(args.runs):
                cpu, rss, _ = child([args.qir, "train", train_csv, "-o", model, "--oflag", "0"] +
                                    option)
                ours.append((cpu, rss))
            labels = os.path.join(folder, "labels.csv")
            child([args.qir, "classify", model, test_csv, "-o", labels, "--oflag", "0"])
            accuracy = np.mean(np.loadtxt(labels) == yt)
            a = statistics.median(r[0] for r in ours)
            shown = "default" if sample is None else ("all" if sample == 0 else f"{sample:,}")
            grown[shown, rows] = a
            print(f"| {rows:,} | {X.size * 8 / 1e6:.0f} MB | {shown} | {a:.1f} | "
                  f"{max(r[1] for r in ours) / 1e6:.0f} MB | {b:.1f} | "
                  f"{max(r[1] for r in theirs) / 1e6:.0f} MB | {a / b:.2f} | "
                  f"{accuracy:.4f}, {forest_accuracy:.4f} |", flush=True)
    # CPU time as N^k between consecutive sizes each setting ran at.
    for setting in dict.fromkeys(key for key, _ in grown):
        sizes = sorted(n for key, n in grown if key == setting)
        for low, high in zip(sizes, sizes[1:]):
            k = np.log(grown[setting, high] / grown[setting, low]) / np.log(high / low)
            print(f"growth {low:,} to {high:,} rows, "
                  f"{'forest' if setting is None else 'qir ' + setting}: N^{k:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("what", choices=("predict", "train"))
    parser.add_argument("--qir", default=os.path.join(HERE, "..", "build", "bin", "qir"))
    parser.add_argument("--test", default="100000,1000000")
    parser.add_argument("--rows", default="10000,50000,200000")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--before", help="another build folder to measure in the same rounds")
    parser.add_argument("--workload", choices=("overlapping", "letters-like"),
                        help="predict: this workload alone (default: both); "
                        "train: the workload (default: overlapping)")
    parser.add_argument("--samples", default="",
                        help="train: qir's --max-samples values to compare (0: every row); "
                        "none: its default alone")
    parser.add_argument("--all-rows-up-to", type=int, default=200000,
                        help="train: --max-samples 0 only at sizes up to this")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        if args.what == "predict":
            import qir as qir_py
            predict(args, qir_py, folder)
        else:
            train(args, folder)


if __name__ == "__main__":
    main()
