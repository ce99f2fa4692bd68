// Reading and writing the numeric comma-separated files the commands use.
#pragma once

#include <string>
#include <vector>

namespace qircli {

// A rectangular table of finite numbers read from a file, with the line
// number each row came from so later checks can point at it.
struct Table {
  std::string path;
  std::vector<std::vector<double>> rows;
  std::vector<int> lines;
  std::size_t columns() const { return rows.empty() ? 0 : rows.front().size(); }
};

// Reads `path`: one row per non-blank line, cells separated by commas,
// blanks around cells ignored. Throws InputError naming the file and line
// for a missing file, a non-numeric or non-finite cell, a row whose length
// differs from the first row's, and a file without rows.
Table read_csv(const std::string &path);

// Parses text that came from `path` (used by read_csv; separate for tests).
Table parse_csv(const std::string &text, const std::string &path);

// One value per line, in the exact round-trip form.
std::string format_column(const std::vector<double> &values);

// Whole file as text; throws InputError naming the file when it can't be read.
std::string read_text_file(const std::string &path);

}  // namespace qircli
