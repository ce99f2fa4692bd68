"""Prediction on Dask arrays, block by block.

Each block is classified by QIRClassifier.predict in whichever process runs
the task: on a dask.distributed cluster every worker imports qir and loads
the module files itself (from $QIR_MODULE_DIR, else the folder the package
found them in), so the model travels to the workers as plain arrays.

Ctrl-C during a compute with the threaded scheduler stops the block being
classified, and the compute ends with KeyboardInterrupt("QIR_PERF:
Interrupted."). Blocks that the scheduler had already handed to its threads
but that had not started classifying are dropped as they start, so nothing
keeps working in the background.
"""
import contextlib
import logging
import pickle
import threading
import warnings

import dask
import dask.array as da
import numpy as np
from dask.callbacks import Callback
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import (check_array, check_consistent_length, check_is_fitted,
                                      column_or_1d)

from . import _core, _qir
from ._scaling import SCALINGS, scaling_code
from .classifier import QIRClassifier, _class_names, _file_labels


class _Blocks:
    """What the blocks of one predict graph share in this process. Pickled
    (for worker processes) it starts afresh."""

    def __init__(self):
        self.abandoned = False

    def __reduce__(self):
        return (_Blocks, ())


class _LocalComputes(Callback):
    """Watches the computes of Dask's local schedulers: when one ends with
    an error (Ctrl-C included), the graphs whose blocks it was running are
    abandoned until the next compute starts."""

    def __init__(self):
        super().__init__()
        self._lock = threading.Lock()
        self._running = []
        self._abandoned = []

    def block_starts(self, blocks):
        with self._lock:
            self._running.append(blocks)

    def _start(self, dsk):
        with self._lock:
            for blocks in self._abandoned:
                blocks.abandoned = False
            self._running, self._abandoned = [], []

    def _finish(self, dsk, state, errored):
        with self._lock:
            if errored:
                for blocks in self._running:
                    blocks.abandoned = True
                self._abandoned = self._running
            self._running = []


_computes = None
_computes_lock = threading.Lock()


def _watch_computes():
    global _computes
    with _computes_lock:
        if _computes is None:
            _computes = _LocalComputes()
            _computes.register()


def _predict_block(block, model, blocks):
    # A block that starts after its compute has failed belongs to a result
    # that nobody will collect.
    if blocks.abandoned:
        raise KeyboardInterrupt("QIR_PERF: Interrupted.")
    if _computes is not None:
        _computes.block_starts(blocks)
    with _worker_warnings():
        return model.predict(block)


# The modules' warnings on a worker process (each module gives one once
# per value while it stays loaded, so each worker gives it once) reach the
# client's ``qir`` logger as an event, once per text and client process,
# as one process of one's own would have given it.
_WARNINGS_TOPIC = "qir-warnings"
_forwarded = set()
_forwarded_lock = threading.Lock()


class _Caught(logging.Handler):
    def __init__(self):
        super().__init__(logging.WARNING)
        self.texts = []

    def emit(self, record):
        self.texts.append(record.getMessage())


@contextlib.contextmanager
def _worker_warnings():
    """Sends the qir logger's warnings of the block to the client when the
    block runs on a distributed worker."""
    try:
        from distributed import get_worker
        worker = get_worker()
    except (ImportError, ValueError):
        yield
        return
    caught = _Caught()
    _core.logger.addHandler(caught)
    try:
        yield
    finally:
        _core.logger.removeHandler(caught)
        if caught.texts:
            worker.log_event(_WARNINGS_TOPIC, caught.texts)


def _warn_once(texts):
    for text in texts:
        with _forwarded_lock:
            if text in _forwarded:
                continue
            _forwarded.add(text)
        _core.logger.warning("%s", text)


def _forward_warnings(client):
    if client is None or getattr(client, "_qir_forwarding", False):
        return
    client.subscribe_topic(_WARNINGS_TOPIC, lambda event: _warn_once(event[1]))
    client._qir_forwarding = True


def _current_client():
    try:
        from distributed import get_client
        return get_client()
    except (ImportError, ValueError):
        return None


