"""QIRClassifier as a scikit-learn estimator over the real module files."""
import logging
import os
import subprocess

import numpy as np
import pytest
from sklearn.base import clone
from sklearn.utils.estimator_checks import check_estimator

import qir
from qir._scaling import SCALINGS, scale, scaling_code

# Raw features and a demanding vigilance: patterns away from the nodes stay
# unclassified at the first qir_perf call.
STRICT = dict(D=1.0, ratio=0.5, vigilance=0.75, scale=False)


# One check fits a single class, which rightly warns (see TestDataWarnings).
@pytest.mark.filterwarnings("ignore::qir.QIRWarning")
def test_passes_scikit_learns_estimator_checks():
    check_estimator(qir.QIRClassifier())
    check_estimator(qir.QIRClassifier(**STRICT))


def test_learns_the_circle(circle):
    X, y, X_test, y_test = circle
    model = qir.QIRClassifier().fit(X, y)
    assert model.n_features_in_ == 2 and model.D is None
    assert list(model.classes_) == [1, 2]
    assert model.nodes_.shape == (len(model.node_labels_), 5)
    assert set(model.node_labels_) == {1, 2}
    assert model.score(X_test, y_test) > 0.9


def test_labels_of_any_type_map_through_classes(circle):
    X, y, X_test, _ = circle
    numeric = qir.QIRClassifier().fit(X, y)
    names = np.where(y == 1, "inside", "outside")
    named = qir.QIRClassifier().fit(X, names)
    assert list(named.classes_) == ["inside", "outside"]
    expected = np.where(numeric.predict(X_test) == 1, "inside", "outside")
    np.testing.assert_array_equal(named.predict(X_test), expected)
    np.testing.assert_array_equal(named.node_labels_ == "inside", numeric.node_labels_ == 1)


class TestUnclassifiedPatterns:
    """Patterns far outside every node: reported when asked, else the fallback."""

    @pytest.fixture(scope="class")
    def setting(self, circle):
        X, y, X_test, _ = circle
        far = np.array([[5.0, 5.0], [-3.0, 0.5], [0.5, 40.0], [1e6, -1e6]])
        fallback = qir.QIRClassifier(**STRICT).fit(X, y)
        reported = qir.QIRClassifier(unknown_label=-1, **STRICT).fit(X, y)
        return fallback, reported, np.vstack([X_test[:500], far])

    def test_reports_them_with_the_unknown_label(self, setting):
        _, reported, X = setting
        labels = reported.predict(X)
        assert np.all(labels[-4:] == -1)
        assert set(np.unique(labels)) <= {-1, 1, 2}

    def test_fallback_stays_within_classes_and_keeps_classified_ones(self, setting):
        fallback, reported, X = setting
        labels, marked = fallback.predict(X), reported.predict(X)
        assert set(np.unique(labels)) <= set(fallback.classes_)
        known = marked != -1
        np.testing.assert_array_equal(labels[known], marked[known])

    def test_fallback_label_does_not_depend_on_the_batch(self, setting):
        fallback, _, X = setting
        together = fallback.predict(X)
        one_by_one = np.concatenate([fallback.predict(X[i:i + 1])
                                     for i in range(len(X) - 10, len(X))])
        np.testing.assert_array_equal(together[-10:], one_by_one)

    def test_fallback_picks_the_class_around_a_far_pattern(self, setting):
        fallback, _, _ = setting
        # Far to the right of the square, the nearest nodes lie outside the circle.
        assert fallback.predict(np.array([[3.0, 0.5]]))[0] == 2


def test_reads_patterns_in_any_memory_layout(circle):
    X, y, X_test, _ = circle
    model = qir.QIRClassifier().fit(X, y)
    expected = model.predict(X_test)
    wide = np.zeros((len(X_test), 4))
    wide[:, ::2] = X_test
    np.testing.assert_array_equal(model.predict(np.asfortranarray(X_test)), expected)
    np.testing.assert_array_equal(model.predict(wide[:, ::2]), expected)
    np.testing.assert_array_equal(model.predict(X_test.astype(np.float32).astype(np.float64)),
                                  model.predict(X_test.astype(np.float32)))


