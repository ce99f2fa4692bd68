"""QIRClassifier: a scikit-learn estimator whose fit trains an ensemble of
members (one qir_train call each, each in its own shuffled order) and whose
predict is the members' vote (one qir_perf call per member, and one more for
patterns no node takes)."""
import inspect
import numbers

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import _get_feature_names, check_is_fitted, check_X_y

from . import _core
from ._scaling import SCALINGS, feature_range, scale_value, scaling_code

_DEFAULTS = _core.training_defaults()
# qir_train's arguments besides the data and D (whose default depends on M).
_TRAINING_ARGUMENTS = ("ratio", "vigilance", "alpha", "learning_rate",
                       "max_list_presentations", "trim_option", "ct_option")


def _validate(estimator, X, y="no_validation"):
    """scikit-learn's input validation (float64, finite, 2-D) against a
    fitted estimator, whichever version is installed; y=None is refused as
    a missing target."""
    try:
        from sklearn.utils.validation import validate_data
    except ImportError:  # before scikit-learn 1.6
        return estimator._validate_data(X, y, reset=False, dtype=np.float64)
    return validate_data(estimator, X, y, reset=False, dtype=np.float64)


def _first_data(estimator, X, y):
    """fit's input checks, as scikit-learn's validation makes them for a
    first fit, and the names of X's columns (None unless all are text):
    the estimator is not touched, as its fitted attributes are the model's."""
    names = _get_feature_names(X)
    X, y = check_X_y(X, y, dtype=np.float64, estimator=estimator)
    return X, y, names


def _names(classes):
    """Whether labels are names (text, objects) rather than numbers."""
    return np.asarray(classes).dtype.kind not in "iubf"


def _written_as_numbers(classes):
    """Whether a model file holds the classes as they are (whole 32-bit
    numbers) rather than as numbered names."""
    return classes.dtype.kind in "iubf" and all(
        _core.is_class_label(float(label)) for label in classes)


def _file_labels(classes, earlier_classes=None, earlier_labels=None):
    """The model file's label of each class: the class itself when every
    class is a whole 32-bit number, else its number as a name, as the
    library numbers names (from 1 in name order; a continued model's keep
    theirs and new ones follow)."""
    earlier_numbers = earlier_classes is not None and _written_as_numbers(earlier_classes)
    if _written_as_numbers(classes):
        return classes.astype(np.float64)
    if earlier_numbers:
        raise ValueError("the model's classes are whole numbers within 32 bits, and the new "
                         "labels are not: they cannot share its model file")
    known = [] if earlier_classes is None else list(zip(
        earlier_labels.astype(np.int64).tolist(), map(str, earlier_classes)))
    numbers = dict((name, number) for number, name in
                   _core.number_names(list(map(str, classes)), known))
    return np.array([numbers[str(label)] for label in classes], dtype=np.float64)


def _class_names(classes, labels):
    """The (number, name) pairs a model file keeps for classes written as
    names; none for classes written as numbers."""
    if _written_as_numbers(classes):
        return []
    return list(zip(labels.astype(np.int64).tolist(), map(str, classes)))


def _free_label(labels):
    """A model-file label (a whole 32-bit number) that no class of the
    ascending `labels` has, for patterns that no member classifies."""
    if len(labels) == 0:
        return -1.0
    for candidate in (labels[0] - 1, labels[-1] + 1):
        if -2**31 <= candidate < 2**31:
            return float(candidate)
    return float(np.setdiff1d(np.arange(len(labels) + 1), labels)[0])


