"""Training on a local cluster of two worker processes with small memory
limits: the members, partitions, folds and settings as tasks."""
import os
import signal
import subprocess
import sys
import threading

import dask.array as da
import dask.dataframe as dd
import numpy as np
import pandas as pd
import pytest
from distributed import Client, LocalCluster

import qir
import qir.dask


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, memory_limit="500MB",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        yield client


def file_bytes(model, path):
    model.save(path)
    return path.read_bytes()


def test_the_cluster_fit_is_the_local_fit_byte_for_byte(client, circle, tmp_path):
    X, y, _, _ = circle
    names = np.array(["out", "in"])[y.astype(int) - 1]
    frame = pd.DataFrame(X, columns=["x", "y"])
    for params in (dict(n_voters=5), dict(n_voters=3, random_state=8, trim_option=1),
                   dict(n_voters=1, shuffle=False, scale=False, D=0.5)):
        local = qir.QIRClassifier(oflag=0, **params).fit(frame, names)
        finished = []
        remote = qir.dask.fit(dd.from_pandas(frame, npartitions=3), names, client=client,
                              progress=lambda done, total: finished.append((done, total)),
                              **params)
        assert file_bytes(remote, tmp_path / "remote") == file_bytes(local, tmp_path / "local")
        assert finished == [(k, params["n_voters"]) for k in range(1, params["n_voters"] + 1)]
        assert list(remote.feature_names_in_) == ["x", "y"] and list(remote.classes_) == ["in", "out"]
    # NumPy data sent from here, numeric labels.
    remote = qir.dask.fit(X, y, client=client, n_voters=4)
    assert file_bytes(remote, tmp_path / "remote") == \
        file_bytes(qir.QIRClassifier(n_voters=4, oflag=0).fit(X, y), tmp_path / "local")
    with pytest.warns(qir.QIRWarning, match="same class"):
        qir.dask.fit(X, np.ones(len(y)), client=client, n_voters=2)


