"""QIRClassifier's keywords and help against the library's parameter table
(lib/model/parameters.h), so that a new parameter or a changed default or
range cannot leave the Python side behind."""
import inspect

import qir
from qir import _core

TABLE = _core.parameter_table()
SIGNATURE = inspect.signature(qir.QIRClassifier).parameters


def test_every_parameter_is_a_keyword_with_the_tables_default():
    assert TABLE, "the table is empty"
    for row in TABLE:
        assert row["python"] in SIGNATURE, row["name"]
        given = SIGNATURE[row["python"]].default
        # None leaves the value to the library (the data, or its seed).
        if isinstance(given, str):  # a choice's word
            given = row["choices"].split("|").index(given)
        if given is not None and row["default"] is not None:
            assert float(given) == row["default"], row["name"]


def test_the_help_gives_each_keyword_its_range_and_default():
    doc = qir.QIRClassifier.__doc__
    for row in TABLE:
        keyword = row["python"]
        lines = [line for line in doc.splitlines() if line.strip().startswith(keyword + " :")]
        assert len(lines) == 1, f"{keyword}: {len(lines)} entries in the help"
        assert f"default {SIGNATURE[keyword].default}" in lines[0], lines[0]
        if not row["whole"]:
            assert row["range_text"] in lines[0], lines[0]