def predict(model, patterns):
    """Labels of the rows of a 2-D Dask array, as a 1-D Dask array.

    Rows are split as the array's chunks split them; the columns are joined
    into one chunk first. The labels equal ``model.predict`` on the whole
    array computed at once.
    """
    check_is_fitted(model, "_model_")
    patterns = da.asarray(patterns)
    if patterns.ndim != 2 or patterns.shape[1] != model.n_features_in_:
        raise ValueError(f"patterns must be a 2-D array with {model.n_features_in_} columns, "
                         f"got shape {patterns.shape}")
    _watch_computes()
    _forward_warnings(_current_client())
    patterns = patterns.rechunk({1: -1})
    dtype = model.classes_.dtype if model.unknown_label is None else model._label_dtype()
    return patterns.map_blocks(_predict_block, model, _Blocks(), dtype=dtype, drop_axis=1,
                               meta=np.empty((0,), dtype=dtype))


# ------------------------------------------------------------------ training
#
# The members of an ensemble are independent: each is one task, trained by
# the library's own "member k of this ensemble" (its order drawn from the
# seed there, as in a local fit), and the members are put together by the
# library into the model a local fit makes. What travels is the data, once,
# and each member's nodes.

def _client(client):
    if client is not None:
        return client
    from distributed import get_client
    return get_client()


def _as_arrays(X, y):
    """(patterns, labels, feature names) from Dask arrays or data frames,
    NumPy arrays or pandas objects."""
    import dask.dataframe as dd
    names = None
    if isinstance(X, dd.DataFrame):
        columns = list(X.columns)
        names = columns if all(isinstance(c, str) for c in columns) else None
        X = X.to_dask_array(lengths=True)
    elif hasattr(X, "columns"):  # pandas
        columns = list(X.columns)
        names = columns if all(isinstance(c, str) for c in columns) else None
        X = X.to_numpy()
    if isinstance(y, (dd.Series, dd.DataFrame)):
        y = y.to_dask_array(lengths=True)
    return X, y, names


# The data this worker process last checked for a fit's members: (the
# data as the tasks get them, the scaling asked for, the scaling ranges, the
# checked patterns). The members of one fit on one worker share it; the fit
# clears it when it ends. Each member scales the patterns as it copies them
# for the modules, so no scaled copy of the whole data is kept beside them.
_prepared = None
_prepared_lock = threading.Lock()


def _scales(estimator):
    """Whether members trained apart scale by min-max ranges (they share
    ranges reduced over the chunks; standard and rank scalings need the data
    whole, so they are refused here). 'auto' is min-max here: its other
    outcome, rank, could not be trained apart."""
    code = scaling_code(estimator.scale)
    if SCALINGS[code] == "auto":
        return True
    if code > 1:
        raise ValueError(f"scale={estimator.scale!r} needs the training data whole; training "
                         f"on a cluster scales by min-max (True) or not at all (False)")
    return code == 1


def _checked(X, estimator):
    """X checked as fit checks it, with its scaling ranges, once per worker
    and data."""
    global _prepared
    asked = pickle.dumps((_scales(estimator), estimator.scale_from))
    with _prepared_lock:
        if _prepared is not None and _prepared[0] is X and _prepared[1] == asked:
            return _prepared[2], _prepared[3]
        patterns = check_array(X, dtype=np.float64)
        scaling = estimator._ranges(patterns) if _scales(estimator) else None
        _prepared = (X, asked, scaling, patterns)
        return scaling, patterns


def _forget_prepared():
    global _prepared
    with _prepared_lock:
        _prepared = None


def _features(X, y, estimator, voting):
    """The features every member of a fit chooses among (the feature
    screen's, which reads the whole data): found once, by one task, for all
    the members."""
    scaling, patterns = _checked(X, estimator)
    with _core.interruptible("QIR_TRAIN"):
        return _qir.ensemble_features([patterns], y, voting, scaling)


def _member(X, y, estimator, given, voting, member, features=None):
    """One member trained on the whole data, as fit trains it, among the
    ensemble's `features` (from _features)."""
    scaling, patterns = _checked(X, estimator)
    with _core.interruptible("QIR_TRAIN"):
        trained, params, warned = _qir.train_member([patterns], y, given, voting, member,
                                                    scaling, features=features)
    return trained, params, scaling, patterns.shape[1], [warned]


def _log_warnings(texts):
    _core._log(("", texts))


def _data_warnings(X, codes):
    return _qir.data_warnings(check_array(X, dtype=np.float64), codes)


