"""QIRClassifier: a scikit-learn estimator whose fit is one qir_train call
and whose predict is one qir_perf call (two for patterns no node takes)."""
import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted

from . import _core
from ._scaling import feature_range, scale

_DEFAULTS = _core.training_defaults()
_UNCLASSIFIED = -1.0  # module label for "no node": never a class index
# qir_train's arguments besides the data and D (whose default depends on M).
_TRAINING_ARGUMENTS = ("ratio", "vigilance", "alpha", "learning_rate",
                       "max_list_presentations", "trim_option", "ct_option")


def _validate(estimator, X, y="no_validation", reset=True):
    """scikit-learn's input validation (float64, finite, 2-D), whichever
    version is installed; y=None is refused as a missing target."""
    try:
        from sklearn.utils.validation import validate_data
    except ImportError:  # before scikit-learn 1.6
        return estimator._validate_data(X, y, reset=reset, dtype=np.float64)
    return validate_data(estimator, X, y, reset=reset, dtype=np.float64)


class QIRClassifier(ClassifierMixin, BaseEstimator):
    """Supervised classifier made of hyper-ellipsoidal category nodes.

    The training arguments are those of the qir_train module, with the qir
    command's defaults; D=None stands for the command's default size bound
    for the number of features (sqrt(M), the diagonal of the scaled data).

    scale : bool
        Min-max scale each feature to [0, 1] with the training data's range
        (kept in ``feature_min_``/``feature_max_`` and applied in predict).
    unknown_label : None or label
        A pattern that no node classifies is labelled by a second qir_perf
        call at vigilance 0 with a size bound D wide enough for every node
        to qualify: the best-fitting node's class, so predict stays within
        ``classes_``. Give a label here (for instance -1) to get it instead.
    oflag : int
        Module verbosity (0 silent, 1 summary, higher more detail); the text
        goes to the ``qir`` logger at level INFO.

    Attributes after fit: ``classes_``, ``n_features_in_``, ``nodes_`` (one
    template row [center direction radius] per node), ``node_labels_`` (the
    class of each node), ``n_list_presentations_``.

    There is no ``partial_fit`` yet: qir_train can continue from given nodes,
    but this class does not offer it, so learning more data means fitting
    again.
    """

    def __init__(self, D=None, ratio=_DEFAULTS["ratio"],
                 vigilance=_DEFAULTS["vigilance"], alpha=_DEFAULTS["alpha"],
                 learning_rate=_DEFAULTS["learning_rate"],
                 max_list_presentations=int(_DEFAULTS["max_list_presentations"]),
                 trim_option=int(_DEFAULTS["trim_option"]),
                 ct_option=int(_DEFAULTS["ct_option"]),
                 scale=_DEFAULTS["scale"], unknown_label=None, oflag=int(_DEFAULTS["oflag"])):
        self.D = D
        self.ratio = ratio
        self.vigilance = vigilance
        self.alpha = alpha
        self.learning_rate = learning_rate
        self.max_list_presentations = max_list_presentations
        self.trim_option = trim_option
        self.ct_option = ct_option
        self.scale = scale
        self.unknown_label = unknown_label
        self.oflag = oflag

    # ----------------------------------------------------------------- fit
    def fit(self, X, y):
        with _core.interruptible("QIR_TRAIN"):
            return self._fit(X, y)

    def _fit(self, X, y):
        X, y = _validate(self, X, y, reset=True)
        check_classification_targets(y)
        classes, codes = np.unique(y, return_inverse=True)
        if self.scale:
            self.feature_min_, self.feature_max_ = feature_range(X)
            X = scale(X, self.feature_min_, self.feature_max_)
        else:
            self.feature_min_ = self.feature_max_ = None
        self._params = {name: float(getattr(self, name)) for name in _TRAINING_ARGUMENTS}
        if not 1 <= self._params["max_list_presentations"] < _core.MOST_PRESENTATIONS + 1:
            raise ValueError(
                f"max_list_presentations must be a whole number from 1 to "
                f"{_core.MOST_PRESENTATIONS}, got {self.max_list_presentations!r}; training "
                f"stops by itself once a presentation changes nothing, so "
                f"{int(_DEFAULTS['max_list_presentations'])} is usually plenty")
        self._params["D"] = float(_core.default_D(X.shape[1]) if self.D is None else self.D)
        templates, node_codes, presentations = _core.train(
            X, codes.astype(np.float64), self._params, float(self.oflag))
        self.classes_ = classes
        self._set_nodes(templates, node_codes.astype(np.intp))
        self.n_list_presentations_ = int(presentations)
        return self

    def _set_nodes(self, templates, node_codes):
        self.nodes_ = templates
        self._node_codes = node_codes
        self.node_labels_ = self.classes_[node_codes]

    # ------------------------------------------------------------- predict
    def predict(self, X):
        with _core.interruptible("QIR_PERF"):
            return self._predict(X)

    def _predict(self, X):
        check_is_fitted(self, "nodes_")
        X = _validate(self, X, reset=False)
        if self.feature_min_ is not None:
            X = scale(X, self.feature_min_, self.feature_max_)
        codes = self._classify(X, self._params)
        unknown = codes < 0
        if self.unknown_label is None:
            if unknown.any():
                codes[unknown] = self._fallback(X[unknown])
            return self.classes_[codes]
        labels = np.empty(len(codes), dtype=self._label_dtype())
        labels[~unknown] = self.classes_[codes[~unknown]]
        labels[unknown] = self.unknown_label
        return labels

    def _classify(self, X, params):
        assigned = _core.classify(self.nodes_, self._node_codes.astype(np.float64), params,
                                  X, _UNCLASSIFIED, float(min(self.oflag, 3)))
        return assigned.astype(np.intp)

    def _label_dtype(self):
        try:
            return np.result_type(self.classes_.dtype, np.asarray(self.unknown_label).dtype)
        except TypeError:
            return object

    def _fallback(self, X):
        """Module labels for patterns no node took: qir_perf again with
        vigilance 0, no CT and a D above 2*radius + excess of every node, so
        every node qualifies and the best fit wins. D depends only on the
        pattern (a power of two above a bound on its distances), so a pattern
        gets the same label whichever batch it comes in."""
        m = self.n_features_in_
        centers, radii = self.nodes_[:, :m], self.nodes_[:, -1]
        middle = centers.mean(axis=0)
        spread = np.sqrt(((centers - middle) ** 2).sum(axis=1)).max()
        with np.errstate(over="ignore", invalid="ignore"):
            # distance <= |x - c| / ratio <= (|x - middle| + spread) / ratio
            reach = (np.sqrt(((X - middle) ** 2).sum(axis=1)) + spread) / self._params["ratio"]
            needed = 2.0 * (reach + 2.0 * radii.max()) + 1.0
            exponents = np.minimum(np.ceil(np.log2(needed)), 1023)
        exponents[~np.isfinite(exponents)] = 1023
        codes = np.empty(len(X), dtype=np.intp)
        wide = dict(self._params, vigilance=0.0, ct_option=0.0)
        for exponent in np.unique(exponents):
            group = exponents == exponent
            wide["D"] = float(2.0 ** exponent)
            codes[group] = self._classify(np.ascontiguousarray(X[group]), wide)
        # Only beyond the range of doubles can a pattern still be left over:
        # it gets the class with the most nodes.
        codes[codes < 0] = np.bincount(self._node_codes).argmax()
        return codes

    # --------------------------------------------------------- model files
    def save(self, path):
        """Write the model in the qir command's model file format."""
        check_is_fitted(self, "nodes_")
        numeric = self.classes_.dtype.kind in "iubf" and all(
            _core.is_class_label(float(label)) for label in self.classes_)
        if numeric:
            file_labels = self.node_labels_.astype(np.float64)
            class_names = []
        else:  # the file holds class numbers and names them
            file_labels = self._node_codes.astype(np.float64)
            class_names = [(int(code), str(name)) for code, name in enumerate(self.classes_)]
        _core.save_model(str(path), {
            "features": self.n_features_in_, "templates": self.nodes_, "labels": file_labels,
            "params": self._params, "list_presentations": self.n_list_presentations_,
            "feature_min": self.feature_min_, "feature_max": self.feature_max_,
            "class_names": class_names})

    @classmethod
    def load(cls, path, **params):
        """A fitted classifier from a model file of the qir command (or of save)."""
        model = _core.read_model(str(path))
        stored = dict(model["params"])
        arguments = {name: stored[name] for name in ("D",) + _TRAINING_ARGUMENTS}
        for name in ("max_list_presentations", "trim_option", "ct_option"):
            arguments[name] = int(arguments[name])
        arguments["scale"] = model["feature_min"] is not None
        arguments.update(params)
        estimator = cls(**arguments)
        estimator._params = stored
        if model["class_names"]:
            estimator.classes_ = np.array(model["class_names"])
        else:
            estimator.classes_ = model["class_labels"].astype(np.int64)
        estimator._node_codes = model["node_classes"].astype(np.intp)
        estimator.n_features_in_ = int(model["features"])
        estimator.n_list_presentations_ = int(model["list_presentations"])
        estimator.feature_min_ = model["feature_min"]
        estimator.feature_max_ = model["feature_max"]
        estimator._set_nodes(model["templates"], estimator._node_codes)
        return estimator


def load_model(path, **params):
    """Same as QIRClassifier.load."""
    return QIRClassifier.load(path, **params)
