// Reading and writing the numeric delimited files the commands use.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace qir {

// How to read a data file. By default the delimiter is found on the first
// line (a comma, else a semicolon, else a tab, else runs of blanks as
// Octave's `save -ascii` writes them), and a first line of nothing but
// words is a header.
struct CsvFormat {
  char delimiter = 0;  // 0: find it; ' ': runs of blanks and tabs
  bool header = false; // the first line is a header, whatever it holds
  bool find_header = true;  // without `header`: a first line of words is one
};

// A rectangular table read from a file, with the line number each row came
// from so later checks can point at it. Every cell is a finite number,
// except that the last column may hold text in every row (class names).
// The rows lie one after another in one block: no allocation per row.
struct Table {
  std::string path;
  std::vector<double> values;           // row after row; a text cell is held as 0
  std::size_t width = 0;                // values per row
  std::vector<int> lines;               // one per row
  std::vector<std::string> last_text;   // the last column's text, when it holds names
  std::vector<std::string> header;      // the header line's cells, when one was skipped
  std::size_t rows() const { return lines.size(); }
  std::size_t columns() const { return lines.empty() ? 0 : width; }
  const double *row(std::size_t r) const { return values.data() + r * width; }
  bool text_labels() const { return !last_text.empty(); }
};

// Reads `path`: one row per non-blank line, blanks around cells ignored.
// Throws InputError naming the file and line for a missing file, a
// non-numeric or non-finite cell, a row whose length differs from the first
// row's, and a file without rows.
Table read_csv(const std::string &path, const CsvFormat &format = {});

// Reads a data file a block of rows at a time, as read_csv reads it whole:
// the same rows, header and errors, each error when the block that holds
// it is read, so that a large file need never be held whole.
class CsvReader {
 public:
  // Opens `path`, to be read `read_size` bytes at a time; throws
  // InputError as read_csv does when it can't.
  CsvReader(const std::string &path, const CsvFormat &format = {},
            std::size_t read_size = 1 << 20);
  // Reads `text` that came from `path`.
  CsvReader(std::string text, const std::string &path, const CsvFormat &format = {});
  ~CsvReader();
  CsvReader(CsvReader &&) noexcept;

  // The next rows, at most `rows` of them (0: all that are left), into
  // `block`: its path and header are the file's, its rows, lines and
  // last_text this block's alone. False, with the block empty, when no row
  // is left. Throws InputError as read_csv does, "no data rows" included.
  bool next(Table &block, std::size_t rows = 0);

  // Reads every record the general way, cell by cell, as records with
  // quotes are read: the reference the quick scan of plain numeric records
  // is held to (tests).
  void general_records_only();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Parses text that came from `path` (used by read_csv; separate for tests).
Table parse_csv(const std::string &text, const std::string &path, const CsvFormat &format = {});

// The delimiter named on the command line: ",", ";", "tab" or "space".
char delimiter_named(const std::string &name);

// A name as one cell of a delimited file: quoted (its quotes doubled) when
// it holds a delimiter, a quote, a line end or blanks at either end, or
// would not read as a name unquoted, so that read_csv gives it back.
std::string csv_cell(const std::string &text);

// One value per line, in the exact round-trip form.
std::string format_column(const std::vector<double> &values);

// Whole file as text; throws InputError naming the file when it can't be read.
std::string read_text_file(const std::string &path);

}  // namespace qir