def _gather(client, futures, progress, what, held=()):
    """The futures' results in order, reporting each as it finishes; Ctrl-C
    (or an error) cancels the tasks still on the cluster, and lets go of
    the data sent for them (`held`): a caller's traceback would keep them."""
    from distributed import as_completed
    try:
        for done, _ in enumerate(as_completed(futures), start=1):
            _core.logger.info("%s %d/%d done", what, done, len(futures))
            if progress is not None:
                progress(done, len(futures))
        return client.gather(futures)
    except BaseException:
        client.cancel(list(futures) + list(held))
        raise


def _labelled(estimator, y):
    """classes_, the model file's label of each pattern, its labels per
    class and their names, as fit makes them."""
    y = column_or_1d(np.asarray(y), warn=False)
    check_classification_targets(y)
    classes = np.unique(y)
    labels = _file_labels(classes)
    return classes, labels[np.searchsorted(classes, y)], labels, _class_names(classes, labels)


def fit(X, y, client=None, progress=None, partitions=False, **params):
    """A QIRClassifier(**params) trained on a Dask cluster: the members as
    tasks on the cluster's workers, the data sent once.

    X: a Dask array or data frame (or a NumPy array or pandas frame, sent
    to the workers from here); y: its labels (a Dask or NumPy array or
    series). ``client``: the cluster's client (None: the current one).
    ``progress(done, total)`` is called as members finish (and the ``qir``
    logger says so at INFO).

    ``partitions=False`` trains every member on all the data, each in its
    own seeded order: the model is the one ``QIRClassifier(**params).fit(X,
    y)`` gives, byte for byte as a model file. Every worker holds the whole
    data once.

    ``partitions=True`` trains member k on the rows of X's chunks k, k + V,
    k + 2V, ... (V = n_voters; with fewer chunks than members, on chunk k
    modulo their number), in its seeded order, so no worker holds more than
    a member's chunks. The scaling ranges, D and the presentation limit are
    those of all the data; the model is an ordinary model file.

    ``partitions="continue"`` trains every member through the chunks in
    order, as ``partial_fit`` does batch by batch: a member's nodes travel
    from chunk to chunk, not the data. The model is the one that
    ``partial_fit`` on the chunks in order gives, byte for byte.

    The modules run silently on the workers (oflag is not used there).
    A worker lost mid-fit has its members trained again elsewhere, with the
    same result. Ctrl-C (KeyboardInterrupt) cancels the tasks on the
    cluster. Returns the fitted QIRClassifier.
    """
    client = _client(client)
    estimator = QIRClassifier(**params)
    X, y, names = _as_arrays(X, y)
    if partitions not in (False, True, "continue"):
        raise ValueError(f"partitions must be False, True or 'continue', got {partitions!r}")
    voting = estimator._voting()
    given = estimator._given_params()
    if partitions and not isinstance(X, da.Array):
        raise ValueError("partition training needs X as a Dask array or data frame")
    y = np.asarray(y.compute() if isinstance(y, da.Array) else y)
    if partitions == "continue":
        return _fit_continuing(client, estimator, X, y, names, voting, given, progress)
    classes, y_labels, labels, class_names = _labelled(estimator, y)
    if partitions:
        model = _fit_partitions(client, estimator, X, y_labels, voting, given, progress,
                                class_names, names)
    else:
        model = _fit_whole(client, estimator, X, y, y_labels, voting, given, progress,
                           class_names, names)
    estimator.__dict__.update(_model_=model, classes_=classes, _labels=labels)
    return estimator


def _fit_whole(client, estimator, X, y, y_labels, voting, given, progress, class_names, names):
    if isinstance(X, da.Array):
        if X.shape[0] != len(y):
            raise ValueError(f"X has {X.shape[0]} rows and y {len(y)} labels")
        data = client.compute(X.rechunk((-1, -1)))
        client.replicate([data])
    else:
        X = check_array(X, dtype=np.float64)
        check_consistent_length(X, y)
        data = client.scatter(X, broadcast=True)
    labels = client.scatter(y_labels, broadcast=True)
    _, codes = np.unique(y, return_inverse=True)
    for kind, text in client.submit(_data_warnings, data, codes.astype(np.float64)).result():
        warnings.warn(_core.QIRWarning(text, kind), stacklevel=4)
    voters = voting["voters"]
    try:
        kept = client.submit(_features, data, labels, estimator, voting, pure=False)
        futures = client.map(_member, [data] * voters, [labels] * voters, [estimator] * voters,
                             [given] * voters, [voting] * voters, range(voters),
                             [kept] * voters, pure=False)
        trained, resolved, scalings, features, warned = zip(*_gather(
            client, futures, progress, "member", held=(data, labels, kept)))
    finally:
        client.run(_forget_prepared)
    for texts in warned:  # in member order, as fit gives them
        _log_warnings(texts[0])
    return _qir.assemble_model(list(trained), features[0], resolved[0], voting, 1,
                               scalings[0], class_names, names or [])