def test_partitions_train_members_apart_or_carry_them_chunk_to_chunk(client, circle, tmp_path):
    X, y, X_test, y_test = circle
    chunks = da.from_array(X, chunks=(len(X) // 4 + 1, 2))
    full = qir.QIRClassifier(n_voters=7, oflag=0).fit(X, y)
    apart = qir.dask.fit(chunks, y, client=client, n_voters=7, partitions=True)
    assert apart.score(X_test, y_test) > full.score(X_test, y_test) - 0.03
    # Every member saw a quarter of the data: fewer nodes than the full fit's.
    assert sum(len(n) for n, _ in apart.members_) < sum(len(n) for n, _ in full.members_)
    np.testing.assert_array_equal(apart.feature_min_, full.feature_min_)
    # The chunks were let go as used: nothing of the data stays on the cluster.
    assert scheduler_tasks_left(client) == 0
    assert apart._model_.params == full._model_.params | {
        "max_list_presentations": apart._model_.params["max_list_presentations"]}
    carried = qir.dask.fit(chunks, y, client=client, n_voters=3, partitions="continue")
    stream = qir.QIRClassifier(n_voters=3, oflag=0)
    for block in np.array_split(np.arange(len(X)), np.cumsum(chunks.chunks[0])[:-1]):
        stream.partial_fit(X[block], y[block])
    assert file_bytes(carried, tmp_path / "carried") == file_bytes(stream, tmp_path / "stream")
    assert carried._model_.batches == 4
    with pytest.raises(ValueError, match="Dask array"):
        qir.dask.fit(X, y, client=client, partitions=True)


def scheduler_tasks_left(client):
    count = lambda dask_scheduler: len(dask_scheduler.tasks)
    for _ in range(50):  # futures are let go as their messages arrive
        if client.run_on_scheduler(count) == 0:
            break
        threading.Event().wait(0.1)
    return client.run_on_scheduler(count)


def big_data():
    rng = np.random.default_rng(3)
    X = rng.random((6000, 6))
    return X, (X[:, 0] + X[:, 1] > 1).astype(int) + (X[:, 2] > 0.5)


def test_a_worker_killed_mid_fit_changes_nothing(client, tmp_path):
    X, y = big_data()
    params = dict(n_voters=6, vigilance=0.6)
    pids = list(client.run(os.getpid).values())
    killed = []

    def kill_one(done, total):
        if done == 1:  # the other members are training now
            os.kill(pids[0], signal.SIGKILL)
            killed.append(pids[0])

    remote = qir.dask.fit(X, y, client=client, progress=kill_one, **params)
    assert killed
    client.wait_for_workers(2, timeout=60)
    assert pids[0] not in client.run(os.getpid).values()
    local = qir.QIRClassifier(oflag=0, **params).fit(X, y)
    assert file_bytes(remote, tmp_path / "remote") == file_bytes(local, tmp_path / "local")


def test_ctrl_c_cancels_the_clusters_tasks(client):
    X, y = big_data()

    def interrupt(done, total):
        raise KeyboardInterrupt  # as Ctrl-C raises it while the client waits

    with pytest.raises(KeyboardInterrupt):
        qir.dask.fit(X, y, client=client, progress=interrupt, n_voters=8, vigilance=0.6)
    # Nothing of the fit stays queued or running on the workers, nor its data.
    assert scheduler_tasks_left(client) == 0


def iris():
    data = np.loadtxt(os.path.join(os.environ["QIR_DATA_DIR"], "iris.csv"), delimiter=",")
    return data[:, :4], data[:, 4]


def without_times(result):
    return {key: value for key, value in result.items() if "seconds" not in key}


def test_folds_and_settings_as_tasks_give_the_local_results(client):
    X, y = iris()
    done = []
    local = qir.cv(X, y, folds=4, n_voters=3, trim_option=1)
    remote = qir.dask.cross_validate(X, y, folds=4, n_voters=3, trim_option=1, client=client,
                                     progress=lambda k, total: done.append(total))
    np.testing.assert_equal(without_times(remote), without_times(local))
    assert done == [4] * 4
    local = qir.search(X, y, folds=3, random_state=2)
    remote = qir.dask.search(X, y, folds=3, random_state=2, client=client)
    np.testing.assert_equal(without_times(remote), without_times(local))
    assert len(remote["screened"]) > 10 and remote["finalists"]


def test_scikit_learns_tools_under_joblibs_dask_backend(client):
    import joblib
    from sklearn.model_selection import GridSearchCV, cross_val_score
    X, y = iris()
    grid = {"vigilance": [0.0, 0.5, 0.8], "n_voters": [1, 3], "shuffle": [True]}
    with joblib.parallel_backend("dask"):
        remote = GridSearchCV(qir.QIRClassifier(oflag=0), grid, cv=3, n_jobs=-1).fit(X, y)
        remote_scores = cross_val_score(qir.QIRClassifier(n_voters=3, oflag=0), X, y, cv=4,
                                        n_jobs=-1)
    local = GridSearchCV(qir.QIRClassifier(oflag=0), grid, cv=3, n_jobs=1).fit(X, y)
    assert remote.best_params_ == local.best_params_
    np.testing.assert_array_equal(remote.cv_results_["mean_test_score"],
                                  local.cv_results_["mean_test_score"])
    np.testing.assert_array_equal(
        remote_scores, cross_val_score(qir.QIRClassifier(n_voters=3, oflag=0), X, y, cv=4))


CTRL_C_CHILD = """
import sys, threading, time
import numpy as np
from distributed import Client, LocalCluster
import qir, qir.dask

def say(*words):
    print(*words, flush=True)

if __name__ == "__main__":
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        def announce():  # once both workers train, the parent may press Ctrl-C
            while sum(len(keys) for keys in client.processing().values()) < 2:
                time.sleep(0.05)
            say("training")
        threading.Thread(target=announce, daemon=True).start()
        rng = np.random.default_rng(7)  # random labels, high vigilance: slow members
        X, y = rng.random((40000, 16)), rng.integers(0, 10, 40000)
        try:
            qir.dask.fit(X, y, client=client, n_voters=4, vigilance=0.95, scale=False)
            say("finished")
        except KeyboardInterrupt:
            say("KeyboardInterrupt")
        tasks = lambda dask_scheduler: len(dask_scheduler.tasks)
        for _ in range(100):
            if client.run_on_scheduler(tasks) == 0:
                break
            time.sleep(0.1)
        say("tasks left", client.run_on_scheduler(tasks))
"""


def test_ctrl_c_in_a_process_fitting_on_a_cluster(tmp_path):
    # pytest's own process would take the signal itself: the fit runs in a
    # child process, pressed as a terminal presses Ctrl-C.
    script = tmp_path / "child.py"
    script.write_text(CTRL_C_CHILD)
    child = subprocess.Popen([sys.executable, str(script)], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True, cwd=tmp_path)
    guard = threading.Timer(120, child.kill)  # a hang fails the test, not the suite
    guard.start()
    try:
        assert child.stdout.readline() == "training\n"
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=120)
    finally:
        guard.cancel()
        child.kill()
    assert out.splitlines() == ["KeyboardInterrupt", "tasks left 0"]
    assert child.returncode == 0


def test_the_default_scaling_is_min_max_on_a_cluster(client, tmp_path):
    # Rank scaling needs the rows together; members trained apart take
    # min-max where a local fit would take rank.
    rng = np.random.default_rng(11)
    X = rng.random((200, 3))
    X[::50, 2] = 1e3
    y = 1 + (X[:, 0] + X[:, 1] > 1)
    remote = qir.dask.fit(da.from_array(X, chunks=(50, 3)), y, client=client, n_voters=3)
    assert qir.QIRClassifier(oflag=0).fit(X, y).scaling_ == "rank"
    assert file_bytes(remote, tmp_path / "remote") == \
        file_bytes(qir.QIRClassifier(n_voters=3, oflag=0, scale=True).fit(X, y), tmp_path / "local")


def test_the_feature_screen_is_found_once_for_every_member(circle, tmp_path, monkeypatch):
    # Threads of this process, so that the calls on the workers are seen here.
    X, y, _, _ = circle
    wide = np.column_stack([X, np.random.default_rng(3).uniform(size=(len(X), 6))])
    found, given = [], []
    screen, member = qir.dask._qir.ensemble_features, qir.dask._qir.train_member

    def counted_screen(*args, **kwargs):
        found.append(screen(*args, **kwargs))
        return found[-1]

    def counted_member(*args, features=None, **kwargs):
        given.append(features)
        return member(*args, features=features, **kwargs)

    monkeypatch.setattr(qir.dask._qir, "ensemble_features", counted_screen)
    monkeypatch.setattr(qir.dask._qir, "train_member", counted_member)
    chunks = da.from_array(wide, chunks=(len(wide) // 3 + 1, -1))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                      dashboard_address=None) as cluster, Client(cluster) as threads:
        remote = qir.dask.fit(chunks, y, client=threads, n_voters=5, screen=True)
        assert found == [[0, 1]]  # the idle features dropped, once for all five
        assert given == [[0, 1]] * 5
        local = qir.QIRClassifier(n_voters=5, screen=True, oflag=0).fit(wide, y)
        assert file_bytes(remote, tmp_path / "remote") == file_bytes(local, tmp_path / "local")

        # Chunk to chunk: found on the first chunk, once; the members keep it.
        found.clear(), given.clear()
        carried = qir.dask.fit(chunks, y, client=threads, n_voters=3, screen=True,
                               partitions="continue")
        # (the members run side by side: a later chunk's call may come first)
        assert len(found) == 1
        assert [g for g in given if g is not None] == found * 3 and given.count(None) == 6
        stream = qir.QIRClassifier(n_voters=3, screen=True, oflag=0)
        for block in np.array_split(np.arange(len(wide)), np.cumsum(chunks.chunks[0])[:-1]):
            stream.partial_fit(wide[block], y[block])
        assert file_bytes(carried, tmp_path / "carried") == file_bytes(stream, tmp_path / "stream")