def test_module_errors_become_python_exceptions(circle):
    X, y, _, _ = circle
    with pytest.raises(ValueError, match=r"^QIR_TRAIN: 4th input argument \(ratio\) must be in"):
        qir.QIRClassifier(ratio=0).fit(X, y)
    with pytest.raises(ValueError, match=r"^QIR_TRAIN: 5th input argument \(vigilance\)"):
        qir.QIRClassifier(vigilance=1.5).fit(X, y)
    model = qir.QIRClassifier().fit(X, y)
    with pytest.raises(ValueError, match="features"):
        model.predict(X[:, :1])


def test_odd_job_counts_and_folds_are_refused_by_name(circle):
    X, y, _, _ = circle
    for jobs in (1.5, "2", 2**31, True):
        with pytest.raises(ValueError, match=r"^n_jobs must be None or a whole number"):
            qir.QIRClassifier(n_jobs=jobs).fit(X, y)
    for jobs in (np.int64(1), -1):
        assert qir.QIRClassifier(n_jobs=jobs, n_voters=3, oflag=0).fit(X, y).score(X, y) > 0.9
    for folds in (2.5, "3", 1, len(y) + 1):
        with pytest.raises(ValueError, match=r"^folds must be a whole number from 2 to the "
                                             rf"number of patterns \({len(y)}\), got"):
            qir.search(X, y, folds=folds)


def test_console_text_goes_to_the_qir_logger(circle, caplog):
    X, y, X_test, _ = circle
    with caplog.at_level(logging.INFO, logger="qir"):
        model = qir.QIRClassifier(oflag=1).fit(X, y)
        model.predict(X_test[:10])
    texts = [r.getMessage() for r in caplog.records if r.name == "qir"]
    assert any("QIR training converged" in t for t in texts)
    assert any("QIR performance phase summary" in t for t in texts)
    caplog.clear()
    with caplog.at_level(logging.INFO, logger="qir"):
        qir.QIRClassifier(oflag=0).fit(X, y).predict(X_test[:10])
    assert not [r for r in caplog.records if r.name == "qir"]


def test_defaults_are_the_commands(qir_command, tmp_path):
    help_text = subprocess.run([qir_command, "train", "--help"], capture_output=True, text=True,
                               check=True, timeout=60).stdout
    params = qir.QIRClassifier().get_params()
    options = {"ratio": "--ratio", "vigilance": "--vigilance", "alpha": "--alpha",
               "learning_rate": "--learning-rate", "trim_option": "--trim", "ct_option": "--ct",
               "oflag": "--oflag", "n_voters": "--voters", "shuffle": "--shuffle"}
    defaults = {}
    for line in help_text.splitlines():
        if "(default " in line:
            defaults[line.split()[0]] = line.split("(default ")[1].split(")")[0]
    for name, option in options.items():
        assert float(defaults[option]) == float(params[name]), (name, defaults[option])
    # The scaling by name: True is minmax.
    assert SCALINGS[scaling_code(params["scale"])] == defaults["--scale"]
    # The presentation limit's depends on the patterns and the voters.
    assert "/ patterns / voters" in defaults["--max-presentations"]
    assert params["max_list_presentations"] is None
    # D's default depends on the number of features that vary: 2 for 4.
    assert defaults["--D"].startswith("sqrt(M") and params["D"] is None
    X = np.random.default_rng(3).random((20, 4))
    qir.QIRClassifier(oflag=0).fit(X, X[:, 0] > 0.5).save(tmp_path / "m.model")
    assert "% D 2\n" in (tmp_path / "m.model").read_text()
    # A constant feature does not count, and a stream keeps its first D even
    # when a later batch varies in that feature.
    idle = X.copy()
    idle[:, 3] = 0.25
    stream = qir.QIRClassifier(oflag=0).partial_fit(idle, X[:, 0] > 0.5, classes=[False, True])
    stream.partial_fit(X, X[:, 0] > 0.5).save(tmp_path / "s.model")
    assert f"% D {np.sqrt(3)!r}\n" in (tmp_path / "s.model").read_text()


