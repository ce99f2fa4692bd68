"""The pictures from Python: the library's own, byte for byte what `qir plot`
draws of the same model and data, and whole as rsvg-convert draws them."""
import os
import subprocess
import sys

import numpy as np
import pytest

import qir

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import picture_check  # noqa: E402

NAMES = np.array(["north", "east", "south"])


def wide(patterns, seed, features=20):
    """Three named classes apart in the first 6 features, noise in the others."""
    rng = np.random.default_rng(seed)
    codes = np.arange(patterns) % 3
    X = rng.normal(size=(patterns, features))
    for k in range(6):
        X[codes == k % 3, k] += 2.5
    return X, NAMES[codes]


def write_csv(path, X, y):
    with open(path, "w") as f:
        for row, label in zip(X, y):
            f.write(",".join(repr(float(v)) for v in row) + f",{label}\n")
    return str(path)


@pytest.fixture(scope="module")
def fitted():
    X, y = wide(240, 1)
    X_test, y_test = wide(90, 2)
    return qir.QIRClassifier().fit(X, y), X, y, X_test, y_test


def test_every_picture_is_the_commands(fitted, tmp_path, qir_command):
    model, X, y, X_test, y_test = fitted
    model.save(tmp_path / "wide.model")
    test_csv = write_csv(tmp_path / "test.csv", X_test, y_test)
    train_csv = write_csv(tmp_path / "train.csv", X, y)
    for what, drawn, data, extra in (
            ("nodes", qir.plot_nodes(model, X_test, y_test, title="T"), test_csv, []),
            ("nodes", qir.plot_nodes(model, X_test, y_test, features=(2, 1), title="T"), test_csv,
             ["--features", "2,1"]),
            ("confusion", qir.plot_confusion(model, X_test, y_test, title="T"), test_csv, []),
            ("votes", qir.plot_votes(model, X_test, y_test, title="T"), test_csv, []),
            ("progress", qir.plot_progress(model, X, y, X_test, y_test, title="T"), train_csv,
             ["--test", test_csv])):
        out = tmp_path / f"{what}.svg"
        subprocess.run([qir_command, "plot", str(tmp_path / "wide.model"), data, "--show", what,
                        "--title", "T", "-o", str(out), *extra],
                       check=True, capture_output=True, timeout=300)
        assert drawn == out.read_text(), what


def test_pictures_keep_points_and_labels_in_the_frame(fitted, tmp_path, circle):
    model, X, y, X_test, y_test = fitted
    paths = []
    for name, draw in (("nodes", lambda p: qir.plot_nodes(model, X_test, y_test, path=p)),
                       ("confusion", lambda p: qir.plot_confusion(model, X_test, y_test, path=p)),
                       ("votes", lambda p: qir.plot_votes(model, X_test, path=p)),
                       ("progress", lambda p: qir.plot_progress(model, X, y, path=p))):
        paths.append(str(tmp_path / f"{name}.svg"))
        draw(paths[-1])
    # Numeric classes too: the circle data, labels 1 and 2.
    X_circle, y_circle = circle[0], circle[1]
    numeric = qir.QIRClassifier().fit(X_circle, y_circle)
    paths.append(str(tmp_path / "circle.svg"))
    svg = qir.plot_nodes(numeric, X_circle, y_circle, path=paths[-1])
    assert svg.count('class="point"') == len(y_circle)
    assert ">label 1</text>" in svg and ">label 2</text>" in svg
    assert [fault for path in paths for fault in picture_check.check(path)] == []


def test_pictures_refuse_what_they_cannot_draw(fitted):
    model, X, y, X_test, y_test = fitted
    with pytest.raises(ValueError, match="true labels"):
        qir.plot_confusion(model, X_test, None)
    numeric = qir.QIRClassifier(n_voters=1, shuffle=False).fit(X[:, :2], np.arange(len(y)) % 2 + 1)
    with pytest.raises(ValueError, match="not a number"):
        qir.plot_votes(numeric, X[:, :2], y)
    with pytest.raises(OSError, match="features"):
        qir.plot_nodes(model, X_test[:, :5], y_test)
