"""QIR for Python: the qir_train and qir_perf modules as a scikit-learn classifier.

The package runs the real module files through the embedded host, as the
``qir`` command does. Module console text goes to the ``qir`` logger (INFO for
the modules' own text, WARNING for their warnings); training data that cannot
give a useful model (constant features, a single class, more features than
patterns) draw a ``qir.QIRWarning``.
"""
from ._core import QIRWarning, module_directory, training_defaults
from ._qir import __version__
from .classifier import QIRClassifier, load_model
from .pictures import plot_confusion, plot_nodes, plot_progress, plot_votes
from .search import cv, search

__all__ = ["QIRClassifier", "QIRWarning", "load_model", "module_directory", "cv",
           "plot_confusion", "plot_nodes", "plot_progress", "plot_votes", "search",
           "training_defaults"]