def _blocks(client, X):
    """Futures of X's row chunks (all columns in one), in order, and their rows."""
    X = X.rechunk({1: -1})
    return client.compute(list(X.to_delayed().ravel())), X.chunks[0]


def _chunk_range(X):
    X = check_array(X, dtype=np.float64)
    return _qir.feature_range(X)


def _partition_member(blocks, labels, params, voting, member, scaling):
    """Member `member` trained on its chunks alone, with the whole data's
    scaling and parameters. The chunks go to the modules' copy as they
    are, scaled on the way: nothing else of their size is made here."""
    blocks = [check_array(block, dtype=np.float64) for block in blocks]
    with _core.interruptible("QIR_TRAIN"):
        trained, _, warned = _qir.train_member(blocks, np.concatenate(labels), params, voting,
                                               member, scaling)
    return trained, warned


def _fit_partitions(client, estimator, X, y_labels, voting, given, progress, class_names,
                    names):
    # X's chunks are computed where they are needed and let go once used:
    # once for their ranges, once more for the members that train on them,
    # so the data need never be held whole on the cluster.
    X = X.rechunk({1: -1})
    rows = X.chunks[0]
    if sum(rows) != len(y_labels):
        raise ValueError(f"X has {sum(rows)} rows and y {len(y_labels)} labels")
    chunks = list(X.to_delayed().ravel())
    features = X.shape[1]
    scaling = None
    scales = _scales(estimator)
    if scales and estimator.scale_from is not None:
        scaling = estimator._ranges(np.empty((0, features)))
    params = dict(given)
    if (scales and scaling is None) or "D" not in params:
        ranges = client.gather(client.compute([dask.delayed(_chunk_range)(chunk)
                                               for chunk in chunks]))
        whole = (np.min([low for low, _ in ranges], axis=0),
                 np.max([high for _, high in ranges], axis=0))
        if scales and scaling is None:
            scaling = whole
    voters, count = voting["voters"], len(chunks)
    groups = [range(k, count, voters) if count >= voters else [k % count]
              for k in range(voters)]
    if "D" not in params:  # the whole data's: the features that vary in any chunk
        ends = np.vstack(whole)
        scaled = _qir.scale(ends, *scaling) if scaling is not None else ends
        params["D"] = float(_core.default_D(_core.varying_features(scaled)))
    if "max_list_presentations" not in params:  # as for the largest member's rows
        most = max(sum(rows[i] for i in group) for group in groups)
        params["max_list_presentations"] = float(
            _core.default_max_presentations(_qir.member_rows(most, voting), voters))
    starts = np.concatenate([[0], np.cumsum(rows)])
    labels = client.scatter([y_labels[starts[i]:starts[i + 1]] for i in range(count)])
    train = dask.delayed(_partition_member, pure=False)
    futures = client.compute([train([chunks[i] for i in group], [labels[i] for i in group],
                                    params, voting, member, scaling)
                              for member, group in enumerate(groups)])
    trained, warned = zip(*_gather(client, futures, progress, "member", held=labels))
    for texts in warned:
        _log_warnings(texts)
    return _qir.assemble_model(list(trained), features, params, voting, 1, scaling,
                               class_names, names or [])


def _continued_member(block, labels, before, voting, member, batch):
    """Member `member` going on from its nodes `before` on the next chunk."""
    previous, params, scaling, features, warned = before
    X = check_array(block, dtype=np.float64)
    with _core.interruptible("QIR_TRAIN"):
        trained, _, texts = _qir.train_member([X], labels, params, voting, member, scaling,
                                              previous, batch)
    return trained, params, scaling, features, warned + [texts]


