// Output files appear whole or not at all, keep their permissions and
// links, and an interrupted command leaves no temporary file behind;
// devices, FIFOs and descriptors are written in place.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

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

// Inside MATLAB or Octave the writer leaves the process's signal handling
// alone: in a fresh child, a write with SignalCleanup::none installs no
// handler, while the command's write does.
TEST(AtomicFile, WithoutSignalCleanupNoHandlerIsInstalled) {
  for (const SignalCleanup cleanup : {SignalCleanup::none, SignalCleanup::on_signals}) {
    TempDir dir;
    const std::string target = dir.path("model.txt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Handlers an earlier test in this process may have installed go first.
      if (cleanup == SignalCleanup::none)
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) signal(signal_number, SIG_DFL);
      write_file_atomically(target, "whole\n", cleanup);
      int installed = 0;
      for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        sigaction(signal_number, nullptr, &action);
        installed += action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
      }
      _exit(installed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), cleanup == SignalCleanup::none ? 0 : 3);
    EXPECT_EQ(read_text_file(target), "whole\n");
  }
}

// What is not a regular file is written in place and never replaced: a
// FIFO keeps being a FIFO and its reader gets the content; a character
// device (a private one, made as root) keeps being a device.
TEST(AtomicFile, SpecialFilesAreWrittenInPlaceNeverReplaced) {
  TempDir dir;
  const std::string fifo = dir.path("labels.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_text_file(fifo); });
  write_file_atomically(fifo, "1\n2\n");
  reader.join();
  EXPECT_EQ(received, "1\n2\n");
  struct stat info {};
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(dir.entries(), 1u);  // no temporary left beside it

  if (geteuid() != 0) GTEST_SKIP() << "a private character device needs root (mknod)";
  const std::string null_device = dir.path("null");
  ASSERT_EQ(mknod(null_device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);  // as /dev/null
  write_file_atomically(null_device, "discarded\n");
  ASSERT_EQ(lstat(null_device.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  // Through a link, as /dev/stdout leads to the terminal or pipe.
  const std::string link = dir.path("null-link");
  ASSERT_EQ(symlink(null_device.c_str(), link.c_str()), 0);
  write_file_atomically(link, "discarded\n");
  ASSERT_EQ(lstat(null_device.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
}

// /dev/fd/N (a process substitution) and /proc/self/fd/N name a descriptor
// the process holds: written to it, in its place.
TEST(AtomicFile, DescriptorsNamedAsPathsAreWrittenToDirectly) {
  for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    write_file_atomically(prefix + std::to_string(ends[1]), "through the pipe\n");
    close(ends[1]);
    char buffer[64] = {};
    EXPECT_EQ(read(ends[0], buffer, sizeof buffer - 1), 17) << prefix;
    EXPECT_STREQ(buffer, "through the pipe\n");
    close(ends[0]);
  }
}

TEST(AtomicFile, AFolderIsRefusedByName) {
  TempDir dir;
  const std::string folder = dir.path("out");
  std::filesystem::create_directory(folder);
  try {
    write_file_atomically(folder, "1\n");
    FAIL() << "a folder was written";
  } catch (const InputError &error) {
    EXPECT_EQ(std::string(error.what()), folder + " is a directory");
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}