class QIRClassifier(ClassifierMixin, BaseEstimator):
    """Supervised classifier made of hyper-ellipsoidal category nodes.

    Each node is an ellipsoid in feature space with one class: it starts as
    a point at a training pattern and grows toward further patterns of its
    class, while a pattern that a node of another class would take gets a
    node of its own. Training passes over the data until a pass changes
    nothing. predict gives a pattern the class of the node that fits it
    best. The training arguments are those of the qir_train module, with
    the library's defaults (the qir command's); ``qir.search`` looks for a
    better setting for your data by cross-validation.

    Parameters
    ----------
{parameters}
    Attributes
    ----------
    classes_ : array
        The classes seen, sorted (text labels included); predict returns
        values from it.
    n_features_in_ : int
        The number of features M.
    feature_names_in_ : array of str
        The names of X's columns, when they all are text (a pandas
        DataFrame's, say); kept by save and load.
    members_ : list of (nodes, node labels)
        Each member's template rows and their classes.
    member_features_ : list of arrays or None
        The features (column indices) each member sees; None where a member
        sees them all.
    nodes_ : array, nodes x (2M + 1)
        Member 1's template rows [center, direction, radius].
    node_labels_ : array
        The class of each row of ``nodes_``.
    n_list_presentations_ : int
        Member 1's passes over the data (without the last, unchanged one).
    feature_min_, feature_max_ : arrays or None
        The min-max scaling's ranges (None under any other scaling).
    scaling_ : str
        The model's scaling: 'minmax', 'standard', 'rank' or 'none'.

    Every fitted attribute but ``classes_`` is read from the library's
    model that the estimator holds (``_model_``); arrays are read-only.

    Notes
    -----
    predict_proba gives the vote shares (for a pattern that no member
    classifies, the shares of the members' best-fitting nodes);
    decision_function gives the same shares (for two classes, the share of
    the second class minus that of the first).

    partial_fit learns a further batch on top of the nodes so far, without
    the earlier data: every member goes on from its own nodes, in its own
    order for that batch (drawn from the seed and the number of batches
    seen, so the same batches give the same model). Classes may be named by
    the first call's ``classes`` or appear in any later batch; earlier
    classes are kept. The scaling ranges, the ensemble (n_voters, shuffle,
    random_state) and ``scale`` are fixed by the first call (or by fit);
    the training arguments are read at each call.

    fit warns with ``qir.QIRWarning`` about training data that cannot give
    a useful model: a feature with one value throughout, a single class,
    more features than patterns (partial_fit does not: a batch of a stream
    may well hold one class).
    """

    def __init__(self, D=None, ratio=_DEFAULTS["ratio"],
                 vigilance=_DEFAULTS["vigilance"], alpha=_DEFAULTS["alpha"],
                 learning_rate=_DEFAULTS["learning_rate"],
                 max_list_presentations=None,
                 trim_option=int(_DEFAULTS["trim_option"]),
                 ct_option=int(_DEFAULTS["ct_option"]),
                 scale=_DEFAULTS["scale"], n_voters=int(_DEFAULTS["voters"]),
                 shuffle=bool(_DEFAULTS["shuffle"]),
                 max_features=_DEFAULTS["max_features"],
                 bootstrap=bool(_DEFAULTS["bootstrap"]),
                 oob_weights=bool(_DEFAULTS["oob_weights"]),
                 max_samples=int(_DEFAULTS["max_samples"]),
                 screen=bool(_DEFAULTS["screen"]), random_state=None, n_jobs=None,
                 unknown_label=None, oflag=int(_DEFAULTS["oflag"]), scale_from=None):
        self.D = D
        self.ratio = ratio
        self.vigilance = vigilance
        self.alpha = alpha
        self.learning_rate = learning_rate
        self.max_list_presentations = max_list_presentations
        self.trim_option = trim_option
        self.ct_option = ct_option
        self.scale = scale
        self.n_voters = n_voters
        self.shuffle = shuffle
        self.max_features = max_features
        self.bootstrap = bootstrap
        self.oob_weights = oob_weights
        self.max_samples = max_samples
        self.screen = screen
        self.random_state = random_state
        self.n_jobs = n_jobs
        self.unknown_label = unknown_label
        self.oflag = oflag
        self.scale_from = scale_from

    # ----------------------------------------------------------------- fit
    def fit(self, X, y):
        """Train on patterns X (n_samples x n_features) with classes y,
        from no nodes; warns (QIRWarning) about data that cannot give a
        useful model. Returns self."""
        with _core.interruptible("QIR_TRAIN"):
            learned = self._learn(X, y, None, continuing=False, warn=True)
        self.__dict__.update(learned)
        return self

    def partial_fit(self, X, y, classes=None):
        """Learn a further batch on top of the nodes so far (the first call
        starts from none). classes: every class the stream will bring, when
        known (optional; a class may also appear in a later batch). A batch
        that fails or is interrupted leaves the model as it was."""
        with _core.interruptible("QIR_TRAIN"):
            learned = self._learn(X, y, classes, continuing=hasattr(self, "_model_"))
        # One call, so that no Ctrl-C can fall between two attributes.
        self.__dict__.update(learned)
        return self

    def _learn(self, X, y, classes, continuing, warn=False):
        """The fitted state after learning (X, y), as a dict; self is left
        untouched. One library call trains, scales and keeps the names."""
        # A batch of a stream may well hold one class or a feature that has
        # not varied yet: only fit warns about its data.
        if continuing:
            X, y = _validate(self, X, y)
            feature_names = None
        else:
            X, y, feature_names = _first_data(self, X, y)
        check_classification_targets(y)
        workers = self._workers()
        params = self._given_params()
        if warn:
            _, first_codes = np.unique(y, return_inverse=True)
            _core.warn_about_data(X, first_codes.astype(np.float64), stacklevel=3)  # fit's caller
        found = np.unique(y) if classes is None else np.union1d(np.unique(classes), y)
        if continuing:
            earlier = self.classes_
            _core.check_label_kinds(_names(earlier), _names(found))
            learned = {"classes_": np.union1d(earlier, found)}
            learned["_labels"] = _file_labels(learned["classes_"], earlier, self._labels)
            # The model's ensemble goes on; the draw of rows is this call's.
            start, voting, scaling = self._model_, {"max_samples": self._max_samples()}, None
        else:
            learned = {"classes_": found, "_labels": _file_labels(found)}
            start = None
            scaling = self._scaling(X)
            voting = self._voting()
        class_names = _class_names(learned["classes_"], learned["_labels"])
        learned["_model_"] = _core.fit(
            X, learned["_labels"][np.searchsorted(learned["classes_"], y)], params,
            float(self.oflag), voting, workers, scaling, class_names,
            [] if feature_names is None else list(map(str, feature_names)), start)
        return learned

    def _voting(self):
        """The ensemble's settings as the library takes them."""
        return {"voters": int(self.n_voters), "seed": self._seed(),
                "shuffle": bool(self.shuffle), "max_features": float(self.max_features),
                "bootstrap": bool(self.bootstrap), "oob_weights": bool(self.oob_weights),
                "max_samples": self._max_samples(), "screen": bool(self.screen)}

    def _max_samples(self):
        """max_samples as the library takes it (it refuses what is not a
        whole number >= 0)."""
        if isinstance(self.max_samples, (bool, np.bool_)) or not isinstance(
                self.max_samples, numbers.Real):
            raise ValueError(f"max_samples must be a whole number >= 0, got {self.max_samples!r}")
        return float(self.max_samples)

    def _workers(self):
        """n_jobs as the library takes it: 0 for one per processor core."""
        if self.n_jobs is None:
            return 0
        if isinstance(self.n_jobs, (bool, np.bool_)) or not isinstance(
                self.n_jobs, numbers.Integral) or not -2**31 <= self.n_jobs < 2**31:
            raise ValueError(f"n_jobs must be None or a whole number (members trained at "
                             f"once; 0 or less: one per processor core), got {self.n_jobs!r}")
        return int(self.n_jobs)

    def _scaling(self, X):
        """What fit scales by: None, the min-max ranges, or the code of a
        scaling the library fits on X."""
        code = scaling_code(self.scale)
        if SCALINGS[code] == "auto" and self.scale_from is not None:
            code = SCALINGS.index("minmax")  # ranges given: min-max by them
        if code > 1 and self.scale_from is not None:
            raise ValueError(f"scale_from goes with min-max scaling (scale=True), "
                             f"not scale={self.scale!r}")
        return None if code == 0 else self._ranges(X) if code == 1 else code

    def _ranges(self, X):
        """The scaling ranges: scale_from when given, else X's."""
        if self.scale_from is None:
            return feature_range(X)
        try:
            low, high = self.scale_from
        except (TypeError, ValueError):
            raise ValueError("scale_from must be None or a pair (min, max)") from None
        m = X.shape[1]
        low, high = (np.broadcast_to(np.asarray(v, dtype=np.float64), (m,)).copy()
                     if np.ndim(v) == 0 or np.shape(v) == (m,) else None for v in (low, high))
        if low is None or high is None:
            raise ValueError(f"scale_from needs one value per feature ({m}) or one for all")
        if not (np.isfinite(low).all() and np.isfinite(high).all() and (low <= high).all()):
            raise ValueError("scale_from must be finite, with min <= max for every feature")
        return low, high

    def _given_params(self):
        """The training arguments given (D and max_list_presentations only
        when not None), as the modules take them."""
        params = {name: getattr(self, name) for name in ("D",) + _TRAINING_ARGUMENTS}
        params = {name: float(value) for name, value in params.items() if value is not None}
        if not 1 <= params.get("max_list_presentations", 1) < _core.MOST_PRESENTATIONS + 1:
            raise ValueError(
                f"max_list_presentations must be a whole number from 1 to "
                f"{_core.MOST_PRESENTATIONS}, got {self.max_list_presentations!r}; training "
                f"stops by itself once a presentation changes nothing, so "
                f"{int(_DEFAULTS['max_list_presentations'])} is usually plenty")
        return params

    def _seed(self):
        if self.random_state is None:
            return int(_DEFAULTS["seed"])
        if isinstance(self.random_state, np.random.RandomState):
            return int(self.random_state.randint(0, 2**31 - 1))
        seed = int(self.random_state)
        if seed < 0:
            raise ValueError("random_state must be None, a RandomState or an int >= 0")
        return seed

    # ------------------------------------------- fitted attributes (views)
    def _class_index(self, labels):
        """The index into classes_ of each model-file label."""
        order = np.argsort(self._labels, kind="stable")
        return order[np.searchsorted(self._labels[order], labels)]

    @property
    def n_features_in_(self):
        return self._model_.features

    @property
    def feature_names_in_(self):
        names = self._model_.feature_names
        if not names:
            raise AttributeError("feature_names_in_: fit's columns had no names")
        return np.array(names, dtype=object)

    @property
    def scaling_(self):
        return self._model_.scaling

    @property
    def feature_min_(self):
        return self._model_.feature_min

    @property
    def feature_max_(self):
        return self._model_.feature_max

    @property
    def members_(self):
        labels, counts = self._model_.node_labels()
        return list(zip(self._model_.member_templates,
                        np.split(self.classes_[self._class_index(labels)], np.cumsum(counts)[:-1])))

    @property
    def member_features_(self):
        return self._model_.member_features

    @property
    def nodes_(self):
        return self._model_.first_templates

    @property
    def node_labels_(self):
        return self.classes_[self._class_index(self._model_.first_labels)]

    @property
    def n_list_presentations_(self):
        return int(self._model_.list_presentations[0])

    # ------------------------------------------------------------- predict
    def _prepared(self, X):
        check_is_fitted(self, "_model_")
        return _validate(self, X)

    def _vote(self, X, best_fit, labels_only=False):
        """The library's predict: voted classes (indices into ``classes_``),
        vote shares (one column per class of ``classes_``; none with
        labels_only) and which patterns no member classified; with best_fit,
        those get the vote of the members' best-fitting nodes."""
        order = np.argsort(self._labels, kind="stable")
        among = self._labels[order]
        labels, shares, votes = _core.predict(
            self._model_, X, among, _free_label(among), best_fit, float(min(self.oflag, 3)),
            labels_only)
        # A pattern left unknown gets a code all the same; callers look at `unknown`.
        codes = order[np.minimum(np.searchsorted(among, labels), len(among) - 1)] \
            if len(among) else np.zeros(len(labels), dtype=np.intp)
        if shares.shape[1] != len(order):  # the labels alone
            return codes.astype(np.intp), None, votes == 0
        in_classes_order = np.empty_like(shares)
        in_classes_order[:, order] = shares
        return codes.astype(np.intp), in_classes_order, votes == 0

    def predict(self, X):
        """The members' vote for each pattern of X, a class of ``classes_``
        (or ``unknown_label``, when given, for patterns no node takes)."""
        with _core.interruptible("QIR_PERF"):
            codes, _, unknown = self._vote(self._prepared(X), self.unknown_label is None,
                                           labels_only=True)
        if self.unknown_label is None:
            return self.classes_[codes]
        labels = np.empty(len(codes), dtype=self._label_dtype())
        labels[~unknown] = self.classes_[codes[~unknown]]
        labels[unknown] = self.unknown_label
        return labels

    def predict_proba(self, X):
        """Vote shares, one column per class of ``classes_``; rows sum to 1."""
        with _core.interruptible("QIR_PERF"):
            return self._vote(self._prepared(X), True)[1]

    def decision_function(self, X):
        """The vote shares; for two classes, the second's share minus the first's."""
        shares = self.predict_proba(X)
        if len(self.classes_) == 2:
            return shares[:, 1] - shares[:, 0]
        return shares

    def _label_dtype(self):
        try:
            return np.result_type(self.classes_.dtype, np.asarray(self.unknown_label).dtype)
        except TypeError:
            return object

    # --------------------------------------------------------- model files
    def save(self, path):
        """Write the model in the qir command's model file format, with the
        class names of text labels and the names of fit's columns."""
        check_is_fitted(self, "_model_")
        self._model_.save(str(path))

    @classmethod
    def load(cls, path, **params):
        """A fitted classifier from a model file of the qir command (or of save)."""
        model = _core.read_model(str(path))
        stored = model.params
        arguments = {name: stored[name] for name in ("D",) + _TRAINING_ARGUMENTS}
        for name in ("max_list_presentations", "trim_option", "ct_option"):
            arguments[name] = int(arguments[name])
        arguments["scale"] = scale_value(SCALINGS.index(model.scaling))
        voting = model.voting
        arguments.update(n_voters=int(voting["voters"]), shuffle=bool(voting["shuffle"]),
                         max_features=float(voting["max_features"]),
                         bootstrap=bool(voting["bootstrap"]),
                         oob_weights=bool(voting["oob_weights"]),
                         max_samples=int(voting["max_samples"]),
                         random_state=None if voting["seed"] == _DEFAULTS["seed"]
                         else int(voting["seed"]))
        arguments.update(params)
        estimator = cls(**arguments)
        labels, names = model.classes()
        if names:  # names in name order (classes_ is sorted), each keeping its number
            order = np.argsort(np.array(names), kind="stable")
            classes = np.array(names)[order]
            labels = labels[order]
        else:
            classes = labels.astype(np.int64)
        estimator.__dict__.update(_model_=model, classes_=classes, _labels=labels)
        return estimator



