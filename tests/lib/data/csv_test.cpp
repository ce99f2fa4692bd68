// Reading data files: what is accepted, and that every refusal names the
// file and the line a person has to fix.
#include "data/csv.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>

#include "data/dataset.h"
#include "base/errors.h"
#include "base/number_text.h"
#include "base/prng.h"
#include "../temp_dir.h"

using namespace qir;

namespace {

std::vector<std::vector<double>> rows_of(const Table &table) {
  std::vector<std::vector<double>> rows;
  for (std::size_t r = 0; r < table.rows(); ++r)
    rows.emplace_back(table.row(r), table.row(r) + table.columns());
  return rows;
}

std::string failure(const std::string &text) {
  try {
    parse_csv(text, "in.csv");
  } catch (const InputError &error) {
    return error.what();
  }
  return "(accepted)";
}

std::string load_failure(const std::string &path, const LabelSource &source) {
  try {
    load_dataset(path, source);
  } catch (const InputError &error) {
    return error.what();
  }
  return "(accepted)";
}

}  // namespace

TEST(Csv, ReadsRowsWithTheirLineNumbersSkippingBlankLines) {
  const Table table = parse_csv("1, 2.5 ,-3\r\n\n  \n4e-3,+5,6\n", "in.csv");
  ASSERT_EQ(table.rows(), 2u);
  EXPECT_EQ(rows_of(table), (std::vector<std::vector<double>>{{1, 2.5, -3}, {0.004, 5, 6}}));
  EXPECT_EQ(table.lines, (std::vector<int>{1, 4}));
  EXPECT_EQ(table.columns(), 3u);
  // The last line needs no line end.
  const Table unended = parse_csv("1,2\n\n3,4", "in.csv");
  ASSERT_EQ(unended.rows(), 2u);
  EXPECT_EQ(rows_of(unended)[1], (std::vector<double>{3, 4}));
  EXPECT_EQ(unended.lines, (std::vector<int>{1, 3}));
}

TEST(Csv, RefusalsNameFileLineAndColumn) {
  EXPECT_EQ(failure("1,2,3\n4,5\n"), "in.csv:2: 2 columns, but line 1 has 3");
  EXPECT_EQ(failure("1,2\n\n3,4,5\n"), "in.csv:3: 3 columns, but line 1 has 2");
  EXPECT_EQ(failure("1,2\n3,x\n"),
            "in.csv:2: column 2: 'x' is not a number, but line 1's label is a number");
  EXPECT_EQ(failure("1,a\n3,2\n"), "in.csv:2: column 2: '2' is a number, but line 1's label is a name");
  EXPECT_EQ(failure("1,x,1\n"), "in.csv:1: column 2: 'x' is not a number (a header line? give --header)");
  EXPECT_EQ(failure("1,2\n3,4.5.6\n"), "in.csv:2: column 2: '4.5.6' is not a number");
  EXPECT_EQ(failure("1,a\n3,-b\n"), "in.csv:2: column 2: '-b' is not a number");
  EXPECT_EQ(failure("x,y\nsepal,1\n"), "in.csv:2: column 1: 'sepal' is not a number");
  EXPECT_EQ(failure("1,,2\n"), "in.csv:1: column 2 is empty; fill in the value or drop the line");
  EXPECT_EQ(failure("1,2,\n"), "in.csv:1: column 3 is empty; fill in the value or drop the line");
  EXPECT_EQ(failure("1,nan\n"), "in.csv:1: column 2: 'nan' is not a finite number; fill in the value or drop the line");
  EXPECT_EQ(failure("inf,1\n"), "in.csv:1: column 1: 'inf' is not a finite number; fill in the value or drop the line");
  EXPECT_EQ(failure("1,1e999\n"), "in.csv:1: column 2: '1e999' is not a number");
}

TEST(Csv, HeadersDelimitersAndBlankSeparatedNumbers) {
  const auto rows = [](const std::string &text, CsvFormat format = {}) {
    return rows_of(parse_csv(text, "in.csv", format));
  };
  const std::vector<std::vector<double>> expected{{1, 2.5, 3}, {4, 5, 6}};
  EXPECT_EQ(rows("a,b,label\n1,2.5,3\n4,5,6\n"), expected);   // header of words
  EXPECT_EQ(rows("1;2.5;3\n4;5;6\n"), expected);
  EXPECT_EQ(rows("1\t2.5\t3\n4\t5\t6\n"), expected);
  EXPECT_EQ(rows("   1.0000000e+00   2.5000000e+00   3.0000000e+00\n 4 5  6\n"), expected);
  EXPECT_EQ(rows("x 1\n1 2.5 3\n4 5 6\n", {' ', true}), expected);  // forced header
  EXPECT_EQ(rows("1 2.5 3\n4 5 6\n", {' ', false}), expected);
  EXPECT_EQ(failure("1,2.5;3\n"), "in.csv:1: column 2: '2.5;3' is not a number");
  EXPECT_THROW(delimiter_named("|"), UsageError);
  EXPECT_EQ(delimiter_named("tab"), '\t');
}

