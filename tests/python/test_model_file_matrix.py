"""The same good and bad model files given to the qir command, Python and
Octave: every front end must give the same verdict, name the same line of
a refused file, and give the same labels for a good one."""
import os
import re
import subprocess

import numpy as np
import pytest

import qir

PARAMETERS = ["% D 1", "% ratio 0.5", "% vigilance 0.75", "% alpha 0.1", "% learning_rate 1",
              "% max_list_presentations 100", "% trim_option 0", "% ct_option 0",
              "% list_presentations 3"]
NODES = ["0.2 0.2 0 0 0.1", "0.8 0.8 0.6 0.8 0.2", "0.3 0.7 0 0 0"]
FAR = 40.0  # patterns this far out stay unclassified at the files' vigilance


def numeric_lines(labels=(1, 2, 1)):
    return (["% QIR model: category nodes learned by qir_train", "% format 1", "% features 2"]
            + PARAMETERS + [f"% nodes {len(NODES)}", "% columns: center(1:2) direction(1:2) radius label"]
            + [f"{row} {label}" for row, label in zip(NODES, labels)])


def named_lines():
    lines = numeric_lines()
    lines[1] = "% format 2"
    lines[3:3] = ["% feature_min 0 0", "% feature_max 1 1"]
    at = lines.index(f"% nodes {len(NODES)}")
    lines[at:at] = ["% class 1 inside", "% class 2 outside the circle"]
    return lines


def edited(lines, old, new):
    """The lines with `old` replaced by `new` (a list: one line becomes several)."""
    at = lines.index(old)
    return lines[:at] + (new if isinstance(new, list) else [new]) + lines[at + 1:]


def cases():
    """(name, lines, None for a good file or the line a refusal must name; 0: none)."""
    numeric, named = numeric_lines(), named_lines()
    row = {label: f"{NODES[k]} {label}" for k, label in ((0, 1), (1, 2))}
    swapped = edited(edited(named, "% class 1 inside", "% class 2 x"),
                     "% class 2 outside the circle", "% class 1 inside")
    good = {
        "numeric": numeric,
        "named": named,
        "byte_order_mark": ["\ufeff" + named[0]] + named[1:],
        "infinite_D": edited(numeric, "% D 1", "% D Inf"),
        "lowest_label": numeric_lines((-2**31, 2, -2**31)),
        "classes_in_any_order": edited(swapped, "% class 2 x", "% class 2 outside the circle"),
        "comments_and_blanks": edited(numeric, "% alpha 0.1", ["", "% a note", "% alpha 0.1", ""]),
        "no_nodes": edited(numeric[:-len(NODES)], f"% nodes {len(NODES)}", "% nodes 0"),
        # Older readers take feature lines as comments: any format may hold them.
        "feature_names": edited(numeric, "% features 2",
                                ["% features 2", "% feature 1 width (cm)", "% feature 2 height"]),
    }
    # Each bad file: its lines and the line at fault, named by its text.
    bad = {
        "class_of_no_node": (edited(named, "% class 2 outside the circle",
                                    ["% class 2 outside the circle", "% class 7 spare"]),
                             "% class 7 spare"),
        "only_some_classes_named": (edited(named, "% class 2 outside the circle", []), row[2]),
        "one_name_two_labels": (edited(named, "% class 2 outside the circle", "% class 2 inside"),
                                "% class 2 inside"),
        "nan_label": (edited(numeric, row[2], f"{NODES[1]} nan"), f"{NODES[1]} nan"),
        "fractional_label": (edited(numeric, row[2], f"{NODES[1]} 1.5"), f"{NODES[1]} 1.5"),
        "infinite_node_value": (edited(numeric, row[1], "0.2 Inf 0 0 0.1 1"), "0.2 Inf 0 0 0.1 1"),
        "feature_max_inf": (edited(named, "% feature_max 1 1", "% feature_max 1 inf"),
                            "% feature_max 1 inf"),
        "min_above_max": (edited(named, "% feature_max 1 1", "% feature_max 1 -1"),
                          "% feature_max 1 -1"),
        "no_feature_max": (edited(named, "% feature_max 1 1", []), "% feature_min 0 0"),
        "key_twice": (edited(named, "% ratio 0.5", ["% ratio 0.5", "% ratio 0.25"]), "% ratio 0.25"),
        "huge_D": (edited(numeric, "% D 1", "% D 1" + "0" * 10**7), "% D 1" + "0" * 10**7),
        "range_in_format_1": (edited(named, "% format 2", "% format 1"), "% feature_min 0 0"),
        "newer_format": (edited(numeric, "% format 1", "% format 6"), "% format 6"),
        "short_row": (edited(numeric, f"{NODES[2]} 1", "0.3 0.7 0 0 1"), "0.3 0.7 0 0 1"),
        "node_count": (edited(numeric, f"% nodes {len(NODES)}", "% nodes 4"), "% nodes 4"),
        "one_feature_name_of_two": (edited(named, "% feature_max 1 1",
                                           ["% feature_max 1 1", "% feature 1 width"]),
                                    "% feature 1 width"),
        "feature_names_out_of_order": (edited(named, "% feature_max 1 1",
                                              ["% feature_max 1 1", "% feature 2 height"]),
                                       "% feature 2 height"),
        # Names are UTF-8; a Latin-1 byte (written through surrogateescape)
        # is refused alike, and no message breaks on quoting it.
        "latin1_class_name": (edited(named, "% class 1 inside", "% class 1 caf\udce9"),
                              "% class 1 caf\udce9"),
        "latin1_feature_name": (edited(numeric, "% features 2",
                                       ["% features 2", "% feature 1 \udcff", "% feature 2 b"]),
                                "% feature 1 \udcff"),
        "latin1_in_a_number": (edited(numeric, "% D 1", "% D 1\udcff"), "% D 1\udcff"),
        "dash_for_D": (edited(numeric, "% D 1", "% D -"), "% D -"),
        "dotted_D": (edited(numeric, "% D 1", "% D 1.2.3"), "% D 1.2.3"),
    }
    return ([(name, lines, None) for name, lines in good.items()]
            + [(name, lines, lines.index(fault) + 1) for name, (lines, fault) in bad.items()]
            + [("no_alpha", edited(numeric, "% alpha 0.1", []), 0)])


