"""Feature scaling, the qir command's own. Min-max: the ranges are the
training data's per-feature minimum and maximum, and every pattern is scaled
by the command's code, x' = (x - min) / (max - min) clipped to [0, 1] (a
feature whose max equals its min maps to 0). The other scalings (standard,
rank) are fitted by the library from the whole training data."""
import numbers

from . import _qir


def feature_range(patterns):
    """Per-feature minimum and maximum of the training patterns."""
    return _qir.feature_range(patterns)


def scale(patterns, feature_min, feature_max):
    """A scaled copy of the patterns."""
    return _qir.scale(patterns, feature_min, feature_max)


def _choices():
    for row in _qir.parameter_table():
        if row["name"] == "scale":
            return row["choices"].split("|")
    raise LookupError("the parameter table has no scale row")


SCALINGS = tuple(_choices())  # in the order of their codes: none, minmax, ...


def scaling_code(scale):
    """The library's code of a ``scale`` value: True or 1 is minmax, False or
    0 none, or one of the words in SCALINGS."""
    if isinstance(scale, str):
        if scale in SCALINGS:
            return SCALINGS.index(scale)
    elif isinstance(scale, numbers.Integral) and int(scale) in (0, 1):
        return int(scale)
    raise ValueError(f"scale must be True, False or one of {', '.join(map(repr, SCALINGS))} "
                     f"(True: 'minmax', False: 'none'), got {scale!r}")


def scale_value(code):
    """The ``scale`` value for a code, today's True and False where they say it."""
    word = SCALINGS[code]
    return {"minmax": True, "none": False}.get(word, word)
