"""partial_fit: scikit-learn's partial-fit checks, batches learned on top of
the nodes so far (as `qir train --init` learns them), classes that arrive
late, fixed scaling ranges, and continuing after save and load."""
import os
import subprocess

import numpy as np
import pytest
from sklearn.utils.estimator_checks import (check_estimators_partial_fit_n_features,
                                            check_n_features_in_after_fitting)

import qir


def iris():
    data = np.loadtxt(os.path.join(os.environ["QIR_DATA_DIR"], "iris.csv"), delimiter=",")
    order = np.random.RandomState(3).permutation(len(data))
    return data[order, :4], data[order, 4].astype(int)


def members(model):
    return [(nodes.copy(), labels.copy()) for nodes, labels in model.members_]


def test_scikit_learns_partial_fit_checks():
    for estimator in (qir.QIRClassifier(n_voters=3), qir.QIRClassifier(n_voters=1, shuffle=False)):
        check_estimators_partial_fit_n_features("QIRClassifier", estimator)
        check_n_features_in_after_fitting("QIRClassifier", estimator)


def test_batches_give_what_the_command_gives(qir_command, tmp_path):
    X, y = iris()
    halves = [(X[:75], y[:75]), (X[75:], y[75:])]
    model = qir.QIRClassifier(n_voters=4, oflag=0)
    for Xb, yb in halves:
        model.partial_fit(Xb, yb)
    files = []
    for k, (Xb, yb) in enumerate(halves):
        path = tmp_path / f"batch{k}.csv"
        np.savetxt(path, np.column_stack([Xb, yb]), delimiter=",", fmt="%.17g")
        files.append(str(path))
    first, second = str(tmp_path / "first.model"), str(tmp_path / "second.model")
    run = lambda *args: subprocess.run([qir_command, *args, "--oflag", "0"], check=True,
                                       capture_output=True, timeout=120)
    run("train", files[0], "-o", first, "--voters", "4")
    run("train", files[1], "--init", first, "-o", second)
    command = qir.load_model(second)
    for (nodes, labels), (command_nodes, command_labels) in zip(model.members_,
                                                                command.members_):
        np.testing.assert_array_equal(nodes, command_nodes)
        np.testing.assert_array_equal(labels, command_labels)
    # The second batch is not learned as a refit on all the data would be.
    refit = qir.QIRClassifier(n_voters=4, oflag=0).fit(X, y)
    assert not np.array_equal(refit.nodes_, model.nodes_)
    assert model.score(X, y) > 0.9


def test_a_class_may_arrive_late_and_earlier_ones_stay():
    X, y = iris()
    names = np.array(["setosa", "versicolor", "virginica"])[y - 1]
    early = names != "virginica"
    model = qir.QIRClassifier(n_voters=3, oflag=0)
    model.partial_fit(X[early][:60], names[early][:60])
    assert list(model.classes_) == ["setosa", "versicolor"]
    before = members(model)
    late = np.flatnonzero(names != "setosa")[-60:]  # versicolor and virginica only
    model.partial_fit(X[late], names[late])
    assert list(model.classes_) == ["setosa", "versicolor", "virginica"]
    assert model.predict_proba(X).shape == (150, 3)
    for (old_nodes, old_labels), (_, labels) in zip(before, model.members_):
        assert set(labels) == {"setosa", "versicolor", "virginica"}
        np.testing.assert_array_equal(labels[:len(old_labels)], old_labels)  # none relabelled
    assert (model.predict(X[names == "setosa"]) == "setosa").mean() > 0.9


def test_classes_named_first_may_have_no_patterns_yet(tmp_path):
    X, y = iris()
    model = qir.QIRClassifier(n_voters=3, oflag=0)
    model.partial_fit(X[y < 3], np.array(["a", "b"])[y[y < 3] - 1], classes=["a", "b", "c"])
    assert list(model.classes_) == ["a", "b", "c"]
    shares = model.predict_proba(X)
    assert shares.shape == (150, 3) and not shares[:, 2].any()
    model.save(tmp_path / "m.model")  # a class without nodes is not written
    assert list(qir.load_model(tmp_path / "m.model").classes_) == ["a", "b"]


def test_scaling_is_fixed_by_the_first_call_or_by_scale_from():
    X, y = iris()
    model = qir.QIRClassifier(n_voters=1, shuffle=False, oflag=0)
    model.partial_fit(X[:50], y[:50])
    low, high = X[:50].min(axis=0), X[:50].max(axis=0)
    np.testing.assert_array_equal(model.feature_min_, low)
    model.partial_fit(X[50:], y[50:])
    np.testing.assert_array_equal(model.feature_max_, high)
    # Beyond the range, a pattern trains as the edge of the range does.
    far, edge = [clone.set_params(scale_from=(low, high)).partial_fit(Z, [1, 2])
                 for clone, Z in ((qir.QIRClassifier(n_voters=2, oflag=0), [low - 5, high + 9]),
                                  (qir.QIRClassifier(n_voters=2, oflag=0), [low, high]))]
    np.testing.assert_array_equal(far.nodes_, edge.nodes_)
    np.testing.assert_array_equal(far.feature_min_, low)
    whole = qir.QIRClassifier(scale_from=(0, 10), n_voters=1, shuffle=False, oflag=0).fit(X, y)
    np.testing.assert_array_equal(whole.feature_max_, np.full(4, 10.0))
    for bad in ((0, [1, 2]), (5, 1), (0, np.inf), 3):
        with pytest.raises(ValueError, match="scale_from"):
            qir.QIRClassifier(scale_from=bad).fit(X, y)


