// Output files appear whole or not at all, keep their permissions and
// links, and an interrupted command leaves no temporary file behind.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "data/csv.h"
#include "base/errors.h"
#include "../temp_dir.h"
#include "platform/temp_file_cleanup.h"

using namespace qir;

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

TEST(AtomicFile, ReplacedFileKeepsItsPermissionBits) {
  TempDir dir;
  for (mode_t mode : {0600, 0640, 0755}) {
    const std::string path = dir.file("model.txt", "old\n");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    write_file_atomically(path, "new\n");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
  }
}

TEST(AtomicFile, SymbolicLinksStayLinksAndTheirTargetsChange) {
  TempDir dir;
  const std::string target = dir.file("real.csv", "old\n");
  const std::string link = dir.path("link.csv");
  ASSERT_EQ(symlink("real.csv", link.c_str()), 0);  // relative, as users make them
  write_file_atomically(link, "new\n");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(read_text_file(target), "new\n");
  // A link to a file that does not exist yet creates that file.
  const std::string dangling = dir.path("later-link.csv");
  ASSERT_EQ(symlink(dir.path("later.csv").c_str(), dangling.c_str()), 0);
  write_file_atomically(dangling, "made\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(read_text_file(dir.path("later.csv")), "made\n");
  EXPECT_EQ(dir.entries(), 4u);
}

// In a child process: a registered file, then the signal. The child must
// end by that very signal, its registered file gone and a file it let go
// of kept.
TEST(TempFileCleanup, SignalsRemoveRegisteredFilesAndStillEndTheProcess) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    TempDir dir;
    const std::string doomed = dir.file("out.csv.tmp-AAAAAA", "partial");
    const std::string kept = dir.file("other.csv", "whole");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      register_temp_file(doomed.c_str());
      unregister_temp_file(register_temp_file(kept.c_str()));
      raise(signal_number);
      _exit(0);  // not reached: the signal ends the child
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal_number;
    EXPECT_EQ(WTERMSIG(status), signal_number);
    EXPECT_FALSE(std::filesystem::exists(doomed)) << "signal " << signal_number;
    EXPECT_TRUE(std::filesystem::exists(kept));
  }
}
