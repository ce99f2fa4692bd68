"""Min-max feature scaling, the qir command's own: the ranges are the
training data's per-feature minimum and maximum, and every pattern is scaled
by the command's code, x' = (x - min) / (max - min) clipped to [0, 1] (a
feature whose max equals its min maps to 0)."""
from . import _qir


def feature_range(patterns):
    """Per-feature minimum and maximum of the training patterns."""
    return _qir.feature_range(patterns)


def scale(patterns, feature_min, feature_max):
    """A scaled copy of the patterns."""
    return _qir.scale(patterns, feature_min, feature_max)
