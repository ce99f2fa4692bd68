"""Ctrl-C: whatever QIR is doing and on whichever thread, the work ends
promptly with the module's KeyboardInterrupt, and nothing keeps running
behind the caller's back."""
import os
import signal
import threading
import time

import dask.array as da
import numpy as np
import pytest

import qir
import qir.classifier
import qir.dask


# How soon the work must end after Ctrl-C: promptly, with room for a busy
# machine (CI runs other jobs on the same cores); work that ignored Ctrl-C
# would go on for many times longer.
PROMPTLY = 5.0


def ctrl_c():
    os.kill(os.getpid(), signal.SIGINT)


@pytest.fixture(scope="module")
def crowded():
    """A model of about one node per training pattern: classification is slow."""
    rng = np.random.default_rng(3)
    X = rng.random((2000, 16))
    model = qir.QIRClassifier(vigilance=0.9, scale=False, oflag=0).fit(X, rng.integers(0, 5, 2000))
    assert len(model.nodes_) > 1500
    return model


def interrupted_after(action, seconds):
    """The KeyboardInterrupt of `action` with Ctrl-C `seconds` into it, and
    how long it took to arrive after the Ctrl-C."""
    sent = []
    timer = threading.Timer(seconds, lambda: (sent.append(time.monotonic()), ctrl_c()))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt) as caught:
            action()
    finally:
        timer.cancel()
    return str(caught.value), time.monotonic() - sent[0]


def test_a_long_fit_stops_and_the_next_call_still_works(circle):
    # Random labels at high vigilance: about a node per pattern, so one
    # presentation takes many seconds unless it is stopped.
    rng = np.random.default_rng(7)
    X = rng.random((60000, 16))
    y = rng.integers(0, 10, 60000)
    slow = qir.QIRClassifier(vigilance=0.95, scale=False, oflag=0)
    message, delay = interrupted_after(lambda: slow.fit(X, y), 0.5)
    assert message == "QIR_TRAIN: Interrupted." and delay < PROMPTLY
    X_small, y_small, X_test, y_test = circle
    assert qir.QIRClassifier().fit(X_small, y_small).score(X_test, y_test) > 0.9


def test_ctrl_c_while_fit_runs_in_a_worker_thread_reaches_the_main_thread():
    rng = np.random.default_rng(7)
    X, y = rng.random((60000, 16)), rng.integers(0, 10, 60000)
    slow = qir.QIRClassifier(vigilance=0.95, scale=False, oflag=0)
    in_worker = []

    def fit():
        try:
            slow.fit(X, y)
        except KeyboardInterrupt as stop:
            in_worker.append(str(stop))

    worker = threading.Thread(target=fit)
    worker.start()
    time.sleep(0.5)
    with pytest.raises(KeyboardInterrupt, match=r"^QIR_TRAIN: Interrupted\.$"):
        ctrl_c()
        worker.join(30)
        for _ in range(200):  # the main thread's next steps
            time.sleep(0.01)
    assert in_worker == ["QIR_TRAIN: Interrupted."]
    # Once only: the main thread goes on undisturbed.
    time.sleep(0.2)
    assert qir.QIRClassifier(n_voters=1, oflag=0).fit(X[:100], y[:100]).n_features_in_ == 16


def test_ctrl_c_while_predict_prepares_the_patterns(monkeypatch, circle):
    X, y, _, _ = circle
    model = qir.QIRClassifier(oflag=0).fit(X, y)
    big = np.random.default_rng(1).random((4_000_000, 2))
    real_validate = qir.classifier._validate

    def validate_after_ctrl_c(estimator, patterns):
        ctrl_c()
        return real_validate(estimator, patterns)

    monkeypatch.setattr(qir.classifier, "_validate", validate_after_ctrl_c)
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt, match=r"^QIR_PERF: Interrupted\.$"):
        model.predict(big)
    assert time.monotonic() - started < PROMPTLY
    monkeypatch.setattr(qir.classifier, "_validate", real_validate)
    assert model.score(X, y) > 0.9


def test_ctrl_c_in_dasks_threaded_scheduler(crowded, monkeypatch):
    """One block classifies when Ctrl-C comes; the other is slow to get its
    data (as from a disk) and only starts once the compute has failed."""
    classifying, failed = threading.Event(), threading.Event()
    late = []
    real_block = qir.dask._predict_block

    def block(patterns, model, blocks):
        if not classifying.is_set():
            classifying.set()
            return real_block(patterns, model, blocks)
        failed.wait(60)
        started = time.monotonic()
        try:
            return real_block(patterns, model, blocks)
        finally:
            late.append(time.monotonic() - started)

    monkeypatch.setattr(qir.dask, "_predict_block", block)
    patterns = np.random.default_rng(4).random((400_000, 16))
    lazy = qir.dask.predict(crowded, da.from_array(patterns, chunks=(50_000, 16)))
    sent = []

    def ctrl_c_once_classifying():
        classifying.wait(60)
        time.sleep(0.3)
        sent.append(time.monotonic())
        ctrl_c()

    threading.Thread(target=ctrl_c_once_classifying, daemon=True).start()
    with pytest.raises(KeyboardInterrupt) as caught:
        lazy.compute(scheduler="threads", num_workers=2)
    failed.set()
    assert str(caught.value) == "QIR_PERF: Interrupted."
    assert time.monotonic() - sent[0] < PROMPTLY
    # The late block gives up at once instead of classifying for nobody.
    for _ in range(100):
        if late:
            break
        time.sleep(0.05)
    assert late and late[0] < PROMPTLY
    # Later computes run in full.
    monkeypatch.setattr(qir.dask, "_predict_block", real_block)
    small = qir.dask.predict(crowded, da.from_array(patterns[:2000], chunks=(500, 16)))
    np.testing.assert_array_equal(small.compute(scheduler="threads"),
                                  crowded.predict(patterns[:2000]))
