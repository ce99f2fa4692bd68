"""The same data and seed through the command, Python and GNU Octave's
toolbox give the same results: byte-identical model files after a fit and
after a further batch, the same labels and vote shares, the same
cross-validation figures and the same search tables. Each front end runs
once per data set (a module-scoped fixture); the tests compare."""
import os
import re
import shutil
import subprocess

import numpy as np
import pytest

import qir

SEED = 7
# Members that see their own features and their own draw of the patterns,
# on the data with idle columns after their own, which the screen drops.
VIEWS_OPTIONS = ("--max-features", "0.5", "--bootstrap", "1", "--screen", "1")
IDLE_COLUMNS = 30


def _env(name):
    value = os.environ.get(name)
    if not value:
        pytest.skip(f"{name} not set (run the tests through ctest)")
    return value


NAMES = np.array(["virginica", "setosa", "versicolor"])


def _split(X, y):
    """Two batches (a fit and a continuation) in a shuffled order, and the
    whole set to classify. With names, the first batch lacks the class
    whose name sorts first, so the continuation numbers a new name."""
    order = np.random.RandomState(3).permutation(len(y))
    if y.dtype.kind == "U":
        order = np.concatenate([order[y[order] != "setosa"], order[y[order] == "setosa"]])
    first = order[: len(y) * 3 // 5]
    second = order[len(first):]
    return {"first": (X[first], y[first]), "second": (X[second], y[second]), "all": (X, y)}


def _write(folder, name, X, y):
    """NAME.csv (features and label) for the command; NAME_X.csv and
    NAME_y.txt for Octave."""
    text = lambda label: label if isinstance(label, str) else "%.17g" % label
    with open(folder / f"{name}.csv", "w") as out:
        for row, label in zip(X, y):
            out.write(",".join("%.17g" % v for v in row) + "," + text(label) + "\n")
    np.savetxt(folder / f"{name}_X.csv", X, delimiter=",", fmt="%.17g")
    (folder / f"{name}_y.txt").write_text("".join(text(label) + "\n" for label in y))


def _command(folder, data_files):
    program = _env("QIR")

    def run(*args):
        result = subprocess.run([program, *args], capture_output=True, text=True, timeout=300,
                                cwd=folder)
        assert result.returncode == 0, result.stderr
        return result.stdout

    run("train", data_files["first"], "-o", "fit.model", "--seed", str(SEED), "--oflag", "0")
    run("train", data_files["second"], "--init", "fit.model", "-o", "continued.model",
        "--oflag", "0")
    run("classify", "continued.model", data_files["all"], "-o", "labels.csv", "--scores",
        "scores.csv", "--oflag", "0")
    run("train", data_files["idle_first"], "-o", "views.model", "--seed", str(SEED), "--oflag",
        "0", *VIEWS_OPTIONS)
    run("train", data_files["idle_second"], "--init", "views.model", "-o",
        "views_continued.model", "--oflag", "0")
    run("classify", "views_continued.model", data_files["idle_all"], "-o", "views_labels.csv",
        "--oflag", "0")
    run("train", data_files["first"], "-o", "rank.model", "--seed", str(SEED), "--oflag", "0",
        "--scale", "rank")
    run("train", data_files["second"], "--init", "rank.model", "-o", "rank_continued.model",
        "--oflag", "0")
    run("classify", "rank_continued.model", data_files["all"], "-o", "rank_labels.csv",
        "--oflag", "0")
    run("train", data_files["first"], "-o", "standard.model", "--seed", str(SEED), "--oflag",
        "0", "--scale", "standard")
    return {"cv": run("cv", data_files["all"], "--folds", "4", "--seed", str(SEED)),
            "search": run("search", data_files["all"], "--folds", "3", "--seed", str(SEED))}


def _python(folder, parts):
    model = qir.QIRClassifier(random_state=SEED, oflag=0).fit(*parts["first"])
    model.save(os.path.join(folder, "fit.model"))
    model.partial_fit(*parts["second"])
    model.save(os.path.join(folder, "continued.model"))
    X_all, y_all = parts["all"]
    views = qir.QIRClassifier(random_state=SEED, oflag=0, max_features=0.5, bootstrap=True,
                              screen=True)
    views.fit(*parts["idle_first"]).save(os.path.join(folder, "views.model"))
    views.partial_fit(*parts["idle_second"]).save(os.path.join(folder, "views_continued.model"))
    rank = qir.QIRClassifier(random_state=SEED, oflag=0, scale="rank").fit(*parts["first"])
    rank.save(os.path.join(folder, "rank.model"))
    rank.partial_fit(*parts["second"]).save(os.path.join(folder, "rank_continued.model"))
    qir.QIRClassifier(random_state=SEED, oflag=0, scale="standard").fit(
        *parts["first"]).save(os.path.join(folder, "standard.model"))
    return {"labels": model.predict(X_all), "views_labels": views.predict(parts["idle_all"][0]),
            "rank_labels": rank.predict(X_all), "shares": model.predict_proba(X_all),
            "classes": model.classes_,
            "cv": qir.cv(X_all, y_all, folds=4, random_state=SEED),
            "search": qir.search(X_all, y_all, folds=3, random_state=SEED)}


OCTAVE_SCRIPT = """
raw = @(name) strsplit(strtrim(fileread([name '_y.txt'])), "\\n")';
readers = {{raw, @(name) str2double(raw(name))}};
labels_of = readers{{all(~isnan(str2double(raw('first')))) + 1}};
first = dlmread('first_X.csv'); second = dlmread('second_X.csv'); all = dlmread('all_X.csv');
model = qir_fit(first, labels_of('first'), 'Seed', {seed}, 'Oflag', 0);
qir_save_model(model, 'fit.model');
model = qir_fit(second, labels_of('second'), 'Model', model, 'Oflag', 0);
qir_save_model(model, 'continued.model');
[labels, info] = qir_predict(model, all);
if iscell(labels)
  fid = fopen('labels.csv', 'w'); fprintf(fid, '%s\\n', labels{{:}}); fclose(fid);
  [~, at] = ismember(info.classes, model.class_labels);
  fid = fopen('share_classes.txt', 'w'); fprintf(fid, '%s\\n', model.class_names{{at}}); fclose(fid);
  dlmwrite('shares.csv', info.shares, 'precision', '%.17g');
else
  dlmwrite('labels.csv', labels, 'precision', '%.17g');
  dlmwrite('shares.csv', [info.classes; info.shares], 'precision', '%.17g');
end
views = qir_fit(dlmread('idle_first_X.csv'), labels_of('idle_first'), 'Seed', {seed}, ...
               'Oflag', 0, 'MaxFeatures', 0.5, 'Bootstrap', true, 'Screen', true);
qir_save_model(views, 'views.model');
views = qir_fit(dlmread('idle_second_X.csv'), labels_of('idle_second'), 'Model', views, ...
               'Oflag', 0);
qir_save_model(views, 'views_continued.model');
views_labels = qir_predict(views, dlmread('idle_all_X.csv'));
rank = qir_fit(first, labels_of('first'), 'Seed', {seed}, 'Oflag', 0, 'Scale', 'rank');
qir_save_model(rank, 'rank.model');
rank = qir_fit(second, labels_of('second'), 'Model', rank, 'Oflag', 0);
qir_save_model(rank, 'rank_continued.model');
rank_labels = qir_predict(rank, all);
for named = {{{{'views_labels', views_labels}}, {{'rank_labels', rank_labels}}}}
  [name, values] = named{{1}}{{:}};
  if iscell(values)
    fid = fopen([name '.csv'], 'w'); fprintf(fid, '%s\\n', values{{:}}); fclose(fid);
  else
    dlmwrite([name '.csv'], values, 'precision', '%.17g');
  end
end
qir_save_model(qir_fit(first, labels_of('first'), 'Seed', {seed}, 'Oflag', 0, 'Scale', ...
                       'standard'), 'standard.model');
y = labels_of('all');
r = qir_cv(all, y, 'Folds', 4, 'Seed', {seed}, 'Display', false);
dlmwrite('cv.csv', [r.fold_accuracy r.fold_unknown r.fold_nodes], 'precision', '%.17g');
disp('--- search');
qir_search(all, y, 'Folds', 3, 'Seed', {seed});
"""


def _octave(folder):
    program = os.environ.get("QIR_OCTAVE_CLI") or shutil.which("octave-cli")
    modules = os.environ.get("QIR_OCTAVE_MODULES")
    if not program or not modules:
        pytest.skip("GNU Octave or its modules not available")
    toolbox = _env("QIR_TOOLBOX")
    result = subprocess.run(
        [program, "--no-gui", "--norc", "--no-history", "--quiet", "--eval",
         f"addpath('{toolbox}'); addpath('{modules}'); " + OCTAVE_SCRIPT.format(seed=SEED)],
        capture_output=True, text=True, timeout=600, cwd=folder)
    assert result.returncode == 0, result.stdout + result.stderr
    return {"search": result.stdout.split("--- search\n")[1]}


@pytest.fixture(scope="module", params=["wine", "iris", "iris_names"])
def runs(request, tmp_path_factory):
    """Each front end's results on one bundled data set, in a folder each."""
    data = np.loadtxt(os.path.join(_env("QIR_DATA_DIR"), request.param.split("_")[0] + ".csv"),
                      delimiter=",")
    X, y = data[:, :-1], data[:, -1]
    if request.param.endswith("_names"):
        y = NAMES[y.astype(int) - 1]
    parts = _split(X, y)
    idle = np.random.RandomState(5).rand(len(y), IDLE_COLUMNS)
    parts.update({"idle_" + name: part
                  for name, part in _split(np.hstack([X, idle]), y).items()})
    folders = {name: tmp_path_factory.mktemp(f"{request.param}_{name}")
               for name in ("command", "python", "octave")}
    files = {}
    for name, part in parts.items():
        for folder in folders.values():
            _write(folder, name, *part)
        files[name] = f"{name}.csv"
    return {"folders": folders, "names": y.dtype.kind == "U",
            "command": _command(folders["command"], files),
            "python": _python(folders["python"], parts),
            "octave": _octave(folders["octave"])}


def _bytes(runs, front_end, name):
    return (runs["folders"][front_end] / name).read_bytes()


@pytest.mark.parametrize("name", ["fit.model", "continued.model", "views.model",
                                  "views_continued.model", "rank.model", "rank_continued.model",
                                  "standard.model"])
def test_model_files_are_byte_identical(runs, name):
    command = _bytes(runs, "command", name)
    assert b"% member 15 " in command  # the default ensemble, not a plain model
    assert (b"% member_features " in command) == name.startswith("views")
    if name.startswith("views"):  # the screen left few if any of the idle columns
        seen = {int(k) for line in command.splitlines()
                if line.startswith(b"% member_features ") for k in line.split()[2:]}
        own = int(re.search(rb"% features (\d+)", command)[1]) - IDLE_COLUMNS
        assert len([k for k in seen if k > own]) <= 3 and len(seen) <= own + 3
    kind = name.split("_")[0].split(".")[0]
    assert (b"% scaling " + kind.encode() + b"\n" in command) == (kind in ("rank", "standard"))
    assert _bytes(runs, "python", name) == command
    assert _bytes(runs, "octave", name) == command


def _numbers(path, skip_header=False):
    return np.loadtxt(path, delimiter=",", ndmin=2, skiprows=1 if skip_header else 0)


def _labels(path, names):
    if names:
        return np.array(path.read_text().split())
    return _numbers(path)[:, 0]


def test_labels_and_vote_shares_are_identical(runs):
    folders, names = runs["folders"], runs["names"]
    labels = _labels(folders["command"] / "labels.csv", names)
    np.testing.assert_array_equal(runs["python"]["labels"], labels)
    np.testing.assert_array_equal(_labels(folders["octave"] / "labels.csv", names), labels)
    # Every pattern classified, so the shares are the members' votes alone;
    # the command's columns are the classes of its header.
    header = (folders["command"] / "scores.csv").read_text().splitlines()[0].split(",")
    shares = _numbers(folders["command"] / "scores.csv", skip_header=True)
    assert np.allclose(shares.sum(axis=1), 1)
    python_classes = [str(c) for c in runs["python"]["classes"]] if names else \
        [float(c) for c in runs["python"]["classes"]]
    header = header if names else [float(c) for c in header]
    assert sorted(python_classes) == sorted(header)
    columns = [header.index(c) for c in python_classes]
    np.testing.assert_array_equal(runs["python"]["shares"], shares[:, columns])
    octave = _numbers(folders["octave"] / "shares.csv")
    if names:
        octave_classes = (folders["octave"] / "share_classes.txt").read_text().split()
        assert sorted(octave_classes) == sorted(header)
        np.testing.assert_array_equal(octave, shares[:, [header.index(c) for c in octave_classes]])
    else:
        np.testing.assert_array_equal(octave[0], header)
        np.testing.assert_array_equal(octave[1:], shares)


@pytest.mark.parametrize("kind", ["views", "rank"])
def test_members_with_views_or_rank_scaling_classify_alike(runs, kind):
    folders, names = runs["folders"], runs["names"]
    labels = _labels(folders["command"] / f"{kind}_labels.csv", names)
    np.testing.assert_array_equal(runs["python"][f"{kind}_labels"], labels)
    np.testing.assert_array_equal(_labels(folders["octave"] / f"{kind}_labels.csv", names), labels)


def _command_folds(text):
    """Accuracy, unknown (percent, as printed) and nodes of each fold of `qir cv`."""
    rows = [line.split() for line in text.splitlines() if re.match(r"^\d+ ", line)]
    return [(row[2], row[3], float(row[4])) for row in rows]


def test_cross_validation_tables_are_identical(runs):
    command = _command_folds(runs["command"]["cv"])
    assert len(command) == 4
    python = runs["python"]["cv"]
    octave = _numbers(runs["folders"]["octave"] / "cv.csv")
    for shown, rows in (("python", zip(python["fold_accuracy"], python["fold_unknown"],
                                       python["fold_nodes"])),
                        ("octave", octave)):
        assert [(f"{a:.2f}%", f"{u:.2f}%", float(n)) for a, u, n in rows] == command, shown


def _table_rows(text):
    """The rows of the search's two tables and the defaults' row."""
    return [line for line in text.splitlines() if re.match(r"^ *(\d+|def\.) ", line)]


def _row(rank, c, with_gain):
    """A row as the command prints it."""
    line = "%4s %8.2f%% %8.2f%% %8.1f %10.4g %6g %10g %6g %3g %6d" % (
        rank, c["accuracy"], c["unknown"], c["nodes"], c["D"], c["ratio"], c["vigilance"],
        c["alpha"], c["ct_option"], c["n_voters"])
    return line + (" %+7.2f ± %.2f" % (c["gain"], c["gain_error"]) if with_gain else "")


def test_search_tables_are_identical(runs):
    command = _table_rows(runs["command"]["search"])
    found = runs["python"]["search"]
    python = ([_row(str(k + 1), c, False) for k, c in enumerate(found["screened"][:10])] +
              [_row(str(k + 1), c, True) for k, c in enumerate(found["finalists"])] +
              [_row("def.", found["defaults"], False)])
    assert python == command
    assert _table_rows(runs["octave"]["search"]) == command
    best = runs["command"]["search"].split("Best setting: ")[1].split()
    options = dict(zip(best[5::2], best[6::2]))
    chosen = found["best_params"]
    assert int(options["--voters"]) == chosen["n_voters"]
    assert (float(options["--D"]) if "--D" in options else None) == chosen["D"]


def _scaling_rows(text):
    """The rows of the search's scaling stage."""
    return [line for line in text.splitlines()
            if re.match(r"^ *(minmax|rank|standard|auto) +\d", line)]


def _word(scale):
    return {True: "minmax", False: "none"}.get(scale, scale)


def test_search_scaling_stage_and_choice_are_the_same(runs):
    command = runs["command"]["search"]
    found = runs["python"]["search"]
    python = ["%8s %8.2f%% %8.2f%% %8.1f %+7.2f ± %.2f" % (
        _word(c["scale"]), c["accuracy"], c["unknown"], c["nodes"], c["gain"], c["gain_error"])
        for c in found["scalings"]]
    assert len(python) == 2 and python == _scaling_rows(command)
    assert _scaling_rows(runs["octave"]["search"]) == _scaling_rows(command)
    best = command.split("Best setting: ")[1].split()
    options = dict(zip(best[5::2], best[6::2]))
    assert options.get("--scale", "auto") == _word(found["best_params"]["scale"])