TEST(Dataset, NamedLabelsBecomeIntegersInNameOrderAndKeepKnownOnes) {
  TempDir dir;
  const std::string file =
      dir.file("n.csv", "5.1,setosa\n7.0,\"versicolor\"\n6.3,virginica\n5.0,setosa\n");
  const Dataset data = load_dataset(file, {});
  EXPECT_EQ(data.labels, (std::vector<double>{1, 2, 3, 1}));
  EXPECT_EQ(data.class_names, (ClassNames{{1, "setosa"}, {2, "versicolor"}, {3, "virginica"}}));
  EXPECT_EQ(data.patterns[1], (std::vector<double>{7.0}));

  const Dataset again = load_dataset(file, {}, {}, {{7, "virginica"}, {2, "setosa"}});
  EXPECT_EQ(again.labels, (std::vector<double>{2, 8, 7, 2}));  // new name after the largest
  EXPECT_EQ(load_failure(file, {LabelSource::Kind::none, ""}),
            file + ":1: column 2: 'setosa' is not a number");
}

TEST(Dataset, HeaderNamesTheFeaturesWhenItNamesEveryColumn) {
  const auto names = [](const std::string &text, LabelSource source = {}) {
    return dataset_from_table(parse_csv(text, "in.csv"), source).feature_names;
  };
  EXPECT_EQ(names("\"sepal length\";width;species\n1;2;a\n"),
            (std::vector<std::string>{"sepal length", "width"}));
  EXPECT_EQ(names("a,b\n1,2\n", {LabelSource::Kind::none, ""}),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(names("1,2,3\n").empty());
  EXPECT_TRUE(names("a,b\n1,2,3\n").empty());  // a header of other columns names nothing
  EXPECT_TRUE(dataset_from_table(parse_csv("x,,y\n1,2,3\n", "in.csv", {0, true}), {})
                  .feature_names.empty());
}

TEST(Csv, FileWithoutRowsIsRefused) {
  EXPECT_EQ(failure(""), "in.csv:1: no data rows (the file is empty)");
  EXPECT_EQ(failure("\n \n\r\n"), "in.csv:1: no data rows (the file is empty)");
}

TEST(Csv, MissingFileIsNamed) {
  TempDir dir;
  const std::string path = dir.path("absent.csv");
  EXPECT_EQ(load_failure(path, {}), path + ": cannot open file (No such file or directory)");
}

TEST(Dataset, UnusableLabelsAreRefusedWithTheirLine) {
  TempDir dir;
  const std::string fractional = dir.file("f.csv", "1,1\n2,1.5\n");
  EXPECT_EQ(load_failure(fractional, {}),
            fractional + ":2: label 1.5 is not a whole number in the 32-bit range");
  const std::string huge = dir.file("h.csv", "1,3e9\n");
  EXPECT_EQ(load_failure(huge, {}),
            huge + ":1: label 3000000000 is not a whole number in the 32-bit range");
  const std::string single = dir.file("s.csv", "1\n2\n");
  EXPECT_EQ(load_failure(single, {}),
            single + ":1: needs at least one feature column and a label column (the last one)");

  const std::string patterns = dir.file("p.csv", "1,2\n3,4\n5,6\n");
  const std::string short_labels = dir.file("l2.csv", "1\n2\n");
  EXPECT_EQ(load_failure(patterns, {LabelSource::Kind::separate_file, short_labels}),
            short_labels + ": 2 labels for 3 patterns");
  // A label file of names: its first line is a name, not a header.
  const std::string named = dir.file("ln.csv", "b\na\n\"c, d\"\n");
  EXPECT_EQ(load_dataset(patterns, {LabelSource::Kind::separate_file, named}).labels,
            (std::vector<double>{2, 1, 3}));
  const std::string headed = dir.file("lh.csv", "species\n1\n2\n3\n");
  EXPECT_EQ(load_dataset(patterns, {LabelSource::Kind::separate_file, headed}).labels,
            (std::vector<double>{1, 2, 3}));
  const std::string wide_labels = dir.file("lw.csv", "1,1\n2,2\n3,3\n");
  EXPECT_EQ(load_failure(patterns, {LabelSource::Kind::separate_file, wide_labels}),
            wide_labels + ":1: a label file has one column, this one has 2");
}

TEST(Csv, QuotedFieldsFollowTheCsvRules) {
  // R's write.csv quotes the header and every text column, factor levels
  // "1" to "7" included: a quoted cell that reads as a number is a number.
  const Table r = parse_csv("\"a\",\"b\",\"y\"\n1,\"2.5\",\"1\"\n\" 3 \",4,\"2\"\n", "in.csv");
  EXPECT_EQ(r.header, (std::vector<std::string>{"a", "b", "y"}));
  EXPECT_EQ(rows_of(r), (std::vector<std::vector<double>>{{1, 2.5, 1}, {3, 4, 2}}));
  EXPECT_FALSE(r.text_labels());

  // Doubled quotes, delimiters and line ends inside quotes; a quoted label
  // is a name whatever it starts with.
  const Table names =
      parse_csv("1,\"a \"\"big\"\", one\"\n3, \"<=50K\" \r\n4,\"2 cats\"\n", "in.csv");
  EXPECT_EQ(names.last_text, (std::vector<std::string>{"a \"big\", one", "<=50K", "2 cats"}));
  for (const std::string name : {"a \"big\", one", "<=50K", " x", "a;b", "plain"})
    EXPECT_EQ(parse_csv("1," + csv_cell(name) + "\n", "in.csv").last_text.front(),
              std::string(trim(name)));
  EXPECT_EQ(csv_cell("plain"), "plain");
  // A line end inside quotes belongs to the cell, but no name may hold one:
  // names go on one line of the model file.
  EXPECT_EQ(failure("1,x\n2,\"two\nlines\"\n"),
            "in.csv:2: column 2: the class name \"two\nlines\" holds a line end");
  EXPECT_EQ(failure("\"a\nb\",y\n1,2\n"),
            "in.csv:1: column 1: the header's name \"a\nb\" holds a line end");
  EXPECT_EQ(parse_csv("1;\"x;y\"\n", "in.csv").last_text, (std::vector<std::string>{"x;y"}));
  EXPECT_EQ(parse_csv("\"a;b\",c\n1,x\n", "in.csv").header,
            (std::vector<std::string>{"a;b", "c"}));  // the delimiter is found outside quotes
  EXPECT_EQ(parse_csv("1\t\"x y\"\n", "in.csv").last_text, (std::vector<std::string>{"x y"}));
  EXPECT_EQ(parse_csv(" 1  \"x y\"\n2 \"z\"\n", "in.csv").last_text,
            (std::vector<std::string>{"x y", "z"}));

  EXPECT_EQ(failure("1,2\n\"a\",3\n"), "in.csv:2: column 1: '\"a\"' is not a number");
  EXPECT_EQ(failure("1,\"1\"\n2,\"a\"\n"),
            "in.csv:2: column 2: '\"a\"' is not a number, but line 1's label is a number");
  EXPECT_EQ(failure("1,\"\"\n"),
            "in.csv:1: column 2 is empty; fill in the value or drop the line");
  EXPECT_EQ(failure("1,2\n3,\"abc\n4,5\n"),
            "in.csv:2: column 2: the quote that opens it is never closed");
  EXPECT_EQ(failure("1,\"a\"b\n"), "in.csv:1: column 2: text after its closing quote "
                                   "(write a quote inside quotes as \"\")");
  EXPECT_EQ(failure("1,2\n\"x\ny\",3\n4,q\n"),
            "in.csv:2: column 1: '\"x\ny\"' is not a number");
  // Row names, as R writes them by default, are no feature.
  EXPECT_EQ(failure("\"\",\"a\",\"y\"\n\"1\",2,\"x\"\n"),
            "in.csv:1: column 1 has no name, as in a file written with row names (in R: "
            "write.csv(data, file, row.names = FALSE)); drop that column");
}

TEST(Csv, ByteOrderMarkIsSkipped) {
  const std::string mark = "\xEF\xBB\xBF";
  EXPECT_EQ(rows_of(parse_csv(mark + "1,2,3\n", "in.csv")),
            (std::vector<std::vector<double>>{{1, 2, 3}}));
  const Table named = parse_csv(mark + "a,b,y\n1,2,3\n", "in.csv");
  EXPECT_EQ(named.header.front(), "a");
  EXPECT_EQ(named.rows(), 1u);
  EXPECT_EQ(parse_csv(mark + "\"a\",y\n1,\"x\"\n", "in.csv").header.front(), "a");
  // Only at the very start: elsewhere it is a cell's text.
  EXPECT_EQ(failure("1,2\n" + mark + "3,4\n"), "in.csv:2: column 1: '" + mark + "3' is not a number");
}

TEST(Dataset, RWriteCsvWithQuotedNumericClassesReadsAsNumbers) {
  TempDir dir;
  const std::string file = dir.file("r.csv",
                                    "\"sepal length\",\"width\",\"class\"\n"
                                    "5.1,3.5,\"1\"\n7,3.2,\"2\"\n6.3,3.3,\"7\"\n");
  const Dataset data = load_dataset(file, {});
  EXPECT_EQ(data.labels, (std::vector<double>{1, 2, 7}));
  EXPECT_TRUE(data.class_names.empty());
  EXPECT_EQ(data.feature_names, (std::vector<std::string>{"sepal length", "width"}));
}

// A file read a few bytes and a few rows at a time gives the rows, lines,
// header and errors of the whole text, wherever a read or a block ends.
TEST(Csv, BlocksOfAFileReadAsTheWholeText) {
  TempDir dir;
  const std::vector<std::string> texts{
      "\xEF\xBB\xBF" "x,y,class\r\n1,2,\"a,b c\"\n\n3,4,\"say \"\"hi\"\"\"\n  \n5,6,plain\n7,8,\"\"\"\"",
      "1;2;3\n4;5;6\n7;8\n",
      "\"a\n b\",c\n1,2\n",
      "1 2  3\n\t4 5 6\n 7 8 9 \n",
      "1,2,\"open\n3,4,5\n",
      "1,2,3\n4,5,x\n",
      "\xEF\xBB",
  };
  const auto outcome = [](const std::function<Table()> &read) {
    std::string text;
    try {
      const Table table = read();
      for (const auto &name : table.header) text += "[" + name + "]";
      for (std::size_t r = 0; r < table.rows(); ++r) {
        text += "\n" + std::to_string(table.lines[r]) + ":";
        for (std::size_t c = 0; c < table.columns(); ++c)
          text += " " + format_number(table.row(r)[c]);
      }
      for (const auto &name : table.last_text) text += " <" + name + ">";
    } catch (const InputError &error) {
      text = error.what();
    }
    return text;
  };
  for (std::size_t t = 0; t < texts.size(); ++t) {
    const std::string path = dir.file("in" + std::to_string(t) + ".csv", texts[t]);
    const std::string whole = outcome([&] { return parse_csv(texts[t], path); });
    for (std::size_t read_size : {1, 2, 3, 5, 64})
      for (std::size_t rows : {0, 1, 2}) {
        const std::string blocks = outcome([&] {
          CsvReader reader(path, {}, read_size);
          Table all, block;
          while (reader.next(block, rows)) {
            all.header = block.header;
            all.width = block.width;
            all.values.insert(all.values.end(), block.values.begin(), block.values.end());
            all.lines.insert(all.lines.end(), block.lines.begin(), block.lines.end());
            all.last_text.insert(all.last_text.end(), block.last_text.begin(),
                                 block.last_text.end());
          }
          return all;
        });
        EXPECT_EQ(blocks, whole) << "text " << t << ", read " << read_size << ", rows " << rows;
      }
  }
  const std::string first = outcome([&] { return parse_csv(texts[0], "a"); });
  EXPECT_NE(first.find("<a,b c> <say \"hi\"> <plain> <\">"), std::string::npos) << first;
}

namespace {

// Everything a reading gives: header, lines, each value's bits, names, or
// the error's words.
std::string reading(const std::string &path, std::size_t read_size, std::size_t rows,
                    bool general) {
  std::string text;
  try {
    CsvReader reader(path, {}, read_size);
    if (general) reader.general_records_only();
    Table block;
    while (reader.next(block, rows)) {
      for (const auto &name : block.header) text += "[" + name + "]";
      for (std::size_t r = 0; r < block.rows(); ++r) {
        text += "\n" + std::to_string(block.lines[r]) + ":";
        for (std::size_t c = 0; c < block.columns(); ++c) {
          std::uint64_t bits = 0;
          std::memcpy(&bits, block.row(r) + c, sizeof bits);
          text += " " + std::to_string(bits);
        }
      }
      for (const auto &name : block.last_text) text += " <" + name + ">";
    }
  } catch (const InputError &error) {
    text += std::string("\n") + error.what();
  }
  return text;
}

// A cell of the kind data files hold, odd ones included.
std::string random_cell(Xorshift64Star &random) {
  static const char *const odd[] = {
      "", " ", "NaN", "nan", "Inf", "-inf", "infinity", "1e", "1e+", "1e400", "1e-400", ".",
      "-", "+", "+-1", "-+1", "0x10", ".5", "5.", "-.5", "1.e3", ".e3", "-0", "+0", "0e999",
      "00012", "1,5", "\"3\"", "\"a b\"", "\"1\"\"\"", "x", "_y", "1x", "1 2", "\t7\t", " 8 ",
      "9\r", "1.0000000000000000000001", "12345678901234567890", "9007199254740993",
      "9007199254740992", "4.9406564584124654e-324", "1e22", "1e23", "1e-22", "1e-23",
      "0.000000000000000000000001", "123456789.123456789", "\xC3\xA9t\xC3\xA9", "\xE9",
      "-1.672038998", "0.002124883779", "-0.01056191182", "12345678.87654321", "1\xCA"};
  const std::uint64_t pick = random.below(10);
  if (pick < 3) return odd[random.below(sizeof odd / sizeof *odd)];
  std::string cell;
  if (random.below(4) == 0) cell += random.below(2) ? "-" : "+";
  const auto digits = [&](std::uint64_t most) {
    for (std::uint64_t n = random.below(most + 1); n > 0; --n)
      cell += static_cast<char>('0' + random.below(10));
  };
  digits(pick < 7 ? 3 : 21);
  if (random.below(2)) {
    cell += '.';
    digits(pick < 7 ? 12 : 21);
  }
  if (random.below(4) == 0) {
    cell += random.below(2) ? "e" : "E";
    if (random.below(2)) cell += random.below(2) ? "-" : "+";
    digits(3);
  }
  return cell;
}

// A small data file of random records: delimiters, blanks, line ends,
// blank lines, ragged rows, names, quotes and a byte-order mark, mostly
// numbers so that many records take the quick scan.
std::string random_file(Xorshift64Star &random, std::uint64_t most_rows = 8) {
  static const char delimiters[] = {',', ';', '\t', ' '};
  const char delimiter = delimiters[random.below(4)];
  const std::uint64_t columns = 1 + random.below(4);
  const bool names = random.below(3) == 0;
  std::string text = random.below(8) == 0 ? "\xEF\xBB\xBF" : "";
  if (random.below(6) == 0) text += "a" + std::string(1, delimiter) + "b\n";
  for (std::uint64_t r = 0, rows = 1 + random.below(most_rows); r < rows; ++r) {
    if (random.below(8) == 0) text += random.below(2) ? "\n" : " \r\n";
    const std::uint64_t width = random.below(10) == 0 ? 1 + random.below(5) : columns;
    for (std::uint64_t c = 0; c < width; ++c) {
      if (c > 0) text += delimiter;
      if (random.below(5) == 0) text += random.below(2) ? " " : "\t";
      text += names && c + 1 == width && random.below(6) != 0
                  ? std::string(random.below(2) ? "cat" : "dog")
                  : random.below(4) == 0 ? random_cell(random) : std::to_string(random.below(1000)) + "." + std::to_string(random.below(1000));
      if (random.below(5) == 0) text += " ";
    }
    if (r + 1 < rows || random.below(3) != 0) text += random.below(4) == 0 ? "\r\n" : "\n";
  }
  return text;
}

}  // namespace

// The quick scan of plain records and the general reading give the same
// values (to the bit), lines, names and messages on every input, wherever
// a read or a block ends.
TEST(Csv, QuickScanReadsAsTheGeneralReading) {
  TempDir dir;
  std::vector<std::string> texts{
      "1,2,3\n4,5,6\n 7 , +8 ,\t9\r\n\n1e3,-2.5E-3,.5\n5.,-0,+0\n1,2,3",
      "1,2,3\n4,,6\n", "1,2,3\n4,5\n", "1,2,3\n4,5,6,7\n", "1,2,3\n4,5,NaN\n",
      "1,2,3\n4,Inf,6\n", "1,2,3\n4,\"5\",6\n", "1,2,3\n4,5,6,\n", "1,2,a\n4,5,b\n6,7,8\n",
      "1,2,a\n4,5, b c \r\n6,7,\"d\"\n8,9,e\"f\n", "1,2,3\n4,5,x\n", "1 2 3\n\t4  5 6 \n7 8\n",
      "1\t2\t3\n4\t\t6\n", "1;2;3\n4;5,5;6\n", "1,2\n3,1e400\n4,1e-400\n",
      "\xEF\xBB\xBF" "a,b\n1,2\n3,4", "1,2\n12345678901234567890,3\n0.1234567890123456789,4\n",
      "1,2\n9007199254740993,1\n1e22,1e-22\n1e23,1e-23\n", "1,2\n3\r4,5\n", "1,2\n3,4\r\r\n",
      "1,x\n2,\xE9\n", "1,cat\n2,1\n", "1,2\n3,dog\n"};
  Xorshift64Star random(2026);
  for (int k = 0; k < 400; ++k) texts.push_back(random_file(random));
  // Long files, whose cells mostly lie well before the end of the bytes read.
  for (int k = 0; k < 40; ++k) texts.push_back(random_file(random, 300));
  for (std::size_t t = 0; t < texts.size(); ++t) {
    const std::string path = dir.file("in" + std::to_string(t) + ".csv", texts[t]);
    for (std::size_t read_size : {std::size_t{3}, std::size_t{1} << 20})
      for (std::size_t rows : {0, 2}) {
        const std::string general = reading(path, read_size, rows, true);
        ASSERT_EQ(reading(path, read_size, rows, false), general)
            << "text " << t << " '" << texts[t] << "', read " << read_size << ", rows " << rows;
      }
  }
}

namespace {

// A data set as load_dataset gives it, every value's bits, or its error.
std::string loaded(const std::function<Dataset()> &load) {
  std::string text;
  try {
    const Dataset data = load();
    text = data.path + " " + std::to_string(data.patterns.size()) + "x" +
           std::to_string(data.features());
    for (const auto &row : data.patterns)
      for (double value : row) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        text += " " + std::to_string(bits);
      }
    for (double label : data.labels) text += " L" + format_number(label);
    for (const auto &[label, name] : data.class_names) text += " C" + std::to_string(label) + name;
    for (const auto &name : data.feature_names) text += " F" + name;
  } catch (const InputError &error) {
    text = error.what();
  }
  return text;
}

}  // namespace

