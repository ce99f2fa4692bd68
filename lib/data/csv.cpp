#include "csv.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "../base/errors.h"
#include "../base/number_text.h"
#include "number_scan.h"

namespace qir {
namespace {

std::string where(const std::string &path, int line) {
  return path + ":" + std::to_string(line) + ": ";
}

// One record's cells. A quoted cell holds its content (quotes removed,
// doubled quotes made single), kept in `contents` so the views stay valid.
struct Record {
  std::vector<std::string_view> cells;
  std::vector<bool> quoted;
  std::deque<std::string> contents;
  int lines = 1;  // a quoted cell may hold line ends
  void clear() {
    cells.clear();
    quoted.clear();
    contents.clear();
    lines = 1;
  }
  void add(std::string_view cell, bool is_quoted) {
    cells.push_back(cell);
    quoted.push_back(is_quoted);
  }
};

void split(std::string_view line, char delimiter, Record &record) {
  if (delimiter == ' ') {
    const char *blanks = " \t\r";
    for (std::size_t start = line.find_first_not_of(blanks); start != std::string_view::npos;) {
      const std::size_t end = line.find_first_of(blanks, start);
      record.add(line.substr(start, end == std::string_view::npos ? end : end - start), false);
      start = end == std::string_view::npos ? end : line.find_first_not_of(blanks, end);
    }
    return;
  }
  for (std::size_t start = 0;;) {
    const std::size_t end = line.find(delimiter, start);
    record.add(line.substr(start, end == std::string_view::npos ? end : end - start), false);
    if (end == std::string_view::npos) return;
    start = end + 1;
  }
}

// A record in which quotes appear, read by the usual CSV rules: a cell that
// starts with a quote (blanks before it allowed) runs to the next single
// quote, and may hold delimiters, doubled quotes and line ends. Returns
// where the record ends (its line end, or the end of the text); npos when
// the text is not `complete` and the record may go on past its end.
std::size_t split_quoted(const std::string &text, std::size_t at, char delimiter,
                         const std::string &path, int line_number, Record &record,
                         bool complete) {
  const bool blank_runs = delimiter == ' ';
  const auto pad = [&](char c) {
    return c == ' ' || c == '\r' || (c == '\t' && delimiter != '\t');
  };
  const auto ends_cell = [&](std::size_t k) {
    return k >= text.size() || text[k] == '\n' || (blank_runs ? pad(text[k]) : text[k] == delimiter);
  };
  for (;;) {
    while (at < text.size() && pad(text[at])) ++at;
    if (at >= text.size() && !complete) return std::string::npos;
    if (blank_runs && (at >= text.size() || text[at] == '\n')) return at;
    const std::string column = "column " + std::to_string(record.cells.size() + 1);
    if (at < text.size() && text[at] == '"') {
      std::string content;
      for (++at;; ++at) {
        if (at >= text.size() && !complete) return std::string::npos;
        if (at >= text.size())
          throw InputError(where(path, line_number) + column +
                           ": the quote that opens it is never closed");
        if (text[at] == '"') {
          if (at + 1 < text.size() && text[at + 1] == '"') {
            content += '"';
            ++at;
            continue;
          }
          ++at;
          break;
        }
        if (text[at] == '\n') ++record.lines;
        content += text[at];
      }
      while (at < text.size() && pad(text[at]) && !blank_runs) ++at;
      if (!ends_cell(at))
        throw InputError(where(path, line_number) + column +
                         ": text after its closing quote (write a quote inside quotes as \"\")");
      record.contents.push_back(std::move(content));
      record.add(record.contents.back(), true);
    } else {
      const std::size_t start = at;
      while (!ends_cell(at)) ++at;
      record.add(std::string_view(text).substr(start, at - start), false);
    }
    if (at >= text.size() && !complete) return std::string::npos;
    if (at >= text.size() || text[at] == '\n') return at;
    ++at;  // the delimiter, or the blank after a cell
  }
}

// The first record's delimiter, looked for outside its quotes; none when
// the text is not `complete` and the record may go on past its end.
std::optional<char> find_delimiter(std::string_view text, bool complete) {
  bool quoted = false, ended = false;
  bool seen[3] = {false, false, false};
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\n') {
      ended = true;
      break;
    }
    seen[0] |= c == ',';
    seen[1] |= c == ';';
    seen[2] |= c == '\t';
  }
  if (!ended && !complete) return std::nullopt;
  return seen[0] ? ',' : seen[1] ? ';' : seen[2] ? '\t' : ' ';
}

// A class name: text that starts with a letter (or '_', or any non-ASCII
// character), so that a mistyped number is never taken for a name. Quoted
// text is a name whatever it holds, unless it reads as a number.
bool name_like(const std::string &text) {
  const unsigned char first = text.empty() ? 0 : static_cast<unsigned char>(text.front());
  return std::isalpha(first) != 0 || first == '_' || first >= 0x80;
}

