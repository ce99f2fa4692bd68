"""The qir command's cross-validation and search, for Python: the same
folds, the same grid and the same guard, run by the library."""
import numbers

import numpy as np
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_X_y

from . import _core, _qir
from ._scaling import scale_value, scaling_code
from .classifier import QIRClassifier


def cv(X, y, folds=5, random_state=None, **params):
    """Cross-validates one QIRClassifier setting as `qir cv` and qir_cv do:
    stratified folds (each class spread evenly, the split fixed by the
    seed), each fold classified by a model trained on the others; a pattern
    left unclassified counts as wrong.

    ``params`` are QIRClassifier's (D, ratio, ..., scale, n_voters,
    shuffle, n_jobs); D and max_list_presentations left at None are each
    training fold's own defaults. ``random_state`` seeds the folds and the
    members' orders (None: 1).

    Returns a dict: ``accuracy`` and ``unknown`` (mean percentages over the
    folds), ``nodes`` (mean, of all members), ``seconds`` (in all), and per
    fold ``fold_accuracy``, ``fold_unknown``, ``fold_nodes``,
    ``fold_presentations`` (member 1's) and ``fold_seconds``.
    """
    estimator = QIRClassifier(random_state=random_state, **params)
    with _core.interruptible("QIR_TRAIN"):
        X, codes, seed, voting = _cv_inputs(estimator, X, y, folds)
        found = _qir.cross_validate(X, codes, estimator._given_params(), folds, seed,
                                    scaling_code(estimator.scale), voting, estimator._workers())
    return _cv_result(found)


_CV_KEYS = ("accuracy", "unknown", "nodes", "seconds", "fold_accuracy", "fold_unknown",
            "fold_nodes", "fold_presentations", "fold_seconds")


def _cv_result(found):
    return {key: found[key] for key in _CV_KEYS}


def _cv_inputs(estimator, X, y, folds, stacklevel=3):
    """cv's checked patterns, class codes, seed and voting settings; warns
    about the data as fit does (stacklevel counts from the caller)."""
    X, codes = _checked_data(X, y, folds, stacklevel + 1)
    voting = estimator._voting()
    return X, codes, voting["seed"], voting


def _checked_data(X, y, folds, stacklevel):
    """The checked patterns and their class codes; warns about the data as
    fit does (stacklevel as its caller was given it, plus one)."""
    X, y = check_X_y(X, y, dtype=np.float64)
    check_classification_targets(y)
    _check_folds(folds, len(y))
    _, codes = np.unique(y, return_inverse=True)
    codes = codes.astype(np.float64)
    _core.warn_about_data(X, codes, stacklevel=stacklevel)
    return X, codes


def _check_folds(folds, patterns):
    if isinstance(folds, (bool, np.bool_)) or not isinstance(folds, numbers.Integral) \
            or not 2 <= folds <= patterns:
        raise ValueError(f"folds must be a whole number from 2 to the number of patterns "
                         f"({patterns}), got {folds!r}")

_MODULE_NAMES = ("D", "ratio", "vigilance", "alpha", "learning_rate",
                 "max_list_presentations", "trim_option", "ct_option")


def search(X, y, folds=5, random_state=None, scale=None):
    """Looks for a QIRClassifier setting that suits (X, y) better than the
    defaults, by cross-validation on (X, y) alone, as `qir search` does: with
    ``scale`` None the defaults (scale='auto') are tried first under the one
    of minmax and rank that 'auto' does not pick on (X, y), which replaces
    'auto' only if it beats it by more than the standard error of its
    per-fold gain; node settings are screened under
    that scaling with one shuffled member each, the best tried with
    ensembles, and the defaults kept unless the best (or the defaults under
    the chosen scaling) beats them by more than the standard error of its
    per-fold gain. A ``scale`` given (as QIRClassifier takes it) is the only
    one tried.

    Returns a dict: ``best_params`` (for ``QIRClassifier(**best_params)``),
    ``accuracy`` and ``defaults_accuracy`` (cross-validated, percent),
    ``gain`` and ``gain_error`` (points), ``kept_defaults`` and ``seconds``;
    the tables of `qir search`: ``screened`` (one shuffled member each) and
    ``finalists`` (the ensembles), best first, each a list of dicts (the
    module arguments, ``n_voters``, ``scale``, ``accuracy``, ``unknown``,
    ``nodes``, ``gain``, ``gain_error``), ``scalings`` (the defaults under
    each scaling, best first; empty when ``scale`` is given), and
    ``defaults``, one such dict.
    ``random_state`` seeds the folds and the members' orders (None: 1).
    """
    with _core.interruptible("QIR_TRAIN"):
        X, codes, seed = _search_inputs(X, y, folds, random_state)
        code, choose = _search_scaling(scale)
        found = _qir.search(X, codes, int(folds), seed, code, choose_scaling=choose)
    return _search_result(found, random_state)


def _search_scaling(scale):
    """The search's base scaling code and whether it chooses the scaling."""
    if scale is None:
        return scaling_code(_core.training_defaults()["scale"]), True
    return scaling_code(scale), False


def _search_inputs(X, y, folds, random_state, stacklevel=3):
    X, codes = _checked_data(X, y, folds, stacklevel + 1)
    seed = int(_core.training_defaults()["seed"]) if random_state is None else int(random_state)
    if seed < 0:
        raise ValueError("random_state must be None or an int >= 0")
    return X, codes, seed


def _search_result(found, random_state):
    params = {name: found["params"][name] for name in _MODULE_NAMES}
    for name in ("trim_option", "ct_option"):
        params[name] = int(params[name])
    # The limit is the default for whatever data the choice is fitted on,
    # as the command's best line leaves it out.
    params["max_list_presentations"] = None
    if found["kept_defaults"]:
        params["D"] = None  # the default D, sqrt of the features that vary, as the command's line
    params.update(n_voters=int(found["n_voters"]), scale=scale_value(found["scale"]),
                  random_state=random_state)
    result = {key: found[key] for key in ("accuracy", "defaults_accuracy", "gain", "gain_error",
                                          "kept_defaults", "seconds")}
    result["best_params"] = params
    # The tables `qir search` prints: the screened settings and the
    # ensembles, best first, and the defaults.
    for key in ("scalings", "screened", "finalists", "defaults"):
        result[key] = found[key]
    for row in result["scalings"] + result["screened"] + result["finalists"] + \
            [result["defaults"]]:
        row["scale"] = scale_value(row["scale"])
    return result
