"""Prediction of a large Dask array on a local cluster of worker processes."""
import logging
import os
import time

import dask.array as da
import numpy as np
import pytest
from distributed import Client, LocalCluster

import qir
import qir.dask

# Raw features and a demanding vigilance: far patterns need the fallback.
STRICT = dict(D=1.0, ratio=0.5, vigilance=0.75, scale=False, oflag=0, n_voters=3)


@pytest.fixture(scope="module")
def model(circle):
    return qir.QIRClassifier(**STRICT).fit(circle[0], circle[1])


def test_two_worker_processes_give_the_in_process_labels(model, caplog):
    # Inside and far outside the square, so the fallback runs on the workers too.
    patterns = np.random.default_rng(7).uniform(-0.5, 1.5, size=(1_000_000, 2))
    expected = model.predict(patterns)
    # A thread count the module cannot use: each worker's module warns once,
    # the client's qir logger says it once, as one process would.
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None, env={"QIR_THREADS": "plenty"}) as cluster, \
            Client(cluster) as client:
        chunks = da.from_array(patterns, chunks=(125_000, 2))
        labels = qir.dask.predict(model, chunks).compute()
        workers = client.run(lambda: __import__("os").getpid())
        for _ in range(100):  # the workers' events arrive as they come
            if len([r for r in caplog.records if "QIR_THREADS=plenty" in r.getMessage()]) and \
                    len(client.get_events("qir-warnings")) == 2:
                break
            time.sleep(0.1)
    assert len(set(workers.values())) == 2
    assert labels.dtype == expected.dtype
    np.testing.assert_array_equal(labels, expected)
    warned = [r for r in caplog.records if r.name == "qir" and r.levelno == logging.WARNING]
    assert [r.getMessage() for r in warned] == [
        "QIR_PERF: QIR_THREADS=plenty is not a whole number from 1 to 256; using the "
        f"processor count ({os.cpu_count()})."]


def test_reported_unknowns_and_string_classes_in_blocks(circle):
    X, y, X_test, _ = circle
    model = qir.QIRClassifier(unknown_label="none", **STRICT).fit(
        X, np.where(y == 1, "in", "out"))
    patterns = np.vstack([X_test, [[4.0, 4.0]]])
    labels = qir.dask.predict(model, da.from_array(patterns, chunks=(3000, 1))).compute(
        scheduler="threads")
    np.testing.assert_array_equal(labels, model.predict(patterns))
    assert labels[-1] == "none"


def test_refuses_a_wrong_number_of_columns(model):
    with pytest.raises(ValueError, match="2 columns"):
        qir.dask.predict(model, da.zeros((10, 3), chunks=5))