bool all_words(const Record &record, std::size_t from = 0) {
  for (std::size_t k = from; k < record.cells.size(); ++k)
    if (trim(record.cells[k]).empty() || parse_number(record.cells[k])) return false;
  return true;
}

// How a cell is shown in a message: as written, bytes that are not UTF-8
// as \xHH so that the message itself is valid text.
std::string shown(std::string_view text, bool quoted) {
  if (!quoted) return shown_text(trim(text));
  std::string written = "\"";
  for (char c : text) written += c == '"' ? std::string("\"\"") : std::string(1, c);
  return shown_text(written + "\"");
}

// Reading state: the rows so far and whether the label column holds text.
struct Reader {
  Table table;  // the rows read since the caller last took them
  bool header_skipped = false;
  int first_text_line = 0, first_number_line = 0;
  int first_line = 0;  // of the first row; it sets the number of columns
  std::size_t first_columns = 0;

  void cell(std::string_view cell, bool quoted, std::size_t column, bool last, int line_number,
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
      throw InputError(where(table.path, line_number) + name + ": '" + shown(cell, quoted) +
                       "' is not a finite number" + missing_advice);
    if (!value && !(last && (quoted || name_like(text))))
      throw InputError(where(table.path, line_number) + name + ": '" + shown(cell, quoted) +
                       "' is not a number" +
                       (!header_skipped && line_number == table_first_line() && name_like(text)
                            ? header_advice()
                            : ""));
    if (last) note_label_kind(value.has_value(), line_number, text, shown(cell, quoted), name);
    row.push_back(value.value_or(0));
  }

  int table_first_line() const { return first_line; }
  static std::string header_advice() { return " (a header line? give --header)"; }
  // Missing values have no place in the patterns.
  static constexpr const char *missing_advice = "; fill in the value or drop the line";

  void note_label_kind(bool number, int line_number, const std::string &text,
                       const std::string &written, const std::string &name) {
    if (!number) check_name(text, line_number, name);
    int &first = number ? first_number_line : first_text_line;
    if (first == 0) first = line_number;
    if (first_text_line != 0 && first_number_line != 0)
      throw InputError(where(table.path, line_number) + name + ": '" + written + "' is " +
                       (number ? "a number" : "not a number") + ", but line " +
                       std::to_string(number ? first_text_line : first_number_line) +
                       "'s label is " + (number ? "a name" : "a number"));
    // A name goes on one line of the model file and of the labels written.
    if (!number && text.find('\n') != std::string::npos)
      throw InputError(where(table.path, line_number) + name + ": the class name " + written +
                       " holds a line end");
    if (!number) table.last_text.push_back(text);
  }

  // Names are UTF-8 in every front end; a Latin-1 byte would be a name in
  // one and an error in another.
  void check_name(const std::string &text, int line_number, const std::string &name) const {
    if (first_invalid_utf8(text) != std::string::npos)
      throw InputError(where(table.path, line_number) + name + ": '" + shown_text(text) +
                       "' is not UTF-8 text; save the file as UTF-8");
  }

  void row(const Record &record, int line_number) {
    const std::size_t columns = record.cells.size();
    if (first_line != 0 && columns != first_columns)
      throw InputError(where(table.path, line_number) + std::to_string(columns) +
                       " columns, but line " + std::to_string(first_line) + " has " +
                       std::to_string(first_columns));
    if (first_line == 0) {  // before the cells, for the header advice
      first_line = line_number;
      first_columns = columns;
    }
    table.lines.push_back(line_number);
    for (std::size_t k = 0; k < columns; ++k)
      cell(record.cells[k], record.quoted[k], k, k + 1 == columns, line_number, table.values);
  }
};

// The byte-order mark some editors put first: no part of the first cell.
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

}  // namespace

