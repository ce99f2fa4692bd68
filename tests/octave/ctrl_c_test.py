#!/usr/bin/env python3
"""Ctrl-C in an interactive GNU Octave session: a training call that would
run for minutes ends within seconds with "QIR_TRAIN: Interrupted.", the
prompt comes back, and the next call gives the same result as before the
interrupt. Likewise for a long classification, and for qir_fit, whose
members the toolbox's gateway trains through this session's qir_train.
Octave runs under a pseudo-terminal, as a user's session does. Usage:
ctrl_c_test.py (the environment names octave-cli as QIR_OCTAVE_CLI, the
module folder as QIR_OCTAVE_MODULES and the build's toolbox as QIR_TOOLBOX)."""
import os
import pty
import select
import signal
import sys
import time

OCTAVE = os.environ.get("QIR_OCTAVE_CLI", "octave-cli")
MODULES = os.environ["QIR_OCTAVE_MODULES"]
TOOLBOX = os.environ["QIR_TOOLBOX"]
# Pieced together in Octave, so that the echoed input never shows it.
PROMPT = b"qir-ready> "
# How soon the prompt must be back after Ctrl-C: promptly, with room for a
# busy machine (CI runs other jobs on the same cores).
PROMPTLY = 5.0

SETUP = (
    "more off; page_output_immediately(true); PS1(['qir-' 'ready> ']);"
    f"addpath('{MODULES}'); addpath('{TOOLBOX}');"
    # Every point twice, under two labels: training never converges and
    # grows without end (minutes before the presentation limit).
    "P = [(0:299)'/300, 0.5*ones(300,1)]; P = [P; P]; L = [ones(300,1); 2*ones(300,1)];"
    "small = @() qir_train(P(1:40:end,:), L(1:40:end), 1, 0.5, 0, 0.001, 1, 5, 0, 0, 0);"
    "[T0, N0, C0] = small();"
    "T = [(0:1999)'/2000, 0.5*ones(2000,1), zeros(2000,2), 0.01*ones(2000,1)];"
    "same = @(yes) disp(['SAME-' char('NY'(yes + 1))]);"
    "X = [rand(400000,1), 0.5*ones(400000,1)]; labels0 = qir_perf(T, mod(0:1999,3)', 1, 0.5, 0, 0, 0, X(1:1000,:), -1, 0);"
    "fit = @() qir_fit(P(1:40:end,:), L(1:40:end), 'Voters', 3, 'MaxPresentations', 5, 'Oflag', 0);"
    "fit0 = fit();"
    "disp(['SETUP-' 'DONE'])"
)

# A long call, Ctrl-C, and the check that follows it.
CASES = [
    ("training",
     "[T, N, C] = qir_train(P, L, 1, 0.5, 0, 0.001, 1, 1e6, 0, 0, 0); disp('not interrupted')",
     "QIR_TRAIN: Interrupted.",
     "[T1, N1, C1] = small(); same(isequal(T0, T1) && isequal(N0, N1) && isequal(C0, C1))"),
    ("classification",
     "for k = 1:100, y = qir_perf(T, mod(0:1999,3)', 1, 0.5, 0, 0, 0, X, -1, 0); end; disp('not interrupted')",
     "QIR_PERF: Interrupted.",
     "same(isequal(labels0, qir_perf(T, mod(0:1999,3)', 1, 0.5, 0, 0, 0, X(1:1000,:), -1, 0)))"),
    ("qir_fit",
     "m = qir_fit(P, L, 'D', 1, 'Ratio', 0.5, 'Alpha', 0.001, 'MaxPresentations', 1e6, "
     "'Voters', 3, 'Oflag', 0); disp('not interrupted')",
     "QIR_TRAIN: Interrupted.",
     "same(isequal(fit0, fit()))"),
]


class Session:
    def __init__(self):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execvp(OCTAVE, [OCTAVE, "--no-gui", "--norc", "--no-history", "--quiet"])
        self.seen = b""

    def read_until(self, needle, timeout):
        """Output up to and including `needle`, or None after `timeout` s."""
        end = time.monotonic() + timeout
        while needle not in self.seen:
            left = end - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:
                    return None
                if not chunk:
                    return None
                self.seen += chunk
        at = self.seen.index(needle) + len(needle)
        text, self.seen = self.seen[:at], self.seen[at:]
        return text.decode(errors="replace")

    def read_past(self, output, timeout):
        """Output up to and including the prompt that follows `output`, or
        None after `timeout` s. The prompt alone is not enough: readline
        redraws it within the echoed input on a terminal that cannot move
        the cursor (TERM unset or dumb), for instance to show a matching
        bracket."""
        end = time.monotonic() + timeout
        text = self.read_until(output, timeout)
        if text is None:
            return None
        rest = self.read_until(PROMPT, max(end - time.monotonic(), 0.01))
        return None if rest is None else text + rest

    def send(self, text):
        os.write(self.fd, text.encode())

    def close(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)


def fail(session, message):
    session.close()
    print("FAIL: " + message)
    sys.exit(1)


def main():
    session = Session()
    if session.read_until(b">", 60) is None:
        fail(session, "no Octave prompt")
    session.send(SETUP + "\n")
    if session.read_past(b"SETUP-DONE", 120) is None:
        fail(session, f"setup did not finish: {session.seen!r}")
    for name, call, message, check in CASES:
        session.send(call + "\n")
        # Let the call get well under way, then press Ctrl-C.
        time.sleep(3)
        session.send("\x03")
        pressed = time.monotonic()
        text = session.read_past(message.encode(), PROMPTLY)
        if text is None or "not interrupted\r" in text:
            fail(session, f"{name}: expected {message!r} and the prompt within {PROMPTLY:.0f} s of Ctrl-C, "
                          f"got {session.seen!r}")
        waited = time.monotonic() - pressed
        session.send(check + "\n")
        text = session.read_past(b"SAME-", 60)
        if text is None or not text.split("SAME-")[-1].startswith("Y"):
            fail(session, f"{name}: the next call differs: {text or session.seen!r}")
        print(f"{name}: interrupted, prompt back in {waited:.3f} s, next call unchanged")
    session.send("exit\n")
    session.close()


if __name__ == "__main__":
    main()