// A large file is read a block of rows at a time, never as one table beside
// the patterns: the same patterns, labels, class names and feature names as
// a table read whole, and the same first fault where there are several,
// with rows, names and faults on either side of a block's end.
TEST(Csv, LargeFilesLoadAsATableReadWhole) {
  TempDir dir;
  const auto rows = [](std::size_t n, const std::function<std::string(std::size_t)> &row) {
    std::string text;
    for (std::size_t r = 0; r < n; ++r) text += row(r) + "\n";
    return text;
  };
  constexpr std::size_t n = 70000;  // more than a block
  const std::vector<std::string> texts{
      rows(n, [](std::size_t r) { return std::to_string(r % 97) + ".25," + std::to_string(r % 3 + 1); }),
      "x,class\n" + rows(n, [](std::size_t r) {
        return std::to_string(r) + (r < 66000 ? ",dog" : r % 2 ? ",cat" : ",eel");
      }),
      rows(n, [](std::size_t r) { return r == 4 ? std::string("1,2.5") : r == 68000 ? "1,2,3" : "1,2"; }),
      rows(n, [](std::size_t r) { return r == 69000 ? std::string("1,2.5") : "1,2"; }),
      rows(n, [](std::size_t r) { return std::string("1,") + (r == 67000 ? "4" : "cat"); }),
      rows(n, [](std::size_t r) { return std::to_string(r); }),
      rows(n, [](std::size_t r) { return r == 69999 ? std::string("1,x") : "1,2"; })};
  const std::string labels_file = dir.file("labels.csv", rows(n, [](std::size_t r) {
    return std::to_string(r % 4);
  }));
  for (std::size_t t = 0; t < texts.size(); ++t) {
    const std::string path = dir.file("big" + std::to_string(t) + ".csv", texts[t]);
    for (const LabelSource &source :
         {LabelSource{}, LabelSource{LabelSource::Kind::none, ""},
          LabelSource{LabelSource::Kind::separate_file, labels_file}}) {
      const std::string whole =
          loaded([&] { return dataset_from_table(read_csv(path), source); });
      EXPECT_EQ(loaded([&] { return load_dataset(path, source); }), whole)
          << "file " << t << ", labels " << static_cast<int>(source.kind);
    }
  }
}