def _fit_continuing(client, estimator, X, y, names, voting, given, progress):
    blocks, rows = _blocks(client, X)
    if sum(rows) != len(y):
        raise ValueError(f"X has {sum(rows)} rows and y {len(y)} labels")
    starts = np.concatenate([[0], np.cumsum(rows)])
    batches = [column_or_1d(y[starts[i]:starts[i + 1]], warn=False) for i in range(len(rows))]
    # The classes as partial_fit numbers them, batch after batch.
    classes = labels = None
    for batch in batches:
        check_classification_targets(batch)
        found = np.unique(batch) if classes is None else np.union1d(classes, batch)
        labels = _file_labels(found, classes, labels)
        classes = found
    voters = voting["voters"]
    sent = [client.scatter(labels[np.searchsorted(classes, batch)]) for batch in batches]
    kept = client.submit(_features, blocks[0], sent[0], estimator, voting, pure=False)
    steps = client.map(_member, [blocks[0]] * voters, [sent[0]] * voters, [estimator] * voters,
                       [given] * voters, [voting] * voters, range(voters),
                       [kept] * voters, pure=False)
    for batch in range(1, len(blocks)):
        steps = client.map(_continued_member, [blocks[batch]] * voters,
                           [sent[batch]] * voters, steps, [voting] * voters, range(voters),
                           [batch] * voters, pure=False)
    try:
        trained, params, scalings, features, warned = zip(*_gather(
            client, steps, progress, "member", held=blocks + sent + [kept]))
    finally:
        client.run(_forget_prepared)
    for batch in range(len(blocks)):  # batch by batch, as partial_fit gives them
        for texts in warned:
            _log_warnings(texts[batch])
    model = _qir.assemble_model(list(trained), features[0], params[0], voting, len(blocks),
                                scalings[0], _class_names(classes, labels), names or [])
    estimator.__dict__.update(_model_=model, classes_=classes, _labels=labels)
    return estimator


# ------------------------------------------------ cross-validation and search

def _folds(data, params, voting, settings, only):
    X, codes = data
    return _qir.cross_validate_folds(X, codes, params, settings["folds"], settings["seed"],
                                     settings["scale"], voting,
                                     settings.get("defaults_per_fold", {}), only)


def cross_validate(X, y, folds=5, random_state=None, client=None, progress=None, **params):
    """``qir.cv`` with its folds as tasks on the cluster: the same folds, the
    same models and the same result (the times aside). X and y are sent to
    every worker once; ``progress(done, total)`` is called as folds finish."""
    from .search import _cv_inputs, _cv_result
    client = _client(client)
    estimator = QIRClassifier(random_state=random_state, **params)
    X, codes, seed, voting = _cv_inputs(estimator, X, y, folds)
    data = client.scatter((X, codes), broadcast=True)
    settings = {"folds": folds, "seed": seed, "scale": scaling_code(estimator.scale)}
    futures = client.map(_folds, [data] * folds, [estimator._given_params()] * folds,
                         [voting] * folds, [settings] * folds, [[k] for k in range(folds)],
                         pure=False)
    outcomes = _gather(client, futures, progress, "fold", held=[data])
    return _cv_result(_qir.combine_folds(codes, [fold for (fold,) in outcomes]))


def search(X, y, folds=5, random_state=None, scale=None, client=None, progress=None):
    """``qir.search`` with its settings as tasks on the cluster: each
    setting's cross-validation is one task, the library's search decides
    which settings to try and which wins, so the choice and the tables are
    the local ones (the times aside). ``progress(done, total)`` is called as
    settings finish, stage by stage."""
    from .search import _search_inputs, _search_result, _search_scaling
    client = _client(client)
    X, codes, seed = _search_inputs(X, y, folds, random_state)
    data = client.scatter((X, codes), broadcast=True)

    def evaluate(candidates, settings):
        count = len(candidates)
        futures = client.map(_folds, [data] * count, [params for params, _ in candidates],
                             [voting for _, voting in candidates], [settings] * count,
                             [None] * count, pure=False)
        return _gather(client, futures, progress, "setting")

    try:
        code, choose = _search_scaling(scale)
        found = _qir.search(X, codes, int(folds), seed, code, evaluate, choose)
    except BaseException:
        client.cancel([data])
        raise
    return _search_result(found, random_state)