def test_a_saved_model_continues_as_the_one_in_memory(tmp_path):
    X, y = iris()
    model = qir.QIRClassifier(n_voters=3, random_state=4, oflag=0)
    model.partial_fit(X[:50], y[:50]).partial_fit(X[50:100], y[50:100])
    model.save(tmp_path / "m.model")
    loaded = qir.load_model(tmp_path / "m.model")
    model.partial_fit(X[100:], y[100:])
    loaded.partial_fit(X[100:], y[100:])
    for (nodes, labels), (loaded_nodes, loaded_labels) in zip(model.members_, loaded.members_):
        np.testing.assert_array_equal(nodes, loaded_nodes)
        np.testing.assert_array_equal(labels, loaded_labels)
    # fit starts over: the batches seen before are forgotten.
    refit = qir.QIRClassifier(n_voters=3, random_state=4, oflag=0).fit(X[:50], y[:50])
    assert [n.shape for n, _ in model.fit(X[:50], y[:50]).members_] == \
        [n.shape for n, _ in refit.members_]


def test_stream_demo_feeds_the_batches_the_command_feeds(qir_command, tmp_path):
    from qir import stream_demo
    lines = []
    rows = stream_demo.run(batches=10, data=os.environ["QIR_DATA_DIR"],
                           output=str(tmp_path / "s.svg"), print=lines.append)
    out = subprocess.run([qir_command, "demo", "--stream", "--batches", "10", "-o",
                          str(tmp_path / "c.svg")], capture_output=True, text=True, check=True,
                         timeout=120).stdout
    table = [line.split() for line in out.splitlines() if line[:5].strip().isdigit()]
    assert len(table) == len(rows) == 10
    for row, words in zip(rows, table):
        assert (row["seen"], row["nodes"]) == (int(words[1]), int(words[2]))
        assert f"{row['continued']:.1f}%" == words[3] and f"{row['refit']:.1f}%" == words[6]
    assert "class 9 from batch 6 on" in lines[0]
    assert (tmp_path / "s.svg").read_text().count("<polyline") == 5


def fitted(model):
    """Every fitted attribute (the trailing-underscore ones and the private
    state partial_fit goes on from), as comparable copies."""
    import copy
    names = [name for name in vars(model) if name.endswith("_") or name.startswith("_")]
    names += [name for name, value in vars(type(model)).items()
              if isinstance(value, property) and hasattr(model, name)]
    return {name: copy.deepcopy(getattr(model, name)) for name in names}


def assert_same(before, after):
    assert before.keys() == after.keys()
    for name in before:
        np.testing.assert_equal(after[name], before[name], err_msg=name)


def test_a_failed_batch_leaves_the_model_as_it_was():
    X, y = iris()
    for first in (y, np.array(["setosa", "versicolor", "virginica"])[y - 1]):
        model = qir.QIRClassifier(n_voters=3, oflag=0).fit(X, first)
        before, predicted = fitted(model), model.predict(X)
        shares = model.predict_proba(X)
        new_class = np.zeros(10, dtype=int) if first.dtype.kind == "i" else np.full(10, "new")
        with pytest.raises(ValueError, match="max_list_presentations"):
            model.set_params(max_list_presentations=0).partial_fit(X[:10], new_class)
        with pytest.raises(ValueError, match="must be None or a whole number"):
            model.set_params(max_list_presentations=None, n_jobs=1.5).partial_fit(X[:10],
                                                                                  new_class)
        model.set_params(n_jobs=None)
        assert_same(before, fitted(model))
        np.testing.assert_array_equal(model.predict(X), predicted)
        np.testing.assert_array_equal(model.predict_proba(X), shares)


def test_an_interrupted_batch_leaves_the_model_as_it_was():
    import signal
    import threading
    rng = np.random.default_rng(7)
    X = rng.random((60000, 16))
    model = qir.QIRClassifier(vigilance=0.95, scale=False, n_voters=2, oflag=0)
    model.partial_fit(X[:200], rng.integers(0, 5, 200))
    before, predicted = fitted(model), model.predict(X[:500])
    timer = threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt, match="QIR_TRAIN: Interrupted."):
            model.partial_fit(X, rng.integers(-5, 10, 60000))  # classes new and old
    finally:
        timer.cancel()
    assert_same(before, fitted(model))
    np.testing.assert_array_equal(model.predict(X[:500]), predicted)


def test_names_onto_a_numeric_model_are_refused_as_the_command_refuses_them(qir_command,
                                                                            tmp_path):
    X, y = iris()
    names = np.array(["setosa", "versicolor", "virginica"])[y - 1]
    refusals = []
    for first, batch in ((y, names), (names, y)):
        model = qir.QIRClassifier(n_voters=2, oflag=0).fit(X, first)
        before = fitted(model)
        with pytest.raises(ValueError, match="^the model's classes are") as refused:
            model.partial_fit(X[:20], batch[:20])
        assert_same(before, fitted(model))
        refusals.append(str(refused.value))
    # The command's words for names onto a numeric model (numbers onto a
    # model of names it reads as the classes' numbers).
    np.savetxt(tmp_path / "first.csv", np.column_stack([X, y]), delimiter=",", fmt="%s")
    np.savetxt(tmp_path / "batch.csv", np.column_stack([X[:20], names[:20]]), delimiter=",",
               fmt="%s")
    run = lambda *args: subprocess.run([qir_command, *args, "--oflag", "0"],
                                       capture_output=True, text=True, timeout=120)
    assert run("train", str(tmp_path / "first.csv"), "-o", str(tmp_path / "m")).returncode == 0
    command = run("train", str(tmp_path / "batch.csv"), "--init", str(tmp_path / "m"), "-o",
                  str(tmp_path / "n"))
    assert command.returncode != 0 and refusals[0] in command.stderr, command.stderr
