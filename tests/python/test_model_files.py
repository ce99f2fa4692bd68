"""Model files shared by Python, the qir command and Octave."""
import os
import subprocess

import numpy as np
import pytest
from sklearn.base import clone

import qir

# Raw features and a demanding vigilance, so that some patterns are
# unclassified and the unknown label is compared too.
STRICT = dict(D=1.0, ratio=0.5, vigilance=0.75, trim_option=1, scale=False, n_voters=1,
              shuffle=False)


def _labels_file(path):
    return np.loadtxt(path, delimiter=",", ndmin=1)


@pytest.fixture(scope="module")
def far_and_test(circle):
    # Some patterns far away, so unclassified ones are compared too.
    return np.vstack([circle[2], [[3.0, 3.0], [-2.0, 0.5]]])


def test_save_and_load_keep_every_label(circle, far_and_test, tmp_path):
    X, y, _, _ = circle
    model = qir.QIRClassifier(D=0.9, vigilance=0.8, ratio=0.4, scale=True).fit(X, y)
    model.save(tmp_path / "m.model")
    loaded = qir.QIRClassifier.load(tmp_path / "m.model")
    # The file keeps the limit that the default came to for these data.
    assert loaded.get_params() == {**model.get_params(), "max_list_presentations": 30}
    np.testing.assert_array_equal(loaded.nodes_, model.nodes_)
    np.testing.assert_array_equal(loaded.node_labels_, model.node_labels_)
    np.testing.assert_array_equal(loaded.predict(far_and_test), model.predict(far_and_test))
    assert loaded.n_list_presentations_ == model.n_list_presentations_


def test_class_names_and_scaling_ranges_survive_the_file(circle, tmp_path):
    X, y, X_test, _ = circle
    names = np.where(y == 1, "inside the circle", "outside")
    model = qir.QIRClassifier(scale=True).fit(X * 10 - 3, names)
    model.save(tmp_path / "named.model")
    text = (tmp_path / "named.model").read_text()
    # Names are numbered as the command numbers them: from 1, in name order.
    assert "% class 1 inside the circle\n% class 2 outside\n" in text
    assert "% feature_min" in text
    loaded = qir.load_model(tmp_path / "named.model")
    assert list(loaded.classes_) == ["inside the circle", "outside"]
    np.testing.assert_array_equal(loaded.feature_min_, model.feature_min_)
    np.testing.assert_array_equal(loaded.predict(X_test * 10 - 3), model.predict(X_test * 10 - 3))


def test_python_model_classifies_the_same_in_octave(circle, far_and_test, octave, tmp_path):
    X, y, _, _ = circle
    model = qir.QIRClassifier(unknown_label=-1, **STRICT).fit(X, y)
    model.save(tmp_path / "m.model")
    np.savetxt(tmp_path / "x.csv", far_and_test, delimiter=",", fmt="%.17g")
    octave(f"[T, NL, p] = qir_read_model('{tmp_path}/m.model'); "
           f"X = dlmread('{tmp_path}/x.csv', ','); "
           "L = qir_perf(T, NL, p.D, p.ratio, p.vigilance, p.alpha, p.ct_option, X, -1, 0); "
           f"dlmwrite('{tmp_path}/labels.csv', L, 'precision', '%.17g');")
    in_octave = _labels_file(tmp_path / "labels.csv")
    in_python = model.predict(far_and_test)
    assert np.count_nonzero(in_python == -1) >= 2
    np.testing.assert_array_equal(in_octave, in_python)


def test_one_seed_gives_one_ensemble_in_python_the_command_and_octave(qir_command, octave,
                                                                     tmp_path):
    wine = os.path.join(os.environ["QIR_DATA_DIR"], "wine.csv")
    data = np.loadtxt(wine, delimiter=",")
    X, y = data[:, :-1], data[:, -1]
    model = qir.QIRClassifier(n_voters=5, random_state=7, oflag=0).fit(X, y)
    model.save(tmp_path / "python.model")
    subprocess.run([qir_command, "train", wine, "-o", str(tmp_path / "command.model"),
                    "--voters", "5", "--seed", "7", "--oflag", "0"],
                   check=True, capture_output=True, timeout=60)
    octave(f"W = dlmread('{wine}'); m = qir_fit(W(:, 1:end-1), W(:, end), 'Voters', 5, "
           f"'Seed', 7, 'Oflag', 0); qir_save_model(m, '{tmp_path}/octave.model'); "
           f"dlmwrite('{tmp_path}/labels.csv', qir_predict(m, W(:, 1:end-1)), 'precision', '%.17g');")
    text = (tmp_path / "command.model").read_text()
    assert "% voters 5\n" in text and "% seed 7\n" in text
    assert (tmp_path / "python.model").read_text() == text
    assert (tmp_path / "octave.model").read_text() == text
    subprocess.run([qir_command, "classify", str(tmp_path / "command.model"), wine, "-o",
                    str(tmp_path / "command.csv"), "--oflag", "0"],
                   check=True, capture_output=True, timeout=60)
    voted = model.predict(X)
    np.testing.assert_array_equal(_labels_file(tmp_path / "command.csv"), voted)
    np.testing.assert_array_equal(_labels_file(tmp_path / "labels.csv"), voted)


