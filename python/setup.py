"""Builds the package with CMake (see pyproject.toml): one build of the
_qir extension, the module files and the embedded host, installed as the
CMake component "python" where setuptools collects the package."""
import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent.parent


def project_version():
    """The version the CMake project declares: one place for it."""
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(qir VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        # The folder that holds the package qir/ in the wheel.
        root = Path(self.get_ext_fullpath(ext.name)).resolve().parent.parent
        configure = ["cmake", "-S", str(SOURCE), "-B", str(build),
                     "-DCMAKE_BUILD_TYPE=Release", "-DQIR_TESTS=OFF", "-DQIR_OCTAVE=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}",
                     f"-DQIR_PYTHON_INSTALL_DIR={root}"]
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # CMake looks for a pybind11 installed system-wide
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "-j", jobs,
                        "--target", "_qir", "qir_train", "qir_perf"], check=True)
        subprocess.run(["cmake", "--install", str(build), "--component", "python"], check=True)


setup(version=project_version(),
      ext_modules=[Extension("qir._qir", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
