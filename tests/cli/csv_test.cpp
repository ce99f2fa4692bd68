// Reading data files: what is accepted, and that every refusal names the
// file and the line a person has to fix.
#include "csv.h"

#include <gtest/gtest.h>

#include "dataset.h"
#include "errors.h"
#include "temp_dir.h"

using namespace qircli;

namespace {

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
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0], (std::vector<double>{1, 2.5, -3}));
  EXPECT_EQ(table.rows[1], (std::vector<double>{0.004, 5, 6}));
  EXPECT_EQ(table.lines, (std::vector<int>{1, 4}));
  EXPECT_EQ(table.columns(), 3u);
}

TEST(Csv, RefusalsNameFileLineAndColumn) {
  EXPECT_EQ(failure("1,2,3\n4,5\n"), "in.csv:2: 2 columns, but line 1 has 3");
  EXPECT_EQ(failure("1,2\n\n3,4,5\n"), "in.csv:3: 3 columns, but line 1 has 2");
  EXPECT_EQ(failure("1,2\n3,x\n"), "in.csv:2: column 2: 'x' is not a number");
  EXPECT_EQ(failure("1,2\n3,4.5.6\n"), "in.csv:2: column 2: '4.5.6' is not a number");
  EXPECT_EQ(failure("sepal,petal\n1,2\n"), "in.csv:1: column 1: 'sepal' is not a number");
  EXPECT_EQ(failure("1,,2\n"), "in.csv:1: column 2 is empty");
  EXPECT_EQ(failure("1,2,\n"), "in.csv:1: column 3 is empty");
  EXPECT_EQ(failure("1,nan\n"), "in.csv:1: column 2: 'nan' is not a finite number");
  EXPECT_EQ(failure("inf,1\n"), "in.csv:1: column 1: 'inf' is not a finite number");
  EXPECT_EQ(failure("1,1e999\n"), "in.csv:1: column 2: '1e999' is not a number");
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
  const std::string wide_labels = dir.file("lw.csv", "1,1\n2,2\n3,3\n");
  EXPECT_EQ(load_failure(patterns, {LabelSource::Kind::separate_file, wide_labels}),
            wide_labels + ":1: a label file has one column, this one has 2");
}
