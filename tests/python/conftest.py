"""Shared fixtures: the bundled data and the built tools, as CTest passes
their locations in the environment."""
import os
import shutil
import subprocess

import numpy as np
import pytest


def _env_path(name):
    value = os.environ.get(name)
    if not value:
        pytest.skip(f"{name} not set (run the tests through ctest)")
    return value


@pytest.fixture(scope="session")
def circle():
    """(train X, train y, test X, test y) of the circle-in-the-square data."""
    data = _env_path("QIR_DATA_DIR")
    train = np.loadtxt(os.path.join(data, "circle_train.csv"), delimiter=",")
    test = np.loadtxt(os.path.join(data, "circle_test.csv"), delimiter=",")
    return train[:, :2], train[:, 2], test[:, :2], test[:, 2]


@pytest.fixture(scope="session")
def qir_command():
    return _env_path("QIR")


@pytest.fixture(scope="session")
def octave():
    """Runs an Octave script with the built Octave modules and the toolbox on the path."""
    program = os.environ.get("QIR_OCTAVE_CLI") or shutil.which("octave-cli")
    modules = os.environ.get("QIR_OCTAVE_MODULES")
    if not program or not modules:
        pytest.skip("GNU Octave or its modules not available")
    toolbox = _env_path("QIR_TOOLBOX")

    def run(script):
        command = [program, "--no-gui", "--norc", "--no-history", "--quiet", "--eval",
                   f"addpath('{toolbox}'); addpath('{modules}'); {script}"]
        result = subprocess.run(command, capture_output=True, text=True, timeout=300)
        assert result.returncode == 0, result.stdout + result.stderr
        return result.stdout

    return run
