"""Thin layer over the _qir extension: module calls with their console text
sent to the ``qir`` logger. Module errors arrive as ValueError (refused
arguments), MemoryError (the memory message) or KeyboardInterrupt."""
import logging
import os
import warnings

from . import _qir

logger = logging.getLogger("qir")

# An installed package carries its module files in qir/modules.
_qir.use_packaged_modules(os.path.join(os.path.dirname(os.path.abspath(__file__)), "modules"))


class QIRWarning(UserWarning):
    """Training data that trains, but not into the model one would expect:
    constant features, a single class, more features than patterns,
    identical patterns with different labels. The ``kind`` attribute says
    which (``"constant_features"``, ``"single_class"``,
    ``"more_features_than_patterns"``, ``"contradictory_patterns"``).
    Silence them all with ``warnings.simplefilter("ignore", qir.QIRWarning)``."""

    def __init__(self, message, kind=""):
        super().__init__(message)
        self.kind = kind


def warn_about_data(patterns, labels, stacklevel=1):
    """The library's warnings about training data, as QIRWarning; stacklevel
    counts from the caller of this function."""
    for kind, text in _qir.data_warnings(patterns, labels):
        warnings.warn(QIRWarning(text, kind), stacklevel=stacklevel + 1)


def _log(text):
    console, module_warnings = text
    if console.strip():
        logger.info("%s", console.strip("\n"))
    for warning in module_warnings:
        logger.warning("%s", warning.rstrip("\n"))


def module_directory():
    """Directory the module files are loaded from: $QIR_MODULE_DIR, else the
    package's own qir/modules, else the build tree the package came from."""
    return _qir.module_directory()


def training_defaults():
    """The qir command's default training arguments, by module argument name."""
    return dict(_qir.training_defaults())


def parameter_table():
    """The library's parameter table: one dict per training or classifying
    parameter (its keyword here, its option in the command and the toolbox,
    its module input and model-file key, default, range, description)."""
    return [dict(row) for row in _qir.parameter_table()]


MOST_PRESENTATIONS = int(_qir.most_presentations)


def default_D(varying):
    """The command's default size bound D for data of which `varying`
    features vary."""
    return _qir.default_D(varying)


def default_max_presentations(patterns, voters):
    """The command's default most list presentations for `voters` members
    trained on `patterns` patterns."""
    return _qir.default_max_presentations(patterns, voters)


def varying_features(X):
    """How many features (columns of X) vary among its patterns."""
    return int(_qir.varying_features(X))


def is_class_label(value):
    """Whether a number can be a class label in a model file (a whole 32-bit number)."""
    return _qir.is_class_label(value)


def number_names(names, known):
    """The library's class numbers for name labels: [(number, name)], the
    `known` pairs first with their numbers, new names after them."""
    return _qir.number_names(names, known)


def check_label_kinds(model_has_names, data_has_names):
    """The library's rule for a further batch: class names and numbers do
    not mix (ValueError otherwise)."""
    _qir.check_label_kinds(model_has_names, data_has_names)


def fit(patterns, labels, params, oflag, voting, workers, scaling, class_names, feature_names,
        start=None):
    """The library's fit, one call: the patterns scaled by `scaling` ((min,
    max) or None), the members' qir_train calls side by side, the model
    (a _qir.Model) with the class names (number, name) that label a node
    and the feature names. With `start` (a _qir.Model) every member goes on
    from its own nodes, and the scaling, ensemble and names are start's.
    `labels` are the model file's; `params` the training arguments given
    (D and max_list_presentations may be left to the library)."""
    model, text = _qir.fit(patterns, labels, params, oflag, voting, workers, True, scaling,
                           class_names, feature_names, start)
    _log(text)
    return model


def stratified_folds(labels, folds, seed):
    """The fold of each pattern, as `qir cv` and `qir_cv` draw them."""
    return _qir.stratified_folds(labels, folds, seed)


def predict(model, patterns, classes, unknown_label, best_fit, oflag, labels_only=False):
    """The library's predict: the patterns scaled as the model scales, its
    members classify them and vote among `classes` (ascending model-file
    labels); with best_fit, patterns that no member classifies get the vote
    of the members' best-fitting nodes. (labels, vote shares patterns x
    classes, votes cast). With labels_only (silent calls), each pattern's
    vote ends once the members left cannot change it: no shares (patterns
    x 0), and votes are 0 exactly where no member voted."""
    labels, shares, votes, text = _qir.predict(model, patterns, classes, unknown_label,
                                               best_fit, oflag, labels_only)
    _log(text)
    return labels, shares, votes


def interruptible(module):
    """A section (``with``) in which Ctrl-C, on whichever thread the work
    runs, ends the work with KeyboardInterrupt("<module>: Interrupted.")."""
    return _qir.Interruptible(module)


read_model = _qir.read_model
