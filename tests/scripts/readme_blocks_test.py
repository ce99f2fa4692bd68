#!/usr/bin/env python3
"""The README's shell blocks, run in README order in one clean copy of the
tree (the files git tracks), as a new user pastes them: the demo script,
the test script, the Install block, the command-line example; and once
more without the test script, as a user who only tries the demo first. Builds and
test runs are what takes long, and they are not what goes wrong when the
blocks meet: the scripts run with QIR_CONFIGURE_ONLY=1 (they stop after
configuring), every `cmake -S` line configures for real, and `cmake
--build`/`--install` and the lines that need their results are listed as
left out. Afterwards every build folder must hold what a fresh configure
gives it: the Install block's `build/` builds the Octave modules and the
Python package wherever a fresh configure would."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("QIR_SOURCE_ROOT", os.path.join(os.path.dirname(__file__), "..", ".."))
CMAKE = os.environ.get("QIR_CMAKE", "cmake")
SKIPPED = 77
OPTIONS = ("QIR_OCTAVE", "QIR_PYTHON", "QIR_MATLAB", "QIR_SANITIZE")
# The targets that tell that the modules for Octave and the Python package
# are built (when a fresh configure builds them).
TARGETS = ("qir", "qir_train_octave", "_qir")


def readme_blocks(path):
    """The README's code blocks in order, each as (its line, its lines),
    leaving out those marked as Octave or Python examples."""
    lines = open(path, encoding="utf-8").read().split("\n")
    blocks, i, marker = [], 0, None
    while i < len(lines):
        line = lines[i]
        if line.strip().startswith("<!--"):
            marker = line
        elif line.startswith("    ") and (i == 0 or not lines[i - 1].strip()
                                          or lines[i - 1].strip().startswith("<!--")):
            start = i
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                i += 1
            if not marker or not re.search(r"example:\s*(octave|python)", marker):
                blocks.append((start + 1, [l[4:] for l in lines[start:i] if l.strip()]))
            marker = None
            continue
        elif line.strip():
            marker = None
        i += 1
    return blocks


def commands(block):
    """A block's shell commands: its lines split at `&&`, comments removed;
    a heredoc's body is part of its command."""
    found, lines = [], iter(block)
    for line in lines:
        text = re.sub(r"\s+#.*$", "", line).strip()
        heredoc = re.search(r"<<'?(\w+)'?", text)
        if heredoc:
            for body in lines:
                if body.strip() == heredoc.group(1):
                    break
        found += [part.strip() for part in text.split("&&") if part.strip()]
    return found


def cache(folder):
    values = {}
    path = os.path.join(folder, "CMakeCache.txt")
    for line in open(path, encoding="utf-8", errors="replace"):
        name = line.split(":", 1)[0]
        if name in OPTIONS:
            values[name] = line.strip().split("=", 1)[1].upper() in ("ON", "1", "TRUE", "YES")
    return values


def targets(folder):
    result = subprocess.run([CMAKE, "--build", folder, "--target", "help"], capture_output=True,
                            text=True, timeout=120)
    listed = set(re.findall(r"^\.\.\. (\S+)", result.stdout, re.M))
    return {name for name in TARGETS if name in listed}


def copy_tree(work, name):
    """The files git tracks, copied as they stand (a clean clone of the
    work in progress)."""
    tree = os.path.join(work, name)
    files = subprocess.run(["git", "-C", SOURCE, "ls-files", "-z"], capture_output=True,
                           check=True, timeout=60).stdout.decode().split("\0")
    for file in filter(None, files):
        if os.path.isfile(os.path.join(SOURCE, file)):
            os.makedirs(os.path.dirname(os.path.join(tree, file)), exist_ok=True)
            shutil.copy2(os.path.join(SOURCE, file), os.path.join(tree, file))
    return tree


def run_blocks(tree, work, leave_out=()):
    """Runs the README's blocks in order (but the commands in `leave_out`);
    returns the failures."""
    env = dict(os.environ, QIR_CONFIGURE_ONLY="1", HOME=work)
    left_out = []
    for line, block in readme_blocks(os.path.join(tree, "README.md")):
        for command in commands(block):
            words = command.split()
            runs = (words[:2] == ["bash", "scripts/run-demo.sh"]
                    or words[:2] == ["bash", "scripts/run-tests.sh"]
                    or (words[0] == "cmake" and "-S" in words))
            if not runs or command in leave_out:
                left_out.append(f"README.md:{line}: {command}")
                continue
            if words[0] == "cmake":
                words[0] = CMAKE
            print(f"README.md:{line}: {command}", flush=True)
            result = subprocess.run(words, cwd=tree, env=env, capture_output=True, text=True,
                                    timeout=600)
            if result.returncode != 0:
                return [f"README.md:{line}: '{command}' failed:\n{result.stdout}{result.stderr}"]
    print("left out:\n  " + "\n  ".join(left_out))
    build = os.path.join(tree, "build")
    if not os.path.isdir(build):
        return ["the README's blocks configure no build/ folder"]
    # What a fresh configure of the same tree gives, in a folder of its own.
    fresh = os.path.join(tree, "build-fresh")
    subprocess.run([CMAKE, "-S", tree, "-B", fresh], capture_output=True, check=True, timeout=600)
    failures = []
    want, have = cache(fresh), cache(build)
    for name in OPTIONS:
        if have.get(name) != want.get(name):
            failures.append(f"build/ has {name}={'ON' if have.get(name) else 'OFF'} after the "
                            f"README's blocks; a fresh configure gives "
                            f"{'ON' if want.get(name) else 'OFF'}")
    missing = targets(fresh) - targets(build)
    if missing:
        failures.append(f"build/ does not build {', '.join(sorted(missing))}, which a fresh "
                        "configure builds")
    if "qir" not in targets(fresh):
        failures.append("a fresh configure builds no qir command")
    print(f"targets of build/: {', '.join(sorted(targets(build)))}")
    return failures


def main():
    if not shutil.which("git") or not os.path.exists(os.path.join(SOURCE, ".git")):
        print("not a git tree, or no git: skipped")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="qir-readme-")
    failures = []
    try:
        # Every block in order; then as a user who tries only the demo
        # before installing (the test script is the longer of the two).
        for name, leave_out in (("all", ()), ("demo", ("bash scripts/run-tests.sh",))):
            print(f"-- README order, {name}")
            failures += [f"({name}) {f}" for f in
                         run_blocks(copy_tree(work, name), work, leave_out)]
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
