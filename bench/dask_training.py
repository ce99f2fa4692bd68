#!/usr/bin/env python3
"""Training on a local Dask cluster of two worker processes against a local
fit, on the overlapping generator (20 features, 5 classes).

    PYTHONPATH=build/python python3 bench/dask_training.py [--qir-bench build/bin/qir_bench]
        [--rows 50000] [--test-rows 10000] [--runs 3]

Prints, each the median of --runs rounds (local and cluster in turns, so
load from other work hits both alike): the wall time of the default
ensemble fitted locally with n_jobs=2 and by qir.dask.fit on the cluster
(whether the model files are byte-identical); then, on fresh workers for
each, the whole-data, partition (four chunks, each member on one) and
chunk-to-chunk fits: time, the workers' peak memory beyond their size once
started, and the held-out accuracy against the local full-data model.
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


def overlapping(qir_bench, rows):
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([qir_bench, "large", "--write-inputs", folder, "--large-patterns", str(rows),
                        "--large-sets", "overlapping", "--large-sorted", "0"],
                       check=True, capture_output=True)
        return np.loadtxt(os.path.join(folder, f"overlapping_{rows}.csv"), delimiter=",")


def timed(action):
    started = time.perf_counter()
    result = action()
    return time.perf_counter() - started, result


def worker_size(client):
    def rss():
        import psutil
        return psutil.Process().memory_info().rss
    return max(client.run(rss).values())


def peak_size():
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--qir-bench", default=os.path.join(HERE, "..", "build", "bin", "qir_bench"))
    parser.add_argument("--rows", type=int, default=50000)
    parser.add_argument("--test-rows", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    import dask.array as da
    from distributed import Client, LocalCluster

    import qir
    import qir.dask

    data = overlapping(args.qir_bench, args.rows + args.test_rows)
    X, y = data[:args.rows, :-1], data[:args.rows, -1]
    X_test, y_test = data[args.rows:, :-1], data[args.rows:, -1]
    print(f"overlapping generator: {args.rows} training rows, {args.test_rows} held out, "
          f"{X.shape[1]} features, {X.nbytes / 1e6:.1f} MB")

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        local_times, cluster_times, same = [], [], []
        for _ in range(args.runs):
            seconds, local = timed(lambda: qir.QIRClassifier(n_jobs=2, oflag=0).fit(X, y))
            local_times.append(seconds)
            seconds, remote = timed(lambda: qir.dask.fit(da.from_array(X, chunks=(12500, -1)),
                                                         y, client=client))
            cluster_times.append(seconds)
            with tempfile.TemporaryDirectory() as folder:
                local.save(os.path.join(folder, "a"))
                remote.save(os.path.join(folder, "b"))
                same.append(open(os.path.join(folder, "a"), "rb").read() ==
                            open(os.path.join(folder, "b"), "rb").read())
        local_s, cluster_s = statistics.median(local_times), statistics.median(cluster_times)
        print(f"default ensemble ({local.n_voters} members): local n_jobs=2 {local_s:.2f} s, "
              f"cluster {cluster_s:.2f} s ({cluster_s / local_s:.2f}x); "
              f"model files byte-identical: {all(same)}")
        full_accuracy = 100 * local.score(X_test, y_test)

    # Each mode on fresh workers: their peak memory beyond what they held
    # once started and warmed up on a tiny fit.
    chunks = da.from_array(X, chunks=(args.rows // 4, -1))
    for mode, run in (("whole data", lambda client: qir.dask.fit(chunks, y, client=client)),
                      ("partitions", lambda client: qir.dask.fit(chunks, y, client=client,
                                                                 partitions=True)),
                      ("continue", lambda client: qir.dask.fit(chunks, y, client=client,
                                                               partitions="continue"))):
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            qir.dask.fit(X[:200], y[:200], client=client, n_voters=2)
            start = worker_size(client)
            seconds, model = timed(lambda: run(client))
            grew = max(client.run(peak_size).values()) - start
        accuracy = 100 * model.score(X_test, y_test)
        print(f"{mode}: {seconds:.2f} s, peak worker memory {grew / 1e6:.0f} MB above the "
              f"{start / 1e6:.0f} MB of a started worker, held-out accuracy {accuracy:.2f}% "
              f"({accuracy - full_accuracy:+.2f} points against the local fit)")


if __name__ == "__main__":
    main()
