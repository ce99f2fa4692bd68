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
import threading

import dask.array as da
import numpy as np
from dask.callbacks import Callback
from sklearn.utils.validation import check_is_fitted


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
    return model.predict(block)


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
    patterns = patterns.rechunk({1: -1})
    dtype = model.classes_.dtype if model.unknown_label is None else model._label_dtype()
    return patterns.map_blocks(_predict_block, model, _Blocks(), dtype=dtype, drop_axis=1,
                               meta=np.empty((0,), dtype=dtype))