std::string read_text_file(const std::string &path) {
  // A folder opens as a stream of unknown, enormous length.
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    throw InputError(path + " is a directory");
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

// The reading itself, over a file read a block at a time or over text
// held whole: records are taken from `text` while it holds them entire, and
// more is read when one may run past its end.
struct CsvReader::State {
  std::string path;
  CsvFormat format;
  std::ifstream file;
  std::string text;
  std::size_t read_size = 1 << 20;
  std::size_t start = 0;  // of the next record in `text`
  bool complete = true;   // `text` holds the rest of the input
  bool mark_checked = false;
  char delimiter = 0;
  bool header_pending = true;
  int line_number = 0;
  std::size_t rows_read = 0;
  Reader reader;
  Record record;
  int record_line = 0;
  bool general_only = false;
  std::vector<double> name_value;  // a class name's cell as the general reading holds it

  // Drops what has been read and appends the next block of the file.
  // The file is read straight into the text's own room, which stays from
  // one block to the next.
  void read_more() {
    text.erase(0, std::min(start, text.size()));
    start = 0;
    const std::size_t kept = text.size();
    text.resize(kept + read_size);
    file.read(text.data() + kept, static_cast<std::streamsize>(read_size));
    if (file.bad()) throw InputError(path + ": cannot read file");
    text.resize(kept + static_cast<std::size_t>(file.gcount()));
    if (file.gcount() == 0 || file.eof()) complete = true;
  }

  // The next non-blank record into `record`; false at the end of the input.
  bool next_record() {
    for (;;) {
      if (!mark_checked) {
        if (text.size() < byte_order_mark.size() && !complete) {
          read_more();
          continue;
        }
        if (text.compare(0, byte_order_mark.size(), byte_order_mark) == 0)
          start = byte_order_mark.size();
        mark_checked = true;
      }
      if (start >= text.size() && complete) return false;
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos && !complete) {
        read_more();
        continue;
      }
      end = std::min(end, text.size());
      const std::string_view line(text.data() + start, end - start);
      if (trim(line).empty()) {
        ++line_number;
        start = end + 1;
        continue;
      }
      if (delimiter == 0) {
        const auto found = find_delimiter(std::string_view(text).substr(start), complete);
        if (!found) {
          read_more();
          continue;
        }
        delimiter = *found;
      }
      record.clear();
      if (line.find('"') == std::string_view::npos) {
        split(line, delimiter, record);
      } else {
        end = split_quoted(text, start, delimiter, path, line_number + 1, record, complete);
        if (end == std::string::npos) {
          read_more();
          continue;
        }
      }
      start = end + 1;
      record_line = ++line_number;
      line_number += record.lines - 1;
      return true;
    }
  }

  // A first record that is a header: its names kept, true.
  bool take_header() {
    header_pending = false;
    if (record.cells.size() > 1 && trim(record.cells.front()).empty() && all_words(record, 1))
      throw InputError(where(path, record_line) +
                       "column 1 has no name, as in a file written with row names (in R: "
                       "write.csv(data, file, row.names = FALSE)); drop that column");
    if (!format.header && !(format.find_header && all_words(record))) return false;
    reader.header_skipped = true;
    for (std::size_t k = 0; k < record.cells.size(); ++k) {
      if (record.cells[k].find('\n') != std::string_view::npos)
        throw InputError(where(path, record_line) + "column " + std::to_string(k + 1) +
                         ": the header's name " + shown(record.cells[k], true) +
                         " holds a line end");
      reader.table.header.emplace_back(trim(record.cells[k]));
      reader.check_name(reader.table.header.back(), record_line,
                        "header, column " + std::to_string(k + 1));
    }
    return true;
  }

  bool next(Table &block, std::size_t rows) {
    std::size_t taken = 0;
    // Room for the rows asked for, within a few megabytes: a block of a
    // wide file may hold far fewer rows than asked, and the room for all
    // of them would not be had.
    constexpr std::size_t most_reserved = std::size_t{1} << 21;
    if (rows != 0)
      reader.table.values.reserve(
          std::min(rows * std::max<std::size_t>(reader.first_columns, 1), most_reserved));
    while (rows == 0 || taken < rows) {
      if (plain_record()) {
        ++taken;
        continue;
      }
      if (!next_record()) break;
      if (header_pending && take_header()) continue;
      reader.row(record, record_line);
      ++taken;
    }
    rows_read += taken;
    if (rows_read == 0) throw InputError(path + ":1: no data rows (the file is empty)");
    Table &table = reader.table;
    block.path = path;
    block.header = table.header;
    block.width = reader.first_columns;
    // The caller's block hands its room back for the next rows: a file
    // read a block at a time takes two blocks' memory, not one per block.
    std::swap(block.values, table.values);
    std::swap(block.lines, table.lines);
    std::swap(block.last_text, table.last_text);
    table.values.clear();
    table.lines.clear();
    table.last_text.clear();
    return taken > 0;
  }

  // The quick scan of a record of plain numbers, once the first row has set
  // the columns and the kind of labels: one pass over its bytes, each
  // number read in place into the table. It reads only what the general
  // reading would read to the same values without a word; anything else (a
  // quote, a blank line, an empty or odd cell, another number of columns,
  // a record that runs past the text read so far) leaves the record, and
  // the table, as they were, to be read the general way. So both ways give
  // the same rows, lines and messages by construction.
  bool plain_record() {
    Reader &r = reader;
    if (general_only || r.first_line == 0 || header_pending || start >= text.size()) return false;
    const char *const begin = text.data() + start;
    const char *const end = text.data() + text.size();
    const bool blank_runs = delimiter == ' ';
    const auto pad = [&](char c) {
      return c == ' ' || c == '\r' || (c == '\t' && delimiter != '\t');
    };
    const std::size_t mark = r.table.values.size();
    r.table.values.resize(mark + r.first_columns);
    double *const row = r.table.values.data() + mark;
    const auto give_up = [&] {
      r.table.values.resize(mark);
      return false;
    };
    const char *p = begin;
    for (std::size_t k = 0;; ++k) {
      while (p != end && pad(*p)) ++p;
      if (k == r.first_columns || p == end || *p == '\n' || *p == delimiter) return give_up();
      const bool last = k + 1 == r.first_columns;
      double value = 0;
      const char *stop = number_scan::plain_number(p, end, value);
      if (stop != nullptr && (stop == end || *stop == '\n' || *stop == delimiter || pad(*stop)) &&
          (!last || (r.first_number_line != 0 && r.first_text_line == 0))) {
        row[k] = value;
        p = stop;
      } else if (last && r.first_text_line != 0 && r.first_number_line == 0) {
        // A class name: the general reading of this one cell, given the
        // same view of it, once nothing can follow it on the line.
        const char *cell_begin = p;
        if (!blank_runs)
          while (cell_begin != begin && cell_begin[-1] != delimiter) --cell_begin;
        const char *cell_end = p;
        while (cell_end != end && *cell_end != '\n' &&
               !(blank_runs ? pad(*cell_end) : *cell_end == delimiter))
          ++cell_end;
        const char *after = cell_end;
        while (after != end && pad(*after)) ++after;
        if ((after == end && !complete) || (after != end && *after != '\n')) return give_up();
        const std::string_view cell(cell_begin, static_cast<std::size_t>(cell_end - cell_begin));
        if (cell.find('"') != std::string_view::npos) return give_up();
        name_value.clear();
        r.cell(cell, false, k, true, line_number + 1, name_value);
        row[k] = name_value.front();
        p = after;
      } else {
        return give_up();
      }
      while (p != end && pad(*p)) ++p;
      if (p == end && !complete) return give_up();
      if (p == end || *p == '\n') {
        if (!last) return give_up();
        break;
      }
      if (!blank_runs) {
        if (*p != delimiter) return give_up();
        ++p;
      }
    }
    r.table.lines.push_back(++line_number);
    start = static_cast<std::size_t>(p - text.data()) + 1;
    return true;
  }
};

