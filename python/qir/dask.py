"""Prediction on Dask arrays, block by block.

Each block is classified by QIRClassifier.predict in whichever process runs
the task: on a dask.distributed cluster every worker imports qir and loads
the module files itself (from $QIR_MODULE_DIR, else the build tree the
package came from), so the model travels to the workers as plain arrays.
"""
import dask.array as da
import numpy as np
from sklearn.utils.validation import check_is_fitted


def _predict_block(block, model):
    return model.predict(block)


def predict(model, patterns):
    """Labels of the rows of a 2-D Dask array, as a 1-D Dask array.

    Rows are split as the array's chunks split them; the columns are joined
    into one chunk first. The labels equal ``model.predict`` on the whole
    array computed at once.
    """
    check_is_fitted(model, "nodes_")
    patterns = da.asarray(patterns)
    if patterns.ndim != 2 or patterns.shape[1] != model.n_features_in_:
        raise ValueError(f"patterns must be a 2-D array with {model.n_features_in_} columns, "
                         f"got shape {patterns.shape}")
    patterns = patterns.rechunk({1: -1})
    dtype = model.classes_.dtype if model.unknown_label is None else model._label_dtype()
    return patterns.map_blocks(_predict_block, model, dtype=dtype, drop_axis=1,
                               meta=np.empty((0,), dtype=dtype))
