#!/usr/bin/env python3
"""`cmake --install` into a scratch prefix, used as a newcomer would: the
qir command, the toolbox in Octave and the Python package, each from a
folder of its own and with no hint of the build tree in the environment;
then the uninstall script removes every installed file and our folders."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = os.environ["QIR_BUILD_DIR"]
SOURCE = os.environ["QIR_SOURCE_DIR"]
OCTAVE = os.environ.get("QIR_OCTAVE_CLI")
# The circle example of the README, printing what it found.
EXAMPLE = """
import numpy as np
import qir
train = np.loadtxt("{data}/circle_train.csv", delimiter=",")
test = np.loadtxt("{data}/circle_test.csv", delimiter=",")
model = qir.QIRClassifier().fit(train[:, :2], train[:, 2])
print(f"{{len(model.nodes_)}} nodes, accuracy {{model.score(test[:, :2], test[:, 2]):.4f}}")
print(qir.module_directory())
"""


def clean_environment(**extra):
    """No build-tree hints: no module folder, no Python path."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("QIR_MODULE_DIR", "PYTHONPATH") and not k.startswith("QIR_")}
    env.update(extra)
    return env


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="qir-install-test-")
        cls.prefix = os.path.join(cls.scratch, "prefix")
        cls.elsewhere = os.path.join(cls.scratch, "elsewhere")
        os.mkdir(cls.elsewhere)
        # Keep the build folder's own manifests; ours go to a folder of their own.
        cls.kept = os.path.join(cls.scratch, "kept")
        cls.manifests = os.path.join(cls.scratch, "manifests")
        os.mkdir(cls.kept)
        os.mkdir(cls.manifests)
        for manifest in glob.glob(os.path.join(BUILD, "install_manifest*.txt")):
            shutil.move(manifest, cls.kept)
        try:
            subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True,
                           capture_output=True, text=True)
        finally:
            for manifest in glob.glob(os.path.join(BUILD, "install_manifest*.txt")):
                shutil.move(manifest, cls.manifests)
            for manifest in glob.glob(os.path.join(cls.kept, "*")):
                shutil.move(manifest, BUILD)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def installed(self, *parts):
        return os.path.join(self.prefix, *parts)

    def run_here(self, args, **env):
        result = subprocess.run(args, capture_output=True, text=True, cwd=self.elsewhere,
                                env=clean_environment(**env), timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result.stdout

    def build_tree_example(self):
        return subprocess.run(
            [sys.executable, "-c", EXAMPLE.format(data=os.path.join(SOURCE, "data"))],
            capture_output=True, text=True, check=True,
            env=clean_environment(PYTHONPATH=os.environ["QIR_BUILD_PYTHON"])).stdout

    def test_1_the_command_finds_its_modules_and_data(self):
        qir = self.installed("bin", "qir")
        data = self.installed("share", "qir", "data")
        self.run_here([qir, "train", os.path.join(data, "wine.csv"), "-o", "wine.model"])
        out = self.run_here([qir, "classify", "wine.model", os.path.join(data, "wine.csv")])
        self.assertIn("Accuracy:", out)

    def test_2_the_python_package_runs_its_own_module_files(self):
        site = os.environ["QIR_PYTHON_INSTALL_DIR"]
        site = site if os.path.isabs(site) else self.installed(site)
        out = self.run_here([sys.executable, "-c", EXAMPLE.format(
            data=self.installed("share", "qir", "data"))], PYTHONPATH=site)
        figures, folder = out.splitlines()
        self.assertEqual(folder, os.path.join(site, "qir", "modules"))
        self.assertEqual(figures, self.build_tree_example().splitlines()[0])

    @unittest.skipUnless(OCTAVE, "GNU Octave modules not built")
    def test_3_the_toolbox_is_one_folder_to_add(self):
        toolbox = self.installed("share", "qir", "toolbox")
        script = (f"addpath('{toolbox}'); disp(which('qir_train')); "
                  "A = dlmread(fullfile(fileparts(which('qir_fit')), '..', 'data', 'iris.csv'));"
                  "model = qir_fit(A(:, 1:4), A(:, 5), 'Oflag', 0);"
                  "printf('%.2f\\n', mean(qir_predict(model, A(:, 1:4)) == A(:, 5)));")
        out = self.run_here([OCTAVE, "--no-gui", "--norc", "--no-history", "--quiet",
                             "--eval", script]).splitlines()
        self.assertEqual(out[0], os.path.join(toolbox, "qir_train.mex"))
        self.assertGreater(float(out[-1]), 0.9)

    def test_4_uninstall_leaves_no_file(self):
        subprocess.run(["cmake", f"-DBUILD_DIR={self.manifests}", "-P",
                        os.path.join(SOURCE, "cmake", "uninstall.cmake")],
                       check=True, capture_output=True)
        left = [os.path.join(folder, name) for folder, _, names in os.walk(self.prefix)
                for name in names]
        self.assertEqual(left, [])
        folders = [folder for folder, _, _ in os.walk(self.prefix)]
        self.assertFalse([f for f in folders if os.path.basename(f) == "qir"], folders)
        self.assertEqual(glob.glob(os.path.join(self.manifests, "*")), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