def test_python_model_classifies_the_same_in_the_command(circle, qir_command, tmp_path):
    X, y, _, _ = circle
    model = qir.QIRClassifier(unknown_label=-1, **dict(STRICT, vigilance=0.85, n_voters=3,
                                                        shuffle=True)).fit(X, y)
    model.save(tmp_path / "m.model")
    assert "% format 3\n" in (tmp_path / "m.model").read_text()
    test_file = os.path.join(os.environ["QIR_DATA_DIR"], "circle_test.csv")
    subprocess.run([qir_command, "classify", str(tmp_path / "m.model"), test_file, "-o",
                    str(tmp_path / "labels.csv"), "--unknown-label", "-1", "--oflag", "0"],
                   check=True, capture_output=True, timeout=60)
    np.testing.assert_array_equal(_labels_file(tmp_path / "labels.csv"),
                                  model.predict(circle[2]))


def test_command_model_classifies_the_same_in_python(circle, qir_command, tmp_path):
    train_file = os.path.join(os.environ["QIR_DATA_DIR"], "circle_train.csv")
    test_file = os.path.join(os.environ["QIR_DATA_DIR"], "circle_test.csv")
    subprocess.run([qir_command, "train", train_file, "-o", str(tmp_path / "m.model"),
                    "--ratio", "0.3", "--oflag", "0"], check=True, capture_output=True, timeout=60)
    subprocess.run([qir_command, "classify", str(tmp_path / "m.model"), test_file, "-o",
                    str(tmp_path / "labels.csv"), "--unknown-label", "-1", "--oflag", "0"],
                   check=True, capture_output=True, timeout=60)
    model = qir.load_model(tmp_path / "m.model", unknown_label=-1)
    assert model.ratio == 0.3 and model.n_features_in_ == 2
    np.testing.assert_array_equal(model.predict(circle[2]),
                                  _labels_file(tmp_path / "labels.csv"))
    # The same training in Python, with the parameters the file holds, gives the same nodes.
    refit = clone(model).fit(circle[0], circle[1])
    assert len(refit.members_) == len(model.members_) == 23
    for (nodes, labels), (file_nodes, file_labels) in zip(refit.members_, model.members_):
        np.testing.assert_array_equal(nodes, file_nodes)
        np.testing.assert_array_equal(labels, file_labels)


def test_a_damaged_model_file_is_refused(tmp_path):
    (tmp_path / "bad.model").write_text("% QIR model\n% format 1\n% features 2\n1 2 3\n")
    with pytest.raises(OSError, match="bad.model"):
        qir.load_model(tmp_path / "bad.model")


def test_column_and_class_names_reach_the_file_and_come_back(circle, qir_command, tmp_path):
    pandas = pytest.importorskip("pandas")
    X, y, X_test, _ = circle
    columns = ["width (cm)", "height (cm)"]
    frame = pandas.DataFrame(X, columns=columns)
    names = pandas.Series(np.where(y == 1, "inside", "outside"))
    model = qir.QIRClassifier(n_voters=3).fit(frame, names)
    assert list(model.feature_names_in_) == columns
    assert list(model.classes_) == ["inside", "outside"]
    model.save(tmp_path / "named.model")
    assert "% feature 1 width (cm)\n% feature 2 height (cm)\n" in (
        tmp_path / "named.model").read_text()

    loaded = qir.load_model(tmp_path / "named.model")
    assert list(loaded.feature_names_in_) == columns
    assert list(loaded.classes_) == ["inside", "outside"]
    test = pandas.DataFrame(X_test, columns=columns)
    np.testing.assert_array_equal(loaded.predict(test), model.predict(test))
    # scikit-learn's own check of the columns holds for a loaded model too.
    with pytest.raises(ValueError, match="feature names"):
        loaded.predict(test[columns[::-1]])

    # The command names the features and classes of the Python model.
    picture = tmp_path / "m.svg"
    subprocess.run([qir_command, "plot", str(tmp_path / "named.model"), "-o", str(picture)],
                   check=True, capture_output=True, timeout=60)
    svg = picture.read_text()
    assert ">width (cm)</text>" in svg and ">inside</text>" in svg

    # An unnamed refit forgets the names, and so does its file.
    model.fit(X, y).save(tmp_path / "plain.model")
    assert not hasattr(qir.load_model(tmp_path / "plain.model"), "feature_names_in_")


