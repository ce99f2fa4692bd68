"""Pictures of a fitted QIRClassifier, drawn by the library exactly as
``qir plot --show`` draws them, as SVG text (written to ``path`` as well when
given):

- ``plot_nodes``: the points of X over the model's decision regions and its
  nodes; a model of 2 features on both, a wider one on ``features=(i, j)``
  (counted from 1) or else on the first two principal components of X;
- ``plot_confusion``: the confusion matrix on X, y as a heat map;
- ``plot_votes``: the share of the members' votes each class gets, by true
  class;
- ``plot_progress``: accuracy on (X_test, y_test) and nodes after training
  on X, y with the model's settings for 1, 2, ... list presentations.

Classes keep one order and one colour in every picture, as in the
command's and the toolbox's.
"""
import numpy as np
from sklearn.utils.validation import check_is_fitted

from . import _core
from ._qir import picture as _picture


def _labels(y):
    return [] if y is None else [str(label) for label in np.asarray(y).ravel()]


def _draw(model, what, X, y, title, path, features=(), X_test=None, y_test=None):
    check_is_fitted(model, "_model_")
    test = None if X_test is None else np.asarray(X_test, dtype=np.float64)
    with _core.interruptible("QIR_PERF"):
        svg = _picture(model._model_, what, np.asarray(X, dtype=np.float64), _labels(y), title,
                       [float(k) for k in features], test, _labels(y_test))
    if path is not None:
        with open(path, "w", encoding="utf-8") as f:
            f.write(svg)
    return svg


def plot_nodes(model, X, y=None, *, features=None, title="QIR model", path=None):
    return _draw(model, "nodes", X, y, title, path, features or ())


def plot_confusion(model, X, y, *, title="QIR model: confusion matrix", path=None):
    return _draw(model, "confusion", X, y, title, path)


def plot_votes(model, X, y=None, *, title="QIR model: vote shares", path=None):
    return _draw(model, "votes", X, y, title, path)


def plot_progress(model, X, y, X_test=None, y_test=None, *,
                  title="QIR model: accuracy and nodes while training", path=None):
    return _draw(model, "progress", X, y, title, path, (), X_test, y_test)