CsvReader::CsvReader(const std::string &path, const CsvFormat &format, std::size_t read_size)
    : state_(std::make_unique<State>()) {
  State &s = *state_;
  s.read_size = std::max<std::size_t>(read_size, 1);
  s.path = s.reader.table.path = path;
  s.format = format;
  s.delimiter = format.delimiter;
  // A folder opens as a stream of unknown, enormous length.
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    throw InputError(path + " is a directory");
  s.file.open(path, std::ios::binary);
  if (!s.file) throw InputError(path + ": cannot open file (" + std::strerror(errno) + ")");
  s.complete = false;
}

CsvReader::CsvReader(std::string text, const std::string &path, const CsvFormat &format)
    : state_(std::make_unique<State>()) {
  State &s = *state_;
  s.path = s.reader.table.path = path;
  s.format = format;
  s.delimiter = format.delimiter;
  s.text = std::move(text);
}

CsvReader::~CsvReader() = default;
CsvReader::CsvReader(CsvReader &&) noexcept = default;

bool CsvReader::next(Table &block, std::size_t rows) { return state_->next(block, rows); }

void CsvReader::general_records_only() { state_->general_only = true; }

Table parse_csv(const std::string &text, const std::string &path, const CsvFormat &format) {
  Table table;
  CsvReader(text, path, format).next(table);
  return table;
}

Table read_csv(const std::string &path, const CsvFormat &format) {
  Table table;
  CsvReader(path, format).next(table);
  return table;
}

char delimiter_named(const std::string &name) {
  if (name == "," || name == "comma") return ',';
  if (name == ";" || name == "semicolon") return ';';
  if (name == "tab" || name == "\t") return '\t';
  if (name == "space" || name == "blank" || name == " ") return ' ';
  throw UsageError("option --delimiter takes ',', ';', 'tab' or 'space', not '" + name + "'");
}

std::string csv_cell(const std::string &text) {
  if (text.find_first_of(",;\t\"\r\n") == std::string::npos && trim(text) == text &&
      name_like(text))
    return text;
  return shown(text, true);
}

std::string format_column(const std::vector<double> &values) {
  std::string text;
  text.reserve(values.size() * 2);
  for (double value : values) {
    text += format_number(value);
    text += '\n';
  }
  return text;
}

}  // namespace qir