def test_command_header_gives_python_its_feature_names(qir_command, tmp_path):
    rows = np.loadtxt(os.path.join(os.environ["QIR_DATA_DIR"], "iris.csv"), delimiter=",")
    data = tmp_path / "iris.csv"
    np.savetxt(data, rows, delimiter=",", fmt="%.17g",
               header="sepal length,sepal width,petal length,petal width,class", comments="")
    subprocess.run([qir_command, "train", str(data), "-o", str(tmp_path / "m.model"),
                    "--oflag", "0"], check=True, capture_output=True, timeout=60)
    model = qir.load_model(tmp_path / "m.model")
    assert list(model.feature_names_in_) == ["sepal length", "sepal width", "petal length",
                                             "petal width"]


def test_r_write_csv_with_quoted_classes_trains_alike_in_every_front_end(qir_command, octave,
                                                                         tmp_path):
    # R's write.csv(frame, file, row.names = FALSE) of a data frame whose
    # class is a factor of levels "1" to "3": the header and the classes
    # quoted. pandas, the command and qir_read_data read the classes as
    # the numbers 1 to 3; dlmread would read them as 0.
    import pandas as pd
    wine = np.loadtxt(os.path.join(os.environ["QIR_DATA_DIR"], "wine.csv"), delimiter=",")
    names = [f"V{k + 1}" for k in range(wine.shape[1] - 1)] + ["Class"]
    rows = [",".join(repr(v) for v in row[:-1]) + f',"{int(row[-1])}"' for row in wine]
    path = tmp_path / "r.csv"
    path.write_text(",".join(f'"{n}"' for n in names) + "\n" + "\n".join(rows) + "\n")

    frame = pd.read_csv(path)
    X, y = frame.iloc[:, :-1], frame["Class"]
    model = qir.QIRClassifier(n_voters=5, oflag=0).fit(X, y)
    model.save(tmp_path / "python.model")
    subprocess.run([qir_command, "train", str(path), "-o", str(tmp_path / "command.model"),
                    "--voters", "5", "--oflag", "0"], check=True, capture_output=True,
                   timeout=60)
    octave(f"[X, y, names] = qir_read_data('{path}'); "
           f"m = qir_fit(X, y, 'Voters', 5, 'Oflag', 0, 'FeatureNames', names); "
           f"qir_save_model(m, '{tmp_path}/octave.model'); "
           f"dlmwrite('{tmp_path}/octave.csv', qir_predict(m, X), 'precision', '%.17g');")
    text = (tmp_path / "command.model").read_text()
    assert "% feature 13 V13\n" in text
    assert (tmp_path / "python.model").read_text() == text
    assert (tmp_path / "octave.model").read_text() == text
    subprocess.run([qir_command, "classify", str(tmp_path / "command.model"), str(path), "-o",
                    str(tmp_path / "command.csv"), "--oflag", "0"],
                   check=True, capture_output=True, timeout=60)
    voted = model.predict(X)
    assert list(np.unique(voted)) == [1, 2, 3]
    np.testing.assert_array_equal(_labels_file(tmp_path / "command.csv"), voted)
    np.testing.assert_array_equal(_labels_file(tmp_path / "octave.csv"), voted)


def test_fitted_attributes_are_read_only_views_of_the_library_model(circle, tmp_path):
    import pickle
    X, y, _, _ = circle
    names = np.array(["out", "in"])[y.astype(int) - 1]
    model = qir.QIRClassifier(n_voters=3, oflag=0).fit(X, names)
    model.save(tmp_path / "fit.model")
    for array in (model.feature_min_, model.nodes_, model.members_[1][0]):
        with pytest.raises(ValueError, match="read-only"):
            array[0] = 0
    copied = pickle.loads(pickle.dumps(model))
    copied.save(tmp_path / "pickled.model")
    assert (tmp_path / "pickled.model").read_bytes() == (tmp_path / "fit.model").read_bytes()
    assert [labels.tolist() for _, labels in copied.members_] == \
        [labels.tolist() for _, labels in model.members_]
    # A numeric model cannot take labels its file could not hold as numbers.
    numeric = qir.QIRClassifier(n_voters=2, oflag=0).fit(X, y)
    before = numeric._model_
    with pytest.raises(ValueError, match="whole numbers within 32 bits"):
        numeric.partial_fit(X[:5], np.full(5, 2**40))
    assert numeric._model_ is before and list(numeric.classes_) == [1, 2]
