#!/usr/bin/env python3
"""Runs the examples of README.md and docs/*.md that carry a marker comment
and compares what they print with what the page says they print (the
convention is in docs/contributing.md). Usage: examples_test.py GROUP, where
GROUP is `command` (shell examples needing only the qir command), `octave`
or `python`. The environment names the build: QIR_SOURCE_ROOT, QIR_BUILD_DIR,
QIR_OCTAVE_CLI and QIR_OCTAVE_MODULES (octave), QIR_PYTHON (python)."""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("QIR_SOURCE_ROOT", os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("QIR_BUILD_DIR", os.path.join(SOURCE, "build"))
KINDS = ("shell", "transcript", "octave", "python")
# Steps that build the project are not repeated: the examples run against
# the build this test belongs to.
BUILD_STEPS = {"shell": re.compile(r"\s*cmake\s"), "octave": re.compile(r"\s*make\s*(%.*)?$")}
# Markers stand on lines of their own.
EXAMPLE = re.compile(r"<!--\s*example:\s*(\w+)(?:\s*,\s*needs\s+(\w+))?\s*-->")
PRINTS = re.compile(r"<!--\s*prints(\s*,\s*among others)?\s*-->")
# A page that shows only some lines of the output says so where it shows them.
SAYS_PART = re.compile(r"\b(among|besides)\b", re.I)
# A comment that looks like a marker but is not one is a mistake, not prose.
LOOKS_LIKE_MARKER = re.compile(r"<!--\s*(ex\w*:|prints?\w*\b).*", re.I)
# QIR_EXAMPLES_SHOW=1 prints what each example printed, for writing pages.
SHOW = bool(os.environ.get("QIR_EXAMPLES_SHOW"))
# Long enough for the slowest example (a Dask cluster starting), well
# below the test's own limit.
STEP_TIMEOUT = 240


class Example:
    def __init__(self, page, line, kind, needs, code):
        self.page, self.line, self.kind, self.needs, self.code = page, line, kind, needs, code
        self.expected = []
        self.whole = True  # the stated lines are the whole output

    @property
    def group(self):
        if self.kind in ("octave", "python"):
            return self.kind
        return self.needs or "command"

    def where(self):
        return f"{self.page}:{self.line} ({self.kind} example)"


def code_block(lines, start):
    """The code block (indented or fenced) at or after `start`, skipping
    blank lines: (first line number, its lines, the index after it)."""
    i = start
    while i < len(lines) and not lines[i].strip():
        i += 1
    if i < len(lines) and lines[i].startswith("```"):
        end = i + 1
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        return i + 2, lines[i + 1:end], end + 1
    if i >= len(lines) or not lines[i].startswith("    "):
        return None
    end = i
    while end < len(lines) and (lines[end].startswith("    ") or not lines[end].strip()):
        end += 1
    block = [line[4:] for line in lines[i:end]]
    while block and not block[-1].strip():
        block.pop()
    return i + 1, block, end


def paragraph_at(lines, i, step):
    """The paragraph at or next to line i, going forward (step 1) or back (-1)."""
    while 0 <= i < len(lines) and not lines[i].strip():
        i += step
    paragraph = []
    while 0 <= i < len(lines) and lines[i].strip() and not lines[i].startswith("    "):
        paragraph.append(lines[i])
        i += step
    return " ".join(paragraph[::step])


def stated_output(lines, start, page, whole):
    """What a `prints` marker states: the lines of the code block after it,
    or each `code span` of the paragraph after it. Shown in part, the page
    says so in words, in that paragraph or the one before the marker."""
    block = code_block(lines, start)
    prose = paragraph_at(lines, start, 1) if not block else ""
    if not whole and not SAYS_PART.search(prose + " " + paragraph_at(lines, start - 2, -1)):
        raise SystemExit(f"{page}:{start}: the page shows some lines of the output but does "
                         "not say so ('among' or 'besides' them, before the lines)")
    if block:
        return block[1]
    spans = re.findall(r"`([^`]+)`", prose)
    if not spans:
        raise SystemExit(f"{page}:{start}: a prints marker with neither a code block nor "
                         "a `code span` after it")
    return spans


def read_examples(path):
    page = os.path.relpath(path, SOURCE)
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    examples = []
    for i, line in enumerate(lines):
        marker = EXAMPLE.fullmatch(line.strip())
        if marker:
            kind, needs = marker.groups()
            if kind not in KINDS:
                raise SystemExit(f"{page}:{i + 1}: unknown example kind {kind!r} (one of {KINDS})")
            if needs not in (None, "octave", "python"):
                raise SystemExit(f"{page}:{i + 1}: an example can need octave or python, not {needs!r}")
            block = code_block(lines, i + 1)
            if not block:
                raise SystemExit(f"{page}:{i + 1}: an example marker without a code block after it")
            examples.append(Example(page, block[0], kind, needs, block[1]))
            if kind == "transcript":
                examples[-1].expected = [l for l in block[1] if not l.startswith("$ ")]
        elif PRINTS.fullmatch(line.strip()):
            if not examples:
                raise SystemExit(f"{page}:{i + 1}: a prints marker before any example")
            examples[-1].whole = PRINTS.fullmatch(line.strip()).group(1) is None
            examples[-1].expected = stated_output(lines, i + 1, page, examples[-1].whole)
        elif LOOKS_LIKE_MARKER.fullmatch(line.strip()):
            raise SystemExit(f"{page}:{i + 1}: not a marker: {line.strip()!r} (see docs/contributing.md)")
    return examples


def all_examples():
    pages = [os.path.join(SOURCE, "README.md")] + sorted(glob.glob(os.path.join(SOURCE, "docs", "*.md")))
    return [e for page in pages for e in read_examples(page)]


def without_build_steps(example):
    step = BUILD_STEPS.get(example.kind)
    return [l for l in example.code if not (step and step.match(l))]


def missing_lines(expected, output):
    """The first stated line not found, in order, among the output's lines."""
    lines = iter(line.rstrip() for line in output.splitlines())
    for want in expected:
        if not any(line == want.rstrip() for line in lines):
            return want
    return None


def trimmed(lines):
    """Lines without trailing blanks, and without blank lines at either end."""
    lines = [line.rstrip() for line in lines]
    while lines and not lines[0]:
        lines.pop(0)
    while lines and not lines[-1]:
        lines.pop()
    return lines


def difference(expected, output):
    """Where the whole output differs from the stated lines, or None."""
    want, got = trimmed(expected), trimmed(output.splitlines())
    for k, (a, b) in enumerate(zip(want, got)):
        if a != b:
            return f"line {k + 1} is {b!r}, the page says {a!r}"
    if len(want) != len(got):
        return (f"it prints {len(got)} lines, the page shows {len(want)} (show them all, or "
                "mark the lines as some among others)")
    return None


class Workspace:
    """A folder laid out like the source root, as a user's would be after a
    build: data/ and the toolbox as in the source, build/ the build under
    test, the toolbox holding the built Octave modules as make.m leaves them."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="qir-examples-")
        os.symlink(os.path.realpath(os.path.join(SOURCE, "data")), os.path.join(self.root, "data"))
        os.symlink(os.path.realpath(BUILD), os.path.join(self.root, "build"))
        toolbox = os.path.join(self.root, "toolbox")
        os.mkdir(toolbox)
        source_toolbox = os.path.realpath(os.path.join(SOURCE, "toolbox"))
        for name in os.listdir(source_toolbox):
            if not name.endswith((".mex", ".oct")) and not name.startswith(".") and \
                    name != "private":
                os.symlink(os.path.join(source_toolbox, name), os.path.join(toolbox, name))
        private = os.path.join(toolbox, "private")
        os.mkdir(private)
        for name in os.listdir(os.path.join(source_toolbox, "private")):
            if name.endswith(".m"):
                os.symlink(os.path.join(source_toolbox, "private", name), os.path.join(private, name))
        modules = os.environ.get("QIR_OCTAVE_MODULES")
        if modules:
            for name in ("qir_train", "qir_perf"):
                os.symlink(os.path.join(modules, name + ".mex"), os.path.join(toolbox, name + ".mex"))
                os.symlink(os.path.join(source_toolbox, "help", name + ".m"),
                           os.path.join(toolbox, name + ".m"))
        gateway = os.environ.get("QIR_GATEWAY")
        if gateway:
            os.symlink(gateway, os.path.join(private, os.path.basename(gateway)))
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("QIR_") and k != "PYTHONPATH"}
        self.env["HOME"] = self.root
        self.env["PATH"] = os.path.join(self.root, "build", "bin") + os.pathsep + os.environ["PATH"]

    def run(self, command):
        try:
            return subprocess.run(command, cwd=self.root, env=self.env, text=True,
                                  capture_output=True, timeout=STEP_TIMEOUT)
        except subprocess.TimeoutExpired as stopped:
            def text(out):
                return out.decode(errors="replace") if isinstance(out, bytes) else out or ""
            return subprocess.CompletedProcess(
                command, "timeout", text(stopped.stdout),
                text(stopped.stderr) + f"\n(stopped after {STEP_TIMEOUT} s)\n")

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def failed(example, status, text):
    return f"{example.where()} failed with status {status}:\n{text}"


def check(example, output, stderr=""):
    """A failure message, or None: a stated line the output lacks."""
    if SHOW:
        print(f"--- {example.where()} printed:\n{output}")
    if example.whole and example.expected:
        differs = difference(example.expected, output)
        if differs is None:
            return None
        return (f"{example.where()} prints other than the page shows: {differs}. "
                f"It printed:\n{output}{stderr}")
    missing = missing_lines(example.expected, output)
    if missing is None:
        return None
    return (f"{example.where()} does not print the line {missing!r} that the page states "
            f"(update the page if the figure changed). It printed:\n{output}{stderr}")


def check_run(example, result):
    if result.returncode != 0 and example.kind != "transcript":
        return failed(example, result.returncode, result.stdout + result.stderr)
    return check(example, result.stdout, result.stderr)


def run_shell(example, work):
    result = work.run(["bash", "-e", "-o", "pipefail", "-c", "\n".join(without_build_steps(example))])
    return check_run(example, result)


def run_transcript(example, work):
    commands = [l[2:] for l in example.code if l.startswith("$ ")]
    result = work.run(["bash", "-c", "\n".join(f"{c} 2>&1" for c in commands)])
    return check_run(example, result)


def run_python(example, work):
    script = os.path.join(work.root, f"example_{example.line}.py")
    with open(script, "w", encoding="utf-8") as f:
        f.write("\n".join(example.code) + "\n")
    work.env["PYTHONPATH"] = os.path.join(work.root, "build", "python")
    result = work.run([os.environ.get("QIR_PYTHON", "/usr/bin/python3"), script])
    return check_run(example, result)


def run_octave_session(examples, work):
    """The Octave examples of one page, pasted one after the other into one
    session. Each example's output is told apart by a line printed before it."""
    parts = ["more off; set(0, 'defaultfigurevisible', 'off');"]
    for k, example in enumerate(examples):
        script = os.path.join(work.root, f"example_{example.line}.m")
        with open(script, "w", encoding="utf-8") as f:
            f.write("\n".join(without_build_steps(example)) + "\n")
        parts.append(f"printf('\\n@@example {k}\\n'); source('{script}');")
    octave = os.environ.get("QIR_OCTAVE_CLI", "octave-cli")
    result = work.run([octave, "--no-gui", "--norc", "--no-history", "--quiet", "--no-window-system",
                       "--eval", "\n".join(parts)])
    outputs = re.split(r"^@@example (\d+)\n", result.stdout, flags=re.M)
    printed = {int(outputs[i]): outputs[i + 1] for i in range(1, len(outputs) - 1, 2)}
    failures = [check(examples[k], printed[k], result.stderr) for k in sorted(printed)]
    failures = [f for f in failures if f]
    if result.returncode != 0:
        # The example that was running when Octave stopped.
        k = max(printed, default=0)
        failures.append(failed(examples[k], result.returncode, printed.get(k, "") + result.stderr))
    return failures


def main():
    group = sys.argv[1]
    examples = [e for e in all_examples() if e.group == group]
    if not examples:
        print(f"no {group} examples in README.md or docs/*.md")
        return 1
    failures = []
    work = Workspace()
    try:
        sessions = {}
        for example in examples:
            if example.kind == "octave":
                sessions.setdefault(example.page, []).append(example)
                continue
            runner = {"shell": run_shell, "transcript": run_transcript, "python": run_python}
            message = runner[example.kind](example, work)
            print(f"{example.where()}: {'FAILED' if message else 'ok'}")
            if message:
                failures.append(message)
        for page, session in sessions.items():
            messages = run_octave_session(session, work)
            print(f"{page}: {len(session)} Octave examples in one session: "
                  f"{'FAILED' if messages else 'ok'}")
            failures += messages
    finally:
        work.close()
    for message in failures:
        print("\nFAIL: " + message)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
