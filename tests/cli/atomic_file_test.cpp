// Output files appear whole or not at all.
#include "atomic_file.h"

#include <gtest/gtest.h>

#include "csv.h"
#include "errors.h"
#include "temp_dir.h"

using namespace qircli;

TEST(AtomicFile, ReplacesAnExistingFileAndLeavesNoTemporary) {
  TempDir dir;
  const std::string path = dir.file("out.csv", "old content that is longer\n");
  write_file_atomically(path, "1\n2\n");
  EXPECT_EQ(read_text_file(path), "1\n2\n");
  EXPECT_EQ(dir.entries(), 1u);
}

TEST(AtomicFile, FailureLeavesNothingBehind) {
  TempDir dir;
  const std::string path = dir.path("missing-folder/out.csv");
  EXPECT_THROW(write_file_atomically(path, "1\n"), InputError);
  EXPECT_EQ(dir.entries(), 0u);
}
