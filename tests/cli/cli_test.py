#!/usr/bin/env python3
"""Whole-command tests of `qir`, run as `cli_test.py GROUP` (GROUP is one of
the TestCase classes below). The environment names the programs and folders:
QIR, QIR_MAKE_DATA, QIR_DATA_DIR, QIR_TOOLBOX."""
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

QIR = os.environ.get("QIR", "qir")
MAKE_DATA = os.environ.get("QIR_MAKE_DATA", "qir_make_data")
DATA = os.environ.get("QIR_DATA_DIR", "data")
TOOLBOX = os.environ.get("QIR_TOOLBOX", "toolbox")
SKIPPED = 77


def run(*args, cwd=None):
    return subprocess.run([QIR, *args], capture_output=True, text=True, cwd=cwd, timeout=600)


def data(name):
    return os.path.join(DATA, name)


def model_text(features, rows, labels, D=1, ratio=0.5, vigilance=0.75, alpha=0.001, ct=1):
    """A model file written by hand, in the documented format."""
    head = ["% format 1", f"% features {features}", f"% D {D}", f"% ratio {ratio}",
            f"% vigilance {vigilance}", f"% alpha {alpha}", "% learning_rate 1",
            "% max_list_presentations 100", "% trim_option 1", f"% ct_option {ct}",
            "% list_presentations 1", f"% nodes {len(rows)}"]
    body = [" ".join(str(v) for v in row + [label]) for row, label in zip(rows, labels)]
    return "\n".join(head + body) + "\n"


def read_model(path):
    """Header values and node rows [template..., label] of a model file."""
    header, rows = {}, []
    for line in open(path):
        line = line.strip()
        if line.startswith("%"):
            words = line[1:].split()
            if len(words) == 2:
                try:
                    header[words[0]] = float(words[1])
                except ValueError:
                    pass
        elif line:
            rows.append([float(v) for v in line.split()])
    return header, rows


def accuracy(stdout):
    found = re.search(r"Accuracy: ([0-9.]+)% \((\d+) of (\d+) patterns\)", stdout)
    if not found:
        raise AssertionError("no accuracy line in:\n" + stdout)
    return float(found.group(1)), int(found.group(2)), int(found.group(3))


def svg_elements(path):
    """Elements of an SVG file by class attribute; parsing checks the XML."""
    root = ET.parse(path).getroot()
    ns = "{http://www.w3.org/2000/svg}"
    found = {}
    for element in root.iter():
        if element.tag in (ns + "ellipse", ns + "circle"):
            found.setdefault(element.get("class"), []).append(element)
    return found


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qir-cli-test-")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)

    def ok(self, *args, cwd=None):
        result = run(*args, cwd=cwd)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result


