#include "csv.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "errors.h"
#include "number_text.h"

namespace qircli {
namespace {

std::string where(const std::string &path, int line) {
  return path + ":" + std::to_string(line) + ": ";
}

std::vector<double> parse_row(std::string_view line, const std::string &path, int line_number) {
  std::vector<double> row;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = line.find(',', start);
    const std::string_view cell = line.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const auto value = parse_number(cell);
    const std::string column = "column " + std::to_string(row.size() + 1);
    if (trim(cell).empty()) throw InputError(where(path, line_number) + column + " is empty");
    if (!value)
      throw InputError(where(path, line_number) + column + ": '" + std::string(trim(cell)) +
                       "' is not a number");
    if (!std::isfinite(*value))
      throw InputError(where(path, line_number) + column + ": '" + std::string(trim(cell)) +
                       "' is not a finite number");
    row.push_back(*value);
    if (comma == std::string_view::npos) return row;
    start = comma + 1;
  }
}

void check_width(const Table &table, std::size_t width, int line_number) {
  if (table.rows.empty() || width == table.columns()) return;
  throw InputError(where(table.path, line_number) + std::to_string(width) + " columns, but line " +
                   std::to_string(table.lines.front()) + " has " + std::to_string(table.columns()));
}

}  // namespace

std::string read_text_file(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw InputError(path + ": cannot open file (" + std::strerror(errno) + ")");
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw InputError(path + ": cannot read file");
  return text.str();
}

Table parse_csv(const std::string &text, const std::string &path) {
  Table table;
  table.path = path;
  std::istringstream stream(text);
  std::string line;
  for (int line_number = 1; std::getline(stream, line); ++line_number) {
    if (trim(line).empty()) continue;
    std::vector<double> row = parse_row(line, path, line_number);
    check_width(table, row.size(), line_number);
    table.rows.push_back(std::move(row));
    table.lines.push_back(line_number);
  }
  if (table.rows.empty()) throw InputError(path + ":1: no data rows (the file is empty)");
  return table;
}

Table read_csv(const std::string &path) { return parse_csv(read_text_file(path), path); }

std::string format_column(const std::vector<double> &values) {
  std::string text;
  for (double value : values) text += format_number(value) + "\n";
  return text;
}

}  // namespace qircli
