"""Min-max feature scaling, the same formula as the qir command's:
x' = (x - min) / (max - min), clipped to [0, 1]; a feature whose max equals
its min maps to 0.

NumPy stand-in until the command's scaling code is bound by the extension;
test_scaling checks it against the documented formula.
"""
import numpy as np


def feature_range(patterns):
    """Per-feature minimum and maximum of the training patterns."""
    return patterns.min(axis=0), patterns.max(axis=0)


def scale(patterns, feature_min, feature_max):
    width = feature_max - feature_min
    flat = width == 0
    with np.errstate(divide="ignore", invalid="ignore"):
        scaled = (patterns - feature_min) / np.where(flat, 1.0, width)
    scaled[:, flat] = 0.0
    return np.clip(scaled, 0.0, 1.0)