class ErrorCases(Base):
    """Bad input: a message with the file and line, a non-zero exit, and no
    output file (an existing one is left as it was). No module is called."""

    BAD = {
        "ragged.csv": ("0.1,0.2,1\n0.3,0.4,2\n0.5,1\n", ":3:"),
        "text.csv": ("0.1,0.2,1\n0.3,abc,2\n", ":2:"),
        "blank.csv": ("\n  \n", ":1:"),
        "empty.csv": ("", ":1:"),
        "absent.csv": (None, ": cannot open file"),
    }

    def model(self):
        return self.write("m.model", model_text(2, [[0.5, 0.5, 0, 0, 0]], [1]))

    def check_refused(self, result, path, line, output):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(path + line, result.stderr)
        self.assertFalse(os.path.exists(output), "output file left behind")

    def test_train_refuses_bad_data_files(self):
        for name, (text, line) in self.BAD.items():
            with self.subTest(name):
                path = self.write(name, text) if text is not None else self.path(name)
                out = self.path(name + ".model")
                self.check_refused(run("train", path, "-o", out), path, line, out)

    def test_classify_refuses_bad_data_files(self):
        model = self.model()
        for name, (text, line) in self.BAD.items():
            with self.subTest(name):
                path = self.write(name, text) if text is not None else self.path(name)
                out = self.path(name + ".labels")
                self.check_refused(run("classify", model, path, "-o", out), path, line, out)

    def test_train_refuses_more_features_than_a_model_file_holds(self):
        wide = self.write("wide.csv", "0," * 1000001 + "1\n")
        out = self.path("wide.model")
        result = run("train", wide, "-o", out)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(wide + ": 1000001 features; a model holds at most 1000000", result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_existing_output_survives_a_failure(self):
        out = self.write("keep.model", "previous\n")
        bad = self.write("bad.csv", "1,2,1\n3,x,1\n")
        self.assertEqual(run("train", bad, "-o", out).returncode, 1)
        with open(out) as f:
            self.assertEqual(f.read(), "previous\n")

    def test_bad_model_file_names_its_line(self):
        model = self.write("bad.model", model_text(2, [[0.5, 0.5, 0, 0, 0]], [1]) + "1 2 3\n")
        result = run("classify", model, data("circle_train.csv"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(model + ":14: 3 values, a node row has 6", result.stderr)

    def test_command_line_mistakes_exit_with_2(self):
        for args in (["train", data("iris.csv")],
                     ["train", data("iris.csv"), "-o", self.path("m"), "--bogus", "1"],
                     ["train", data("iris.csv"), "-o", self.path("m"), "--vigilance", "high"],
                     ["classify", self.model()],
                     ["nonsense"], []):
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertFalse(os.path.exists(self.path("m")))

    def test_plot_refuses_a_model_that_is_not_2d(self):
        model = self.write("m3.model", model_text(3, [[0, 0, 0, 0, 0, 0, 0]], [1]))
        out = self.path("m3.svg")
        result = run("plot", model, "-o", out)
        self.assertEqual(result.returncode, 1)
        self.assertIn("the model has 3 features; only models of 2 features can be drawn", result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_unlabelled_data_needs_no_labels_option(self):
        features = self.write("f.csv", "0.1,0.2\n0.3,0.4\n")
        result = run("classify", self.model(), features)
        self.assertEqual(result.returncode, 1)
        self.assertIn("--no-labels", result.stderr)

    def test_unloadable_module_directory_is_reported(self):
        out = self.path("m.model")
        result = run("train", data("iris.csv"), "-o", out, "--modules", self.path("nowhere"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(self.path("nowhere"), result.stderr)
        self.assertIn("QIR_MODULE_DIR", result.stderr)
        self.assertFalse(os.path.exists(out))


class ModuleErrors(Base):
    """Arguments the modules refuse: their message verbatim, no output file."""

    def refused(self, args, message, output):
        result = run(*args)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertEqual(result.stderr, message + "\n")
        self.assertFalse(os.path.exists(output))

    def test_training_arguments_refused_by_qir_train(self):
        out = self.path("m.model")
        train = ["train", data("circle_train.csv"), "-o", out]
        self.refused(train + ["--ratio", "0"], "QIR_TRAIN: 4th input argument (ratio) must be in (0.0, 1.0].", out)
        self.refused(train + ["--oflag", "5"], "QIR_TRAIN: 11th input argument (oflag) must be 0,1,2,3 or 4.", out)

    def test_classification_arguments_refused_by_qir_perf(self):
        model = self.write("m.model", model_text(2, [[0.5, 0.5, 0, 0, 0]], [1]))
        out = self.path("labels.csv")
        self.refused(["classify", model, data("circle_test.csv"), "-o", out, "--vigilance", "1.5"],
                     "QIR_PERF: 5th input argument (vigilance) must be in [0.0, 1.0].", out)
        self.refused(["classify", model, data("iris.csv"), "-o", out],
                     "QIR_PERF: 8th input argument (Patterns) must be of type  150x2.", out)


class EndToEnd(Base):
    """qir train, then qir classify, on the bundled data."""

    def train(self, *args):
        model = self.path("model.txt")
        result = self.ok("train", *args, "-o", model)
        return model, result

    def test_iris_trains_a_well_formed_model_that_classifies_it(self):
        model, result = self.train(data("iris.csv"))
        self.assertIn("QIR training", result.stdout)
        header, rows = read_model(model)
        self.assertEqual(header["features"], 4)
        self.assertEqual(header["nodes"], len(rows))
        self.assertGreater(len(rows), 2)
        for row in rows:
            self.assertEqual(len(row), 10)
            norm = math.sqrt(sum(v * v for v in row[4:8]))
            self.assertTrue(norm == 0 or abs(norm - 1) < 1e-12, row)
            self.assertGreaterEqual(row[8], 0)
            self.assertIn(row[9], (1, 2, 3))

        labels = self.path("assigned.csv")
        result = self.ok("classify", model, data("iris.csv"), "-o", labels)
        self.assertIn("QIR performance phase summary", result.stdout)
        percent, correct, total = accuracy(result.stdout)
        self.assertEqual(total, 150)
        self.assertGreaterEqual(percent, 90)
        assigned = [float(line) for line in open(labels)]
        truth = [float(line.split(",")[-1]) for line in open(data("iris.csv"))]
        self.assertEqual(len(assigned), 150)
        self.assertEqual(sum(a == t for a, t in zip(assigned, truth)), correct)

    def test_separate_label_file_gives_the_same_model_and_labels(self):
        rows = [line.strip().split(",") for line in open(data("iris.csv"))]
        features = self.write("features.csv", "".join(",".join(r[:-1]) + "\n" for r in rows))
        labels = self.write("labels.csv", "".join(r[-1] + "\n" for r in rows))
        joined = self.path("joined.model")
        split = self.path("split.model")
        self.ok("train", data("iris.csv"), "-o", joined, "--oflag", "0")
        self.ok("train", features, "--labels", labels, "-o", split, "--oflag", "0")
        self.assertEqual(open(joined).read(), open(split).read())

        with_labels = self.path("a.csv")
        without = self.path("b.csv")
        self.ok("classify", joined, data("iris.csv"), "-o", with_labels)
        result = self.ok("classify", joined, features, "--no-labels", "-o", without)
        self.assertNotIn("Accuracy", result.stdout)
        self.assertEqual(open(with_labels).read(), open(without).read())

    def test_circle_model_generalises_to_the_test_set(self):
        model, _ = self.train(data("circle_train.csv"))
        result = self.ok("classify", model, data("circle_test.csv"))
        percent, _, total = accuracy(result.stdout)
        self.assertEqual(total, 10000)
        self.assertGreater(percent, 85)
        table = result.stdout.split("Confusion table")[1].splitlines()[2:]
        self.assertEqual(sum(int(v) for line in table for v in line.split()[1:]), 10000)

    def test_model_parameters_are_classification_defaults(self):
        model, _ = self.train(data("circle_train.csv"), "--vigilance", "0.6", "--ratio", "0.3",
                              "--alpha", "0.01", "--D", "2", "--ct", "0")
        header, _ = read_model(model)
        self.assertEqual((header["vigilance"], header["ratio"], header["alpha"], header["D"], header["ct_option"]),
                         (0.6, 0.3, 0.01, 2, 0))
        implicit = self.path("implicit.csv")
        explicit = self.path("explicit.csv")
        other = self.path("other.csv")
        self.ok("classify", model, data("circle_test.csv"), "-o", implicit)
        self.ok("classify", model, data("circle_test.csv"), "-o", explicit, "--vigilance", "0.6",
                "--ratio", "0.3", "--alpha", "0.01", "--D", "2", "--ct", "0")
        self.ok("classify", model, data("circle_test.csv"), "-o", other, "--vigilance", "1",
                "--unknown-label", "-7")
        self.assertEqual(open(implicit).read(), open(explicit).read())
        self.assertIn("-7\n", open(other).read())


    def test_unclassified_patterns_are_wrong_even_where_label_0_is_true(self):
        # Point nodes labelled 0 and 1; the middle pattern is too far from
        # both (MFV 0.29 < 0.75), so no node classifies it.
        model = self.write("m.model", model_text(2, [[0, 0, 0, 0, 0], [1, 1, 0, 0, 0]], [0, 1]))
        points = self.write("p.csv", "0,0,0\n1,1,1\n0.5,0.5,0\n")
        out = self.path("labels.csv")
        result = self.ok("classify", model, points, "-o", out)
        self.assertIn("Accuracy: 66.67% (2 of 3 patterns)", result.stdout)
        self.assertIn("Unclassified: 1 patterns", result.stdout)
        self.assertEqual(open(out).read().split(), ["0", "1", "-1"])  # one below the smallest
        result = self.ok("classify", model, points, "-o", out, "--unknown-label", "0")
        self.assertIn("Accuracy: 66.67% (2 of 3 patterns)", result.stdout)
        self.assertEqual(open(out).read().split(), ["0", "1", "0"])
        # Without vigilance and CT the first of the equally near nodes wins.
        result = self.ok("classify", model, points, "--vigilance", "0", "--ct", "0")
        self.assertIn("Accuracy: 100.00% (3 of 3 patterns)", result.stdout)
        self.assertIn("Unclassified: 0 patterns", result.stdout)


class Pictures(Base):
    """The demo and qir plot write well-formed SVG with one element per node
    and per data point."""

    def test_demo_reaches_its_accuracy_and_draws_every_node(self):
        result = self.ok("demo", cwd=self.dir)
        percent, _, total = accuracy(result.stdout)
        self.assertEqual(total, 10000)
        self.assertGreater(percent, 90)
        nodes = int(re.search(r"Nodes: (\d+)", result.stdout).group(1))
        found = svg_elements(self.path("qir-demo.svg"))
        self.assertEqual(len(found.get("node", [])), nodes)
        self.assertEqual(len(found.get("point", [])), sum(1 for _ in open(data("circle_train.csv"))))
        self.assertEqual(set(found), {"node", "point"})

    def test_plot_draws_a_trained_model_over_data(self):
        model = self.path("m.model")
        self.ok("train", data("circle_train.csv"), "-o", model, "--oflag", "0")
        _, rows = read_model(model)
        picture = self.path("m.svg")
        self.ok("plot", model, data("circle_train.csv"), "-o", picture)
        found = svg_elements(picture)
        self.assertEqual(len(found["node"]), len(rows))
        self.assertEqual(len(found["point"]), 1000)
        ellipses = [e for e in found["node"] if e.tag.endswith("ellipse")]
        grown = [r for r in rows if r[2] != 0 or r[3] != 0]
        self.assertEqual(len(ellipses), len(grown))

class CircleData(Base):
    """The committed circle files are what the generator makes, and they are
    the benchmark they claim to be."""

    def test_generator_rebuilds_the_committed_files(self):
        subprocess.run([MAKE_DATA, self.dir], check=True, timeout=60)
        for name in ("circle_train.csv", "circle_test.csv"):
            with open(self.path(name), "rb") as made, open(data(name), "rb") as committed:
                self.assertEqual(made.read(), committed.read(), name)

    def test_points_are_uniform_in_the_square_and_labelled_by_the_circle(self):
        radius_squared = 1 / (2 * math.pi)
        for name, count in (("circle_train.csv", 1000), ("circle_test.csv", 10000)):
            rows = [[float(v) for v in line.split(",")] for line in open(data(name))]
            self.assertEqual(len(rows), count)
            inside = 0
            for x, y, label in rows:
                self.assertTrue(0 <= x <= 1 and 0 <= y <= 1)
                expected = 1 if (x - 0.5) ** 2 + (y - 0.5) ** 2 < radius_squared else 2
                self.assertEqual(label, expected, (x, y))
                inside += label == 1
            # Half the area: the share inside lies within 4 standard deviations of 1/2.
            self.assertLess(abs(inside / count - 0.5), 4 * math.sqrt(0.25 / count), name)
            quadrant = sum(1 for x, y, _ in rows if x < 0.5 and y < 0.5) / count
            self.assertLess(abs(quadrant - 0.25), 4 * math.sqrt(0.1875 / count), name)

    def test_iris_has_three_classes_of_fifty(self):
        rows = [line.strip().split(",") for line in open(data("iris.csv"))]
        self.assertEqual(len(rows), 150)
        self.assertTrue(all(len(r) == 5 for r in rows))
        counts = {}
        for r in rows:
            counts[r[-1]] = counts.get(r[-1], 0) + 1
        self.assertEqual(counts, {"1": 50, "2": 50, "3": 50})


class Octave(Base):
    """The toolbox's model reader and plotting function in GNU Octave."""

    def octave(self, script):
        command = [shutil.which("octave-cli") or shutil.which("octave"), "--no-gui", "--quiet",
                   "--no-window-system", "--eval", f"addpath('{TOOLBOX}'); {script}"]
        result = subprocess.run(command, capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result.stdout

    def test_model_file_reads_with_load_and_qir_read_model(self):
        model = self.write("m.model", model_text(
            2, [[0.25, 0.75, 0.6, 0.8, 0.125], [0.1, 0.2, 0, 0, 0]], [1, 2], vigilance=0.7, ratio=0.3))
        out = self.octave(
            f"M = load('{model}'); printf('%d %d\\n', size(M)); "
            f"[T, L, p] = qir_read_model('{model}'); "
            "printf('%d %d %d %g %g %g\\n', size(T), numel(L), p.vigilance, p.ratio, T(1,5));")
        self.assertEqual(out.split("\n")[:2], ["2 6", "2 5 2 0.7 0.3 0.125"])

    def test_plot_nodes_draws_each_node_as_its_region(self):
        out = self.octave(
            "figure('visible', 'off'); "
            "h = qir_plot_nodes([0.5 0.5 0 1 0.2; 0.1 0.1 0 0 0; 0.8 0.2 0 0 0.1], [1; 2; 1], 0.25); "
            "printf('%d\\n', numel(h)); "
            "x = get(h(1), 'xdata'); y = get(h(1), 'ydata'); "
            "printf('%.3f %.3f %.3f %.3f\\n', min(x), max(x), min(y), max(y)); "
            "x = get(h(3), 'xdata'); printf('%.3f %.3f\\n', min(x), max(x)); "
            "printf('%s %s\\n', get(h(1), 'type'), get(h(2), 'type'));")
        lines = out.split("\n")
        self.assertEqual(lines[0], "3")
        # Long axis straight up: radius 0.2 along y, 0.25 * 0.2 across.
        self.assertEqual(lines[1], "0.450 0.550 0.300 0.700")
        # A ball of radius 0.1; the radius-0 node is a marker, not a region.
        self.assertEqual(lines[2], "0.700 0.900")
        self.assertEqual(lines[3], "patch line")

if __name__ == "__main__":
    group = sys.argv[1]
    if group == "Octave" and not (shutil.which("octave-cli") or shutil.which("octave")):
        print("GNU Octave not found: skipped")
        sys.exit(SKIPPED)
    suite = unittest.TestLoader().loadTestsFromTestCase(globals()[group])
    outcome = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if outcome.wasSuccessful() else 1)