def patterns():
    rng = np.random.default_rng(7)
    inside = rng.uniform(0, 1, size=(12, 2))
    return np.vstack([inside, [[FAR, FAR], [-FAR, 0.5]]])


@pytest.fixture(scope="module")
def matrix(tmp_path_factory):
    folder = tmp_path_factory.mktemp("matrix")
    files = {}
    for name, lines, line in cases():
        path = folder / f"{name}.model"
        path.write_bytes(("\r\n" if name == "comments_and_blanks" else "\n").join(lines)
                         .encode("utf-8", "surrogateescape") + b"\n")
        files[name] = (path, line)
    os.mkdir(folder / "folder.model")  # a folder where a model file should be
    files["folder"] = (folder / "folder.model", "directory")
    data = folder / "x.csv"
    np.savetxt(data, patterns(), delimiter=",", fmt="%.17g")
    return folder, files, data


def _refusal(message, path, line):
    """Whether a refusal message names the file and the expected line."""
    name = os.path.basename(path)
    if line == "directory":
        return f"{path} is a directory" in message
    if line == 0:
        return re.search(re.escape(name) + r": not a model file", message) is not None
    return f"{name}:{line}: " in message


def command_results(qir_command, folder, files, data):
    results = {}
    for name, (path, _) in files.items():
        out = folder / f"{name}.labels"
        run = subprocess.run([qir_command, "classify", str(path), str(data), "--no-labels",
                              "--unknown-label", "-1", "--oflag", "0",
                              "-o", str(out)], capture_output=True, text=True, timeout=60)
        if run.returncode == 0:
            results[name] = ("ok", [v if v != "-1" else "unknown" for v in out.read_text().split()])
        else:
            results[name] = ("refused", run.stderr)
    return results


def python_results(files, data):
    X = np.loadtxt(data, delimiter=",")
    results = {}
    for name, (path, _) in files.items():
        try:
            model = qir.load_model(path, unknown_label=-1, oflag=0)
        except OSError as error:
            results[name] = ("refused", str(error))
            continue
        labels = model.predict(X)
        results[name] = ("ok", ["unknown" if str(v) == "-1" else str(v) for v in labels])
    return results


def octave_results(octave, folder, files, data):
    script = [f"X = dlmread('{data}', ',');"]
    for name, (path, _) in files.items():
        out = folder / f"{name}.octave"
        script.append(
            f"f = fopen('{out}', 'w'); "
            f"try, m = qir_load_model('{path}'); "
            f"[l, info] = qir_predict(m, X, 'UnknownLabel', -1); "
            "if iscell(l), t = l; else, t = arrayfun(@(v) sprintf('%.17g', v), l, 'UniformOutput', false); end; "
            "t(info.unknown) = {'unknown'}; fprintf(f, 'ok\\n'); fprintf(f, '%s\\n', t{:}); "
            "catch e, fprintf(f, 'refused\\n%s\\n', e.message); end; fclose(f);")
    octave(" ".join(script))
    results = {}
    for name in files:
        verdict, _, rest = (folder / f"{name}.octave").read_text().partition("\n")
        results[name] = (verdict, rest.splitlines() if verdict == "ok" else rest)
    return results


def check_agreement(results, files, front_end):
    for name, (path, line) in files.items():
        verdict, detail = results[name]
        if line is None:
            assert verdict == "ok", f"{front_end} refused {name}: {detail}"
        else:
            assert verdict == "refused", f"{front_end} accepted {name}"
            assert _refusal(detail, path, line), f"{front_end} on {name}: {detail[:300]}"


@pytest.fixture(scope="module")
def command_and_python(matrix, qir_command):
    folder, files, data = matrix
    return command_results(qir_command, folder, files, data), python_results(files, data)


def test_command_and_python_give_the_same_verdicts_and_labels(matrix, command_and_python):
    _, files, _ = matrix
    command, python = command_and_python
    check_agreement(command, files, "the command")
    check_agreement(python, files, "Python")
    for name, (_, line) in files.items():
        if line is None:
            assert command[name][1] == python[name][1], name
    # The files classify: some patterns of the good files get classes, the far ones none.
    assert command["named"][1][:12] != ["unknown"] * 12
    assert command["named"][1][12:] == ["unknown", "unknown"]
    assert set(command["named"][1][:12]) <= {"inside", "outside the circle", "unknown"}
    assert "-2147483648" in command["lowest_label"][1]


def test_octave_gives_the_same_verdicts_and_labels(matrix, command_and_python, octave):
    folder, files, data = matrix
    in_octave = octave_results(octave, folder, files, data)
    check_agreement(in_octave, files, "Octave")
    command, _ = command_and_python
    for name, (_, line) in files.items():
        if line is None:
            assert in_octave[name][1] == command[name][1], name
