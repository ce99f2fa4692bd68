"""The stream demo in Python: the digits fed to partial_fit in batches (the
batches of `qir demo --stream`, dealt by the library), a class arriving
halfway, beside a refit on all data so far; prints a table and writes the
command's line chart.

    python3 -m qir.stream_demo [-o qir-stream.svg] [--batches 10] [--data DIR]
"""
import argparse
import os
import time
import warnings

import numpy as np

from . import _qir
from ._core import QIRWarning
from .classifier import QIRClassifier

STREAM_SEED = 1


def _timed(work):
    start = time.perf_counter()
    result = work()
    return result, time.perf_counter() - start


def run(batches=10, data=None, output="qir-stream.svg", print=print):
    """Feeds the digits in `batches` batches; returns one dict per batch
    (seen, nodes, continued and refit accuracy, the three training times)."""
    digits = np.loadtxt(os.path.join(data or _qir.bundled_data_folder(), "digits.csv"),
                        delimiter=",")
    X, y = digits[:, :-1], digits[:, -1].astype(int)
    test, stream, late_class, late_batch = _qir.stream_plan(y.astype(float), batches,
                                                            STREAM_SEED)
    print(f"QIR stream demo in Python: digits in {len(stream)} batches, class "
          f"{late_class:g} from batch {late_batch + 1} on; {len(test)} patterns kept for testing")
    print("Batch   Seen  Nodes  Continued  Time (s)  Alone (s)   Refit  Time (s)")
    # Min-max, as the command's demo scales: the refit's scaling then never
    # turns with the batches seen.
    model = QIRClassifier(oflag=0, scale=True)
    seen = np.empty(0, dtype=np.intp)
    rows = []
    for b, batch in enumerate(stream):
        seen = np.concatenate([seen, batch])
        _, continued_s = _timed(lambda: model.partial_fit(X[batch], y[batch]))
        with warnings.catch_warnings():  # the digits' blank pixels are no news here
            warnings.simplefilter("ignore", QIRWarning)
            _, alone_s = _timed(lambda: QIRClassifier(oflag=0, scale=True).fit(X[batch], y[batch]))
            refit, refit_s = _timed(lambda: QIRClassifier(oflag=0, scale=True).fit(X[seen], y[seen]))
        row = {"seen": len(seen), "nodes": sum(len(nodes) for nodes, _ in model.members_),
               "continued": 100 * model.score(X[test], y[test]),
               "refit": 100 * refit.score(X[test], y[test]),
               "continued_s": continued_s, "alone_s": alone_s, "refit_s": refit_s}
        print(f"{b + 1:5d} {row['seen']:6d} {row['nodes']:6d}  {row['continued']:8.1f}% "
              f"{continued_s:9.3f} {alone_s:10.3f}  {row['refit']:6.1f}% {refit_s:9.3f}")
        rows.append(row)
    print(f"After the last batch: continued {rows[-1]['continued']:.1f}%, one fit on all "
          f"{rows[-1]['seen']} patterns {rows[-1]['refit']:.1f}%")
    if output:
        column = lambda key: [row[key] for row in rows]
        svg = _qir.line_chart(
            f"QIR stream demo (Python): digits in {len(stream)} batches", "batch",
            [float(b + 1) for b in range(len(rows))],
            [(f"Accuracy on {len(test)} test patterns", "accuracy (%)",
              [("continued (partial_fit)", column("continued"), False),
               ("refit on all data so far", column("refit"), True)], False),
             ("Training time", "seconds",
              [("continued (partial_fit)", column("continued_s"), False),
               ("refit on all data so far", column("refit_s"), True),
               ("fit on the batch alone", column("alone_s"), True)], True)],
            float(late_batch + 1), f"class {late_class:g} appears")
        with open(output, "w") as f:
            f.write(svg)
        print(f"Picture written to {output}")
    return rows


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m qir.stream_demo",
                                     description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", default="qir-stream.svg")
    parser.add_argument("--batches", type=int, default=10)
    parser.add_argument("--data", default=None, help="folder of digits.csv")
    args = parser.parse_args(argv)
    run(args.batches, args.data, args.output)


if __name__ == "__main__":
    main()
