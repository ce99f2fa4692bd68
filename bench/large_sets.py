#!/usr/bin/env python3
"""Writes the larger generated sets on which the default presentation limit
was judged (docs/command.md): clusters, two overlapping classes, noisy bands
and a 4 x 4 checkerboard of 10,000 rows, and bands and checkerboard of
50,000 rows, drawn as bench/accuracy.py draws its smaller sets.

    python3 bench/large_sets.py DIR
"""
import os
import sys

import numpy as np


def bands(rng, n):
    t = rng.uniform(0, 3 * np.pi, n)
    y = rng.integers(1, 4, n)
    radius = y + 0.35 * rng.normal(size=n)
    return np.column_stack([radius * np.cos(t), radius * np.sin(t), rng.normal(size=(n, 2))]), y


def checkerboard(rng, n):
    X = rng.uniform(0, 4, (n, 2))
    return X, (np.floor(X[:, 0]) + np.floor(X[:, 1])) % 2 + 1


def main(folder):
    def keep(name, X, y):
        np.savetxt(os.path.join(folder, name + ".csv"), np.column_stack([X, y]), delimiter=",",
                   fmt="%.10g")

    rng = np.random.default_rng(7)
    n = 10000
    centres = rng.uniform(0, 10, (12, 6))
    which = rng.integers(0, 12, n)
    keep("clusters10k", centres[which] + rng.normal(0, 0.8, (n, 6)), which % 4 + 1)
    y = rng.integers(1, 3, n)
    keep("overlap10k", rng.normal(0, 1, (n, 5)) + (y[:, None] - 1.5) * 1.2, y)
    keep("bands10k", *bands(rng, n))
    keep("checker10k", *checkerboard(rng, n))
    rng = np.random.default_rng(8)
    keep("bands50k", *bands(rng, 50000))
    keep("checker50k", *checkerboard(rng, 50000))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
