#include "csv.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "../base/errors.h"
#include "../base/number_text.h"

namespace qir {
namespace {

std::string where(const std::string &path, int line) {
  return path + ":" + std::to_string(line) + ": ";
}

std::vector<std::string_view> split(std::string_view line, char delimiter) {
  std::vector<std::string_view> cells;
  if (delimiter == ' ') {
    const char *blanks = " \t\r";
    for (std::size_t start = line.find_first_not_of(blanks); start != std::string_view::npos;) {
      const std::size_t end = line.find_first_of(blanks, start);
      cells.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
      start = end == std::string_view::npos ? end : line.find_first_not_of(blanks, end);
    }
    return cells;
  }
  for (std::size_t start = 0;;) {
    const std::size_t end = line.find(delimiter, start);
    cells.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return cells;
    start = end + 1;
  }
}

char find_delimiter(std::string_view line) {
  for (char candidate : {',', ';', '\t'})
    if (line.find(candidate) != std::string_view::npos) return candidate;
  return ' ';
}

// A class name: text that starts with a letter (or '_', or any non-ASCII
// character), so that a mistyped number is never taken for a name.
bool name_like(const std::string &text) {
  const unsigned char first = text.empty() ? 0 : static_cast<unsigned char>(text.front());
  return std::isalpha(first) != 0 || first == '_' || first >= 0x80;
}

std::string unquoted(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = std::string(trim(text.substr(1, text.size() - 2)));
  return text;
}

bool all_words(const std::vector<std::string_view> &cells) {
  for (auto cell : cells)
    if (trim(cell).empty() || parse_number(cell)) return false;
  return true;
}

// Reading state: the rows so far and whether the label column holds text.
struct Reader {
  Table table;
  bool header_skipped = false;
  int first_text_line = 0, first_number_line = 0;

  void cell(std::string_view cell, std::size_t column, bool last, int line_number,
            std::vector<double> &row) {
    // Most cells are plain numbers: only the others need their names.
    if (!last)
      if (const auto value = parse_number(cell); value && std::isfinite(*value)) {
        row.push_back(*value);
        return;
      }
    const std::string name = "column " + std::to_string(column + 1);
    const std::string text(trim(cell));
    if (text.empty())
      throw InputError(where(table.path, line_number) + name + " is empty" + missing_advice);
    const auto value = parse_number(text);
    if (value && !std::isfinite(*value))
      throw InputError(where(table.path, line_number) + name + ": '" + text +
                       "' is not a finite number" + missing_advice);
    if (!value && !(last && name_like(unquoted(text))))
      throw InputError(where(table.path, line_number) + name + ": '" + text + "' is not a number" +
                       (!header_skipped && line_number == table_first_line() && name_like(text)
                            ? header_advice()
                            : ""));
    if (last) note_label_kind(value.has_value(), line_number, unquoted(text), name);
    row.push_back(value.value_or(0));
  }

  int table_first_line() const { return table.lines.empty() ? 0 : table.lines.front(); }
  static std::string header_advice() { return " (a header line? give --header)"; }
  // Missing values have no place in the patterns.
  static constexpr const char *missing_advice = "; fill in the value or drop the line";

  void note_label_kind(bool number, int line_number, const std::string &text,
                       const std::string &name) {
    int &first = number ? first_number_line : first_text_line;
    if (first == 0) first = line_number;
    if (first_text_line != 0 && first_number_line != 0)
      throw InputError(where(table.path, line_number) + name + ": '" + text + "' is " +
                       (number ? "a number" : "not a number") + ", but line " +
                       std::to_string(number ? first_text_line : first_number_line) +
                       "'s label is " + (number ? "a name" : "a number"));
    if (!number) table.last_text.push_back(text);
  }

  void row(std::string_view line, char delimiter, int line_number) {
    const auto cells = split(line, delimiter);
    if (!table.rows.empty() && cells.size() != table.columns())
      throw InputError(where(table.path, line_number) + std::to_string(cells.size()) +
                       " columns, but line " + std::to_string(table.lines.front()) + " has " +
                       std::to_string(table.columns()));
    table.lines.push_back(line_number);  // before the cells, for the header advice
    std::vector<double> values;
    values.reserve(cells.size());
    for (std::size_t k = 0; k < cells.size(); ++k)
      cell(cells[k], k, k + 1 == cells.size(), line_number, values);
    table.rows.push_back(std::move(values));
  }
};

}  // namespace

std::string read_text_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw InputError(path + ": cannot open file (" + std::strerror(errno) + ")");
  // Whole blocks at a time into room for the whole file (when its size is
  // known): copying the stream through a string stream took longer than
  // parsing a large data file.
  std::string text;
  if (file.seekg(0, std::ios::end))
    if (const auto size = file.tellg(); size > 0) text.reserve(static_cast<std::size_t>(size));
  file.clear();
  file.seekg(0, std::ios::beg);
  file.clear();
  std::vector<char> block(1 << 16);
  while (file.read(block.data(), static_cast<std::streamsize>(block.size())) || file.gcount() > 0)
    text.append(block.data(), static_cast<std::size_t>(file.gcount()));
  if (file.bad()) throw InputError(path + ": cannot read file");
  return text;
}

Table parse_csv(const std::string &text, const std::string &path, const CsvFormat &format) {
  Reader reader;
  reader.table.path = path;
  char delimiter = format.delimiter;
  bool header_pending = true;
  int line_number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++line_number;
    if (trim(line).empty()) continue;
    if (delimiter == 0) delimiter = find_delimiter(line);
    if (header_pending) {
      header_pending = false;
      const auto cells = split(line, delimiter);
      if (format.header || all_words(cells)) {
        reader.header_skipped = true;
        for (auto cell : cells) reader.table.header.push_back(unquoted(std::string(trim(cell))));
        continue;
      }
    }
    reader.row(line, delimiter, line_number);
  }
  if (reader.table.rows.empty())
    throw InputError(path + ":1: no data rows (the file is empty)");
  return std::move(reader.table);
}

Table read_csv(const std::string &path, const CsvFormat &format) {
  return parse_csv(read_text_file(path), path, format);
}

char delimiter_named(const std::string &name) {
  if (name == "," || name == "comma") return ',';
  if (name == ";" || name == "semicolon") return ';';
  if (name == "tab" || name == "\t") return '\t';
  if (name == "space" || name == "blank" || name == " ") return ' ';
  throw UsageError("option --delimiter takes ',', ';', 'tab' or 'space', not '" + name + "'");
}

std::string format_column(const std::vector<double> &values) {
  std::string text;
  for (double value : values) text += format_number(value) + "\n";
  return text;
}

}  // namespace qir