# The parameters, with the library's defaults filled in, so that help()
# shows the values the package really uses.
_PARAMETERS = """\
    D : None or float >= 0, default None
        Size bound of a node: its major axis (2 x radius) can grow to D at
        most, and a node matches a pattern by the share of D it would keep
        free after growing to take the pattern in. A larger D makes fewer,
        larger nodes; a smaller D more, smaller ones (more detail, and more
        patterns that no node takes). None takes the library's default:
        sqrt(M), M the features that vary in the training data, the
        diagonal of the scaled data ({D4} for 4 such features). Advice:
        keep None with ``scale=True``, and let ``qir.search`` try larger and
        smaller values.
    ratio : float in (0, 1], default {ratio}
        Ratio of every minor half-axis of a node to its major one: 1 makes
        the nodes balls, smaller values make them ellipsoids stretched
        along the direction in which they first grew. Advice: values near 1
        suit round clusters, lower ones classes that stretch along lines.
    vigilance : float in [0, 1], default {vigilance}
        The least match (the share of D a node would keep free after
        growing to the pattern) that a node needs to take a pattern, in fit
        and in predict. 0 lets a node take any pattern it can reach within
        D; higher values make more, tighter nodes and leave more patterns
        far from every node unclassified (see ``unknown_label``). Advice:
        keep {vigilance} unless you want far-away patterns reported rather
        than classified.
    alpha : float >= 0, default {alpha}
        Choice parameter: among the nodes that pass the vigilance test, the
        winner has the highest choice value fit / (free size + alpha). With
        a small alpha a node wins by how little it must grow for its free
        size; a large alpha ranks nodes by the free size they would keep.
        Advice: the default suits ensembles; a single model
        (``n_voters=1``) does better with 0.1. ``qir.search`` tries others.
    learning_rate : float in (0, 1], default {learning_rate}
        Share of the needed growth that one update applies: 1 grows a node
        at once just enough to take the pattern in, smaller values part of
        the way, so training needs more passes. Advice: keep {learning_rate}.
    max_list_presentations : int >= 1 or None, default None
        Most passes over the training data; training stops earlier, once a
        pass changes nothing. None: {training_work} / patterns / n_voters,
        rounded up, {fewest_presentations} to {most_presentations}; large data
        take few passes, as accurate in an ensemble as many (a stream
        keeps its first batch's limit). Advice: if
        ``n_list_presentations_`` reaches a limit you gave, training
        stopped unfinished: raise it when cross-validation says it pays.
    trim_option : 0 or 1, default {trim_option}
        1 drops, after a converged training, the nodes that no pattern
        chose as they stood in the last pass: a smaller, faster model. Advice: try 1 when
        the model is large, and check the accuracy by cross-validation.
    ct_option : 0 or 1, default {ct_option}
        1 adds the choice-value test, in fit and predict: a node competes
        only if its choice value reaches D / (alpha + 2 D), which keeps
        nodes from taking patterns far beyond their size (and leaves more
        patterns unclassified). Advice: keep {ct_option} unless
        ``qir.search`` finds 1 better.
    scale : bool or str, default {scale}
        How each feature is scaled by the training data: True or
        'minmax' to [0, 1] by its range (kept in ``feature_min_``/
        ``feature_max_`` and applied in predict, values beyond it
        clipped); 'standard' to mean 0.5 and standard deviation
        1/sqrt(12), as values spread evenly over [0, 1] have (not
        clipped); 'rank' by the share of training values below (ties
        share their mean rank; linear between kept values, clipped at the
        ends), which no outlier can squash; False or 'none' not at all;
        'auto' rank when some feature's range on the training data (fit's,
        or the first partial_fit batch's) exceeds 10 times its
        interquartile range, else minmax (minmax by ``scale_from`` when
        that is given). The model file keeps the scaling used
        (``scaling_``). Advice: keep it unless the features share one unit
        and range already, since D is then in their units.
    n_voters : int, default {voters}
        Members of the ensemble. Each is one qir_train call on the same
        (scaled) data in its own shuffled order; predict is their majority
        vote (a tie goes to the tied class first in the model file's order:
        the first in ``classes_``, but a class name that a stream brought
        later after the earlier ones, as in the command; a member that
        leaves a pattern unclassified casts no vote).
        Advice: more voters give steadier predictions at a cost in time and
        model size in proportion; ``n_voters=1, shuffle=False`` is one model
        in the data's order.
    shuffle : bool, default {shuffle}
        Each member sees the patterns in its own shuffled order. Advice:
        keep it; more than one voter needs it.
    max_features : float in (0, 1], default {max_features}
        Share of the features each member sees: below 1, each member draws
        its own ceil(max_features x n_features) of them (random subspaces),
        kept in the model (``member_features_``) and used in predict.
        Advice: try 0.5 on data with many features that carry little.
    bootstrap : bool, default {bootstrap}
        Each member trains on n_samples patterns drawn with replacement
        from the (scaled) data instead of each pattern once. Advice: see
        docs/accuracy.md for what it buys on the bundled sets.
    oob_weights : bool, default {oob_weights}
        With ``bootstrap``: each member's vote, in predict and in
        predict_proba's shares, counts its accuracy on the patterns its
        draw left out ((right + 1) / (left out + 2)) instead of once.
        Advice: see docs/accuracy.md.
    max_samples : int, default {max_samples}
        On data of more patterns than this, each member trains on its own
        draw of max_samples of them without replacement (with
        ``bootstrap``: max_samples draws with replacement), in its shuffled
        order; smaller data are used whole, and 0 means every pattern.
        The draw is the training's: the model file does not keep it, and
        partial_fit draws from each batch by the value set now. Advice:
        keep it; training time then stops growing with the data's size
        (docs/performance.md).
    screen : bool, default {screen}
        Each member sees only the features whose values differ between the
        classes in the training data (a chi-square test per feature), where
        those are fewer than half of the features and at least 2; else every
        feature. The kept features are the members' own
        (``member_features_``). Advice: keep it; see docs/accuracy.md.
    random_state : None, int or numpy RandomState, default None
        Seed of the members' orders; None is the library's seed
        ({seed}), so that a fit is repeatable. Advice: give one only to
        draw another ensemble.
    n_jobs : None or int, default None
        Members trained at once (None: one per processor core); the members
        are the same for any value. Advice: lower it to leave cores to
        other work.
    unknown_label : None or label, default None
        A pattern that no node classifies is labelled by a second qir_perf
        call at vigilance 0 with a size bound D wide enough for every node
        to qualify: the best-fitting node's class, so predict stays within
        ``classes_``. Give a label here (for instance -1) to get it instead.
        Advice: give one with a vigilance above 0, to see which patterns lie
        away from the training data.
    oflag : int, default {oflag}
        Module verbosity (0 silent, 1 summary, higher more detail); the text
        goes to the ``qir`` logger at level INFO. Advice: 0 in loops such as
        grid searches.
    scale_from : None or (min, max), default None
        Fixed scaling ranges for fit and the first partial_fit: min and max
        each one value per feature (or one value for every feature), min <=
        max, all finite. None: the range of the data of fit or of the first
        partial_fit batch. Either way, patterns beyond the ranges are
        clipped to [0, 1], in training as in predict. Ignored without
        ``scale``; with 'auto' it means minmax. Advice: give the ranges a stream will span when its
        first batch does not span them.

"""
_SHOWN = {name: parameter.default for name, parameter
          in inspect.signature(QIRClassifier).parameters.items()}
QIRClassifier.__doc__ = QIRClassifier.__doc__.replace("{parameters}\n", _PARAMETERS.format(
    D4=_core.default_D(4), voters=_SHOWN["n_voters"], seed=int(_DEFAULTS["seed"]),
    training_work=int(_DEFAULTS["training_work"]),
    most_presentations=int(_DEFAULTS["max_list_presentations"]),
    fewest_presentations=int(_DEFAULTS["fewest_presentations"]), **_SHOWN))

def load_model(path, **params):
    """Same as QIRClassifier.load."""
    return QIRClassifier.load(path, **params)
