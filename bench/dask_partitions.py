#!/usr/bin/env python3
"""Partition training with workers limited to a quarter of the data's size.

    PYTHONPATH=build/python python3 bench/dask_partitions.py [--rows 15000000]
        [--voters 63] [--compare-rows 320000] [--test-rows 100000] [--compare-only]

The data (the overlapping workload: 25 clusters in 20 features, 5 classes)
are made chunk by chunk on the workers from a seeded generator per chunk, so
they never sit whole anywhere; a local cluster of two worker processes, each
with memory_limit a quarter of the data's size, trains one member per chunk
with qir.dask.fit(partitions=True). The workers run with
MALLOC_MMAP_THRESHOLD_=65536 (large arrays given back to the system when
freed, not kept in the heap). Prints the time, the workers' peak
memory against their limit, and the held-out accuracy.

A full-data model at that size is out of reach here (each of its members
would train on all the rows), so the comparison with one is made at
--compare-rows, with the same number of partitions: the local default fit
on all the rows against the cluster's partition fit, on the same held-out
rows. --compare-only runs that comparison alone (it is the part that
changes with the default ensemble).
"""
import argparse
import os
import resource
import time

import numpy as np

FEATURES, CLUSTERS, CLASSES = 20, 25, 5


def centres():
    return 1.1 * np.random.default_rng(0).standard_normal((CLUSTERS, FEATURES))


def chunk_patterns(block_id, rows, seed):
    """Chunk `block_id[0]` of the patterns: its clusters, then its noise."""
    chunk = block_id[0]
    cluster = np.random.default_rng([seed, chunk, 0]).integers(0, CLUSTERS, rows)
    noise = np.random.default_rng([seed, chunk, 1]).standard_normal((rows, FEATURES))
    return centres()[cluster] + 0.9 * noise


def chunk_labels(block_id, rows, seed):
    cluster = np.random.default_rng([seed, block_id[0], 0]).integers(0, CLUSTERS, rows)
    return 1.0 + cluster % CLASSES


def overlapping(rows, chunks, seed):
    """(X, y) as Dask arrays of `chunks` row chunks, made where computed."""
    import dask.array as da
    size = -(-rows // chunks)
    sizes = tuple(min(size, rows - k * size) for k in range(chunks))
    X = da.map_blocks(lambda block_id=None: chunk_patterns(block_id, sizes[block_id[0]], seed),
                      chunks=(sizes, (FEATURES,)), dtype=np.float64)
    y = da.map_blocks(lambda block_id=None: chunk_labels(block_id, sizes[block_id[0]], seed),
                      chunks=(sizes,), dtype=np.float64)
    return X, y


def peak_size():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def cluster(memory_limit):
    from distributed import LocalCluster
    return LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                        dashboard_address=None, memory_limit=memory_limit,
                        env={"MALLOC_MMAP_THRESHOLD_": "65536"})


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rows", type=int, default=15_000_000)
    parser.add_argument("--voters", type=int, default=63)
    parser.add_argument("--compare-rows", type=int, default=320_000)
    parser.add_argument("--test-rows", type=int, default=100_000)
    parser.add_argument("--compare-only", action="store_true")
    args = parser.parse_args()

    from distributed import Client

    import qir
    import qir.dask

    test_X, test_y = (a.compute() for a in overlapping(args.test_rows, 1, seed=2))
    accuracy = None
    if not args.compare_only:
        size = args.rows * FEATURES * 8
        limit = size // 4
        X, y = overlapping(args.rows, args.voters, seed=1)
        print(f"{args.rows} rows x {FEATURES} features ({size / 1e9:.2f} GB), {args.voters} "
              f"chunks of {X.chunks[0][0]} rows; 2 workers of memory_limit {limit / 1e6:.0f} MB")
        with cluster(limit) as big, Client(big) as client:
            started = time.perf_counter()
            model = qir.dask.fit(X, y, client=client, partitions=True, n_voters=args.voters)
            seconds = time.perf_counter() - started
            peaks = sorted(client.run(peak_size).values())
        accuracy = 100 * model.score(test_X, test_y)
        print(f"partitions: {seconds:.0f} s, workers' peak memory "
              f"{', '.join(f'{p / 1e6:.0f}' for p in peaks)} MB (limit {limit / 1e6:.0f} MB), "
              f"{sum(len(n) for n, _ in model.members_)} nodes, held-out accuracy {accuracy:.2f}%")

    X, y = overlapping(args.compare_rows, args.voters, seed=1)
    X_local, y_local = X.compute(), y.compute()
    started = time.perf_counter()
    full = qir.QIRClassifier(n_jobs=2, oflag=0).fit(X_local, y_local)
    full_seconds = time.perf_counter() - started
    with cluster(None) as small, Client(small) as client:
        started = time.perf_counter()
        apart = qir.dask.fit(X, y, client=client, partitions=True, n_voters=args.voters)
        apart_seconds = time.perf_counter() - started
    full_accuracy = 100 * full.score(test_X, test_y)
    apart_accuracy = 100 * apart.score(test_X, test_y)
    print(f"at {args.compare_rows} rows: full-data default fit {full_seconds:.0f} s, "
          f"{full_accuracy:.2f}%; partitions {apart_seconds:.0f} s, {apart_accuracy:.2f}% "
          f"({apart_accuracy - full_accuracy:+.2f} points)")
    if accuracy is not None:
        print(f"the {args.rows}-row partition model {accuracy - full_accuracy:+.2f} points "
              f"against that full-data model")


if __name__ == "__main__":
    main()
