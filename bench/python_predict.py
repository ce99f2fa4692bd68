"""QIRClassifier.predict against qir_perf called from GNU Octave, on one
workload: nodes learned from data/circle_train.csv, 1,000,000 patterns drawn
uniformly from the unit square. Prints patterns per second of each (best of
three runs) and checks that both give the same labels.

Run from the source root after a plain build:
    PYTHONPATH=build/python /usr/bin/python3 bench/python_predict.py
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import qir

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PATTERNS = 1_000_000
REPEATS = 3


def python_rate(model, X):
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter()
        labels = model.predict(X)
        best = min(best, time.perf_counter() - start)
    return labels, len(X) / best


def octave_rate(model, X, work):
    model.save(os.path.join(work, "m.model"))
    X.T.tofile(os.path.join(work, "x.bin"))  # column-major, as Octave reads it
    script = f"""
      addpath('{ROOT}/toolbox'); addpath('{ROOT}/build/octave');
      [T, NL, p] = qir_read_model('{work}/m.model');
      f = fopen('{work}/x.bin'); X = reshape(fread(f, Inf, 'double'), {len(X)}, 2); fclose(f);
      best = Inf;
      for r = 1:{REPEATS}
        tic; L = qir_perf(T, NL, p.D, p.ratio, p.vigilance, p.alpha, p.ct_option, X, 0, 0);
        best = min(best, toc);
      end
      f = fopen('{work}/labels.bin', 'w'); fwrite(f, L, 'double'); fclose(f);
      printf('%.17g\\n', best);"""
    out = subprocess.run(["octave-cli", "--no-gui", "--norc", "--quiet", "--eval", script],
                         capture_output=True, text=True, check=True).stdout
    labels = np.fromfile(os.path.join(work, "labels.bin"))
    return labels, len(X) / float(out.split()[-1])


def main():
    train = np.loadtxt(os.path.join(ROOT, "data", "circle_train.csv"), delimiter=",")
    model = qir.QIRClassifier(scale=False, unknown_label=0, oflag=0).fit(train[:, :2], train[:, 2])
    X = np.random.default_rng(2024).random((PATTERNS, 2))
    with tempfile.TemporaryDirectory() as work:
        in_python, python = python_rate(model, X)
        in_octave, octave = octave_rate(model, X, work)
    same = np.array_equal(in_python, in_octave)
    print(f"{len(model.nodes_)} nodes, {PATTERNS} patterns, best of {REPEATS}")
    print(f"QIRClassifier.predict: {python:,.0f} patterns/s")
    print(f"qir_perf from Octave:  {octave:,.0f} patterns/s")
    print(f"same labels: {same}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