def test_scaling_follows_the_min_max_formula():
    X = np.array([[0.0, 3.0, -2.0], [5.0, 3.0, 2.0], [10.0, 3.0, 0.0]])
    lo, hi = X.min(axis=0), X.max(axis=0)
    np.testing.assert_array_equal(scale(X, lo, hi), [[0, 0, 0], [0.5, 0, 1], [1, 0, 0.5]])
    # Beyond the training range: clipped; a constant feature stays 0.
    np.testing.assert_array_equal(scale(np.array([[20.0, 7.0, -4.0]]), lo, hi), [[1, 0, 0]])


def test_scaling_makes_the_classifier_invariant_to_units(circle):
    X, y, X_test, _ = circle
    plain = qir.QIRClassifier(scale=True).fit(X, y)
    units = np.array([1024.0, 1 / 128])  # powers of two: the scaled values are the same
    stretched = qir.QIRClassifier(scale=True).fit(X * units, y)
    np.testing.assert_array_equal(plain.predict(X_test), stretched.predict(X_test * units))
    np.testing.assert_array_equal(plain.nodes_, stretched.nodes_)


def test_a_presentation_limit_beyond_32_bits_is_explained(circle):
    X, y, _, _ = circle
    with pytest.raises(ValueError, match=r"max_list_presentations must be a whole number from 1 "
                                         r"to 2147483647, got 1099511627776; training stops"):
        qir.QIRClassifier(max_list_presentations=2**40).fit(X, y)
    most = qir.QIRClassifier(max_list_presentations=2**31 - 1, oflag=0).fit(X[:50], y[:50])
    assert most.n_list_presentations_ >= 1


def test_large_data_take_fewer_presentations_unless_told():
    # 16000 patterns split at x = 0.5, and one pattern with both labels, so
    # that training never converges: every member runs to its limit.
    rng = np.random.default_rng(5)
    X = rng.uniform(0, 1, (16000, 2))
    X[:2] = 0.25
    y = 1 + (X[:, 0] > 0.5)
    y[1] = 2
    for params, limit in (({}, 2), ({"n_voters": 1}, 42), ({"max_list_presentations": 3}, 3)):
        model = qir.QIRClassifier(oflag=0, **params).fit(X, y)
        assert model.n_list_presentations_ == limit, params
    # A stream keeps its first batch's limit, as it keeps its D.
    stream = qir.QIRClassifier(oflag=0).partial_fit(X, y).partial_fit(X[:300], y[:300])
    assert stream.n_list_presentations_ == 2


def test_members_of_larger_data_draw_their_rows_as_the_command_does(qir_command, tmp_path, circle):
    X, y, X_more, y_more = (part[:300] for part in circle)
    n = len(X)
    for bad in (-1, 2.5, True, "all"):
        with pytest.raises(ValueError, match="max_samples must be a whole number >= 0"):
            qir.QIRClassifier(max_samples=bad, oflag=0).fit(X, y)
    drawn = qir.QIRClassifier(n_voters=3, max_samples=n // 2, oflag=0).fit(X, y)
    whole = qir.QIRClassifier(n_voters=3, max_samples=n, oflag=0).fit(X, y)
    every = qir.QIRClassifier(n_voters=3, max_samples=0, oflag=0).fit(X, y)
    for model, name in ((drawn, "drawn"), (whole, "whole"), (every, "every")):
        model.save(tmp_path / f"{name}.model")
    text = {name: (tmp_path / f"{name}.model").read_text() for name in ("drawn", "whole", "every")}
    assert text["whole"] == text["every"] != text["drawn"]
    np.savetxt(tmp_path / "data.csv", np.column_stack([X, y]), delimiter=",", fmt="%.17g")
    subprocess.run([qir_command, "train", str(tmp_path / "data.csv"), "-o",
                    str(tmp_path / "cli.model"), "--voters", "3", "--max-samples", str(n // 2),
                    "--oflag", "0"], check=True, capture_output=True, timeout=60)
    assert (tmp_path / "cli.model").read_text() == text["drawn"]
    # partial_fit draws from its batch by the value set now.
    few = len(X_more) // 4
    for rows in (few, 0):
        model = qir.QIRClassifier.load(tmp_path / "every.model", max_samples=rows)
        model.partial_fit(X_more, y_more).save(tmp_path / f"more{rows}.model")
    assert (tmp_path / f"more{few}.model").read_text() != (tmp_path / "more0.model").read_text()


def test_probabilities_are_vote_shares_that_scikit_learns_tools_take(circle):
    from sklearn.calibration import CalibratedClassifierCV
    from sklearn.ensemble import VotingClassifier
    from sklearn.metrics import roc_auc_score
    from sklearn.neighbors import KNeighborsClassifier
    X, y, X_test, y_test = circle
    X_test, y_test = X_test[:2000], y_test[:2000]
    model = qir.QIRClassifier(n_voters=5, oflag=0).fit(X, y)
    proba = model.predict_proba(X_test)
    assert proba.shape == (len(X_test), 2)
    np.testing.assert_allclose(proba.sum(axis=1), 1)
    np.testing.assert_allclose(proba * 5, np.round(proba * 5))  # shares of five votes
    np.testing.assert_array_equal(model.classes_[proba.argmax(axis=1)], model.predict(X_test))
    np.testing.assert_array_equal(model.decision_function(X_test), proba[:, 1] - proba[:, 0])
    assert roc_auc_score(y_test, proba[:, 1]) > 0.95
    calibrated = CalibratedClassifierCV(qir.QIRClassifier(n_voters=5, oflag=0), cv=3).fit(X, y)
    assert calibrated.score(X_test, y_test) > 0.9
    soft = VotingClassifier([("qir", qir.QIRClassifier(n_voters=5, oflag=0)),
                             ("knn", KNeighborsClassifier(5))], voting="soft").fit(X, y)
    assert soft.score(X_test, y_test) > 0.9
    # Three classes: one column each; patterns far away still get shares (the fallback).
    rng = np.random.default_rng(5)
    centres = np.array([[0, 0], [4, 0], [0, 4]])
    labels = rng.integers(0, 3, 300)
    three = qir.QIRClassifier(n_voters=3, vigilance=0.9, oflag=0).fit(
        centres[labels] + rng.normal(size=(300, 2)), np.array(["a", "b", "c"])[labels])
    shares = three.predict_proba(np.array([[0, 0], [4, 0], [1e6, -1e6]]))
    assert shares.shape == (3, 3)
    np.testing.assert_allclose(shares.sum(axis=1), 1)
    assert list(three.classes_[shares[:2].argmax(axis=1)]) == ["a", "b"]


def test_members_do_not_depend_on_the_workers_and_one_plain_member_is_the_old_model(circle):
    X, y, _, _ = circle
    one = qir.QIRClassifier(n_voters=4, n_jobs=1, oflag=0).fit(X, y)
    two = qir.QIRClassifier(n_voters=4, n_jobs=2, oflag=0).fit(X, y)
    assert len(one.members_) == 4
    for (nodes_1, labels_1), (nodes_2, labels_2) in zip(one.members_, two.members_):
        np.testing.assert_array_equal(nodes_1, nodes_2)
        np.testing.assert_array_equal(labels_1, labels_2)
    assert not np.array_equal(one.members_[0][0], one.members_[1][0])
    other_seed = qir.QIRClassifier(n_voters=4, random_state=8, oflag=0).fit(X, y)
    assert not np.array_equal(one.members_[0][0], other_seed.members_[0][0])
    plain = qir.QIRClassifier(n_voters=1, shuffle=False, oflag=0).fit(X, y)
    bare, _ = qir._qir.fit(  # one bare qir_train call
        scale(X, X.min(axis=0), X.max(axis=0)), (y - 1).astype(float), plain._model_.params,
        0.0, {"voters": 1, "seed": 1, "shuffle": False}, 1, False, None, [], [])
    np.testing.assert_array_equal(plain.nodes_, bare.first_templates)
    with pytest.raises(ValueError, match="shuffling"):
        qir.QIRClassifier(n_voters=3, shuffle=False).fit(X, y)


def test_search_agrees_with_the_command_and_its_choice_refits(qir_command, tmp_path):
    iris = np.loadtxt(os.path.join(os.environ["QIR_DATA_DIR"], "iris.csv"), delimiter=",")
    found = qir.search(iris[:, :4], iris[:, 4], folds=3)
    out = subprocess.run([qir_command, "search", os.path.join(os.environ["QIR_DATA_DIR"],
                                                              "iris.csv"), "--folds", "3"],
                         capture_output=True, text=True, check=True, timeout=120).stdout
    line = out.split("Best setting: ")[1].split()
    options = dict(zip(line[5::2], line[6::2]))
    best = found["best_params"]
    assert int(options["--voters"]) == best["n_voters"]
    # Kept defaults leave D to the data, in both; a chosen D is a number.
    assert ("--D" in options) == (not found["kept_defaults"])
    assert best["D"] == (None if found["kept_defaults"] else float(options["--D"]))
    assert "--max-presentations" not in options and best["max_list_presentations"] is None
    assert found["kept_defaults"] == ("Defaults kept" in out)
    assert found["accuracy"] >= found["defaults_accuracy"] or found["kept_defaults"]
    model = qir.QIRClassifier(oflag=0, **best).fit(iris[:, :4], iris[:, 4])
    assert model.score(iris[:, :4], iris[:, 4]) > 0.95


class TestDataWarnings:
    """Data that train but cannot give a useful model: one QIRWarning per
    kind, pointing at the caller's line, and the fit goes on."""

    def kinds(self, X, y):
        with pytest.warns(qir.QIRWarning) as record:
            model = qir.QIRClassifier().fit(X, y)
        assert all(w.filename == __file__ for w in record), [w.filename for w in record]
        assert hasattr(model, "classes_")
        return [w.message.kind for w in record], [str(w.message) for w in record]

    def test_each_kind_in_any_memory_layout(self, circle):
        X, y, _, _ = circle
        flat = np.c_[X[:60], np.full(60, 3.0)]
        for layout in (flat, np.asfortranarray(flat), np.c_[flat, flat][::-1, :3]):
            kinds, texts = self.kinds(layout, y[:60])
            assert kinds == ["constant_features"]
            assert texts[0].startswith("column 2 of X has the same value in every pattern")
        assert self.kinds(X[:60], np.full(60, 7))[0] == ["single_class"]
        kinds, texts = self.kinds(np.arange(15.0).reshape(3, 5), [1, 2, 1])
        assert kinds == ["more_features_than_patterns"]
        assert texts[0].startswith("5 features but only 3 patterns")

    def test_identical_patterns_with_two_labels_warn_once_naming_the_rows(self, circle):
        X, y, _, _ = circle
        other = y[y != y[0]][0]
        kinds, texts = self.kinds(np.vstack([X[:60], X[:1]]), np.r_[y[:60], other])
        assert kinds == ["contradictory_patterns"]
        assert texts[0].startswith("rows 0 and 60 of X are the same pattern with different labels")
        assert "presentation limit" in texts[0]

    def test_none_for_sound_data_nor_from_scikit_learns_checks_but_one_class(self, circle):
        import warnings
        X, y, _, _ = circle
        with warnings.catch_warnings():
            warnings.simplefilter("error", qir.QIRWarning)
            qir.QIRClassifier().fit(X, y)
        with warnings.catch_warnings(record=True) as record:
            warnings.simplefilter("always")
            check_estimator(qir.QIRClassifier())
        ours = [w.message.kind for w in record if issubclass(w.category, qir.QIRWarning)]
        assert ours == ["single_class"]  # the check that fits one label

    def test_search_warns_once(self, circle):
        X, y, _, _ = circle
        with pytest.warns(qir.QIRWarning) as record:
            qir.search(np.c_[X[:60], np.zeros(60)], y[:60], folds=2)
        assert [w.message.kind for w in record] == ["constant_features"]


def test_help_documents_every_parameter_with_its_default_and_advice():
    import inspect
    import pydoc
    import re
    signature = inspect.signature(qir.QIRClassifier).parameters
    doc = inspect.getdoc(qir.QIRClassifier)
    section = doc.split("Parameters\n----------\n")[1].split("\nAttributes\n")[0]
    entries = {m.group(1): (m.group(2), m.group(3)) for m in
               re.finditer(r"^(\w+) : (.*)\n((?: {4}.*\n?)+)", section, re.M)}
    assert list(entries) == list(signature)
    for name, (head, body) in entries.items():
        default = signature[name].default
        shown = re.search(r"default (\S+)$", head)
        assert shown, f"{name}: no default in {head!r}"
        if isinstance(default, float):
            assert float(shown.group(1)) == default, name
        else:
            assert shown.group(1) == str(default), name
        assert "Advice:" in body, f"{name} gives no advice"
    rendered = pydoc.render_doc(qir.QIRClassifier, renderer=pydoc.plaintext)
    assert all(f"{name} : " in rendered for name in signature)


def test_the_default_scaling_takes_rank_where_a_feature_has_outliers(tmp_path):
    rng = np.random.default_rng(11)
    X = rng.random((200, 3))
    y = 1 + (X[:, 0] + X[:, 1] > 1)
    far = X.copy()
    far[::50, 2] = 1e3  # four outliers in the idle feature
    model = qir.QIRClassifier(oflag=0).fit(far, y)
    assert model.scaling_ == "rank"
    assert qir.QIRClassifier(oflag=0).fit(X, y).scaling_ == "minmax"
    np.testing.assert_array_equal(
        model.predict(far), qir.QIRClassifier(oflag=0, scale="rank").fit(far, y).predict(far))
    # The file keeps the scaling used; a later batch keeps the first one's.
    model.save(tmp_path / "m.model")
    text = (tmp_path / "m.model").read_text()
    assert "% scaling rank\n" in text and "auto" not in text
    stream = qir.QIRClassifier(oflag=0).partial_fit(X[:100], y[:100])
    assert stream.partial_fit(far[100:], y[100:]).scaling_ == "minmax"
    # Ranges given are min-max's.
    assert qir.QIRClassifier(oflag=0, scale_from=(0, 1)).fit(far, y).scaling_ == "minmax"


@pytest.mark.parametrize("name", ["iris", "wine", "breast_cancer", "digits"])
def test_every_default_member_of_the_bundled_sets_converges(name):
    # The default limit shares a fixed work among the members: a larger
    # default ensemble must not cut its members short on these sets, where
    # a member stopped before converging votes with nodes still moving.
    data = np.loadtxt(os.path.join(os.environ["QIR_DATA_DIR"], name + ".csv"), delimiter=",")
    model = qir.QIRClassifier(oflag=0).fit(data[:, :-1], data[:, -1])
    limit = model._model_.params["max_list_presentations"]
    presentations = np.asarray(model._model_.list_presentations)
    assert len(presentations) == model.n_voters
    assert presentations.max() < limit, f"{name}: members at the limit of {limit}"
