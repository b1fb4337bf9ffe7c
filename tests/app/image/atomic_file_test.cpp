#include "host/app/base/atomic_file.h"
#include "host/app/progress.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"
#include "host/app/base/app_error.h"

namespace {

using velumbra::AtomicFile;
using velumbra::SystemError;
using velumbra::WriteFileAtomically;

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const SystemError& e) {
    return e.what();
  }
  return "(no SystemError)";
}

TEST(AtomicFile, ReplacesTheTargetAndCreatesFolders) {
  TempDir dir;
  const auto target = dir / "a/b/c/out.txt";
  WriteFileAtomically(target, "first");
  EXPECT_EQ(ReadAll(target), "first");
  WriteFileAtomically(target, "second, longer");
  EXPECT_EQ(ReadAll(target), "second, longer");
  EXPECT_EQ(CountEntries(target.parent_path()), 1);
}

// OpenEXR's writer fills in its chunk table last, over bytes written before.
TEST(AtomicFile, WritesAtOffsetsOverAndPastWhatIsThere) {
  TempDir dir;
  const auto target = dir / "seek.bin";
  {
    velumbra::AtomicFile file(target);
    file.WriteAt("....tail", 8, 0);
    file.WriteAt("head", 4, 0);
    file.WriteAt("!", 1, 10);  // past the end: the gap reads as zeros
    EXPECT_FALSE(std::filesystem::exists(target));
    file.Commit();
  }
  EXPECT_EQ(ReadAll(target), std::string("headtail") + std::string(2, '\0') + "!");
}

TEST(AtomicFile, RefusesTargetsThatAreNotRegularFiles) {
  // Run as root, a rename over /dev/full would replace the device itself.
  EXPECT_THROW(WriteFileAtomically("/dev/full", "x"), SystemError);
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Before: a link was replaced by a regular file and 0600 became 0644.
TEST(AtomicFile, LinksAreWrittenThroughAndModesKept) {
  TempDir dir;
  std::filesystem::create_directories(dir / "elsewhere");
  const auto real = dir / "elsewhere/real.txt";
  WriteAll(real, "old");
  ::chmod(real.c_str(), 0640);
  std::filesystem::create_symlink("elsewhere/real.txt", dir / "link.txt");
  std::filesystem::create_symlink("link.txt", dir / "link2.txt");  // a chain
  WriteFileAtomically(dir / "link2.txt", "new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link2.txt"));
  EXPECT_EQ(ReadAll(real), "new");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(CountEntries(dir / "elsewhere"), 1);  // no temporary left there

  // A dangling link makes its target.
  std::filesystem::create_symlink("made.txt", dir / "dangling.txt");
  WriteFileAtomically(dir / "dangling.txt", "made");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.txt"));
  EXPECT_EQ(ReadAll(dir / "made.txt"), "made");

  // A loop of links is an error, not a hang.
  std::filesystem::create_symlink("loopB", dir / "loopA");
  std::filesystem::create_symlink("loopA", dir / "loopB");
  EXPECT_THROW(WriteFileAtomically(dir / "loopA", "x"), SystemError);
}

// A second signal ends the process at once; the temporary of the write
// under way goes first. Run in a child process, which the signal ends.
TEST(AtomicFile, ASecondSignalRemovesTheTemporaryBeforeTheProcessEnds) {
  TempDir dir;
  const auto target = dir / "out.txt";
  WriteAll(target, "old");
  const pid_t child = ::fork();
  if (child == 0) {
    velumbra::InterruptGuard guard;
    AtomicFile file(target);
    file.TryWrite("half", 4);
    std::raise(SIGTERM);  // the first asks to stop
    std::raise(SIGTERM);  // the second ends the process
    ::_exit(0);           // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(ReadAll(target), "old");
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

// A frame's folder is made with its frame: a write that is discarded
// (Ctrl-C at the commit, a failure) takes the folders it made along.
TEST(AtomicFile, ADiscardedFileTakesTheFoldersItMade) {
  TempDir dir;
  std::filesystem::create_directories(dir / "shot");
  {
    AtomicFile file(dir / "shot/0004/deep/x.png");
    ASSERT_TRUE(std::filesystem::is_directory(dir / "shot/0004/deep"));
    file.TryWrite("half", 4);
  }  // discarded
  EXPECT_FALSE(std::filesystem::exists(dir / "shot/0004"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "shot"));  // it was there before
  // A folder something else filled meanwhile stays.
  {
    AtomicFile file(dir / "shot/0005/x.png");
    WriteAll(dir / "shot/0005/other.txt", "kept");
  }
  EXPECT_EQ(ReadAll(dir / "shot/0005/other.txt"), "kept");
  // A committed file keeps its folders, of course.
  WriteFileAtomically(dir / "shot/0006/x.png", "whole");
  EXPECT_EQ(ReadAll(dir / "shot/0006/x.png"), "whole");
}

TEST(AtomicFile, CtrlCWhileWritingKeepsThePreviousFile) {
  TempDir dir;
  const auto target = dir / "out.txt";
  WriteAll(target, "old");
  velumbra::InterruptGuard guard;
  {
    AtomicFile file(target);
    ASSERT_TRUE(file.TryWrite("new", 3));
    std::raise(SIGINT);  // arrives while the file is being written
    EXPECT_THROW(file.Commit(), velumbra::Interrupted);
  }
  velumbra::InterruptGuard::Clear();
  EXPECT_EQ(ReadAll(target), "old");
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

TEST(AtomicFile, NewFilesGetTheUmaskPermissions) {
  // A temporary made with mkstemp would be 0600 and keep that after the
  // rename; outputs are ordinary files.
  TempDir dir;
  const mode_t old = ::umask(022);
  WriteFileAtomically(dir / "out.txt", "x");
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "out.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(AtomicFile, NothingVisibleUntilCommitAndNothingLeftWhenAbandoned) {
  TempDir dir;
  const auto target = dir / "out.txt";
  WriteAll(target, "old");
  {
    AtomicFile file(target);
    file.Write("new", 3);
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_TRUE(std::filesystem::exists(file.TemporaryPath()));
    EXPECT_EQ(file.TemporaryPath().parent_path(), target.parent_path());
  }  // dies uncommitted
  EXPECT_EQ(ReadAll(target), "old");
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

TEST(AtomicFile, FolderThatCannotBeCreated) {
  TempDir dir;
  WriteAll(dir / "plain", "a file, not a folder");
  const auto target = dir / "plain/sub/out.png";
  const std::string message = MessageOf([&] { WriteFileAtomically(target, "x"); });
  EXPECT_NE(message.find("cannot create the folder " + (dir / "plain/sub").string()), std::string::npos) << message;
  EXPECT_NE(message.find("Not a directory"), std::string::npos) << message;
  EXPECT_EQ(ReadAll(dir / "plain"), "a file, not a folder");
}

TEST(AtomicFile, ReadOnlyFolderLeavesTheTargetUntouched) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: folder permissions are not enforced";
  TempDir dir;
  const auto folder = dir / "ro";
  std::filesystem::create_directory(folder);
  WriteAll(folder / "out.png", "old");
  std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::string message = MessageOf([&] { WriteFileAtomically(folder / "out.png", "new"); });
  EXPECT_NE(message.find((folder / "out.png").string()), std::string::npos) << message;
  EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
  EXPECT_EQ(ReadAll(folder / "out.png"), "old");
}

TEST(AtomicFile, FailedWriteLeavesTheTargetUntouched) {
  // The failure a full disk gives, on the write itself; the target keeps its
  // contents and no temporary file stays behind.
  TempDir dir;
  const auto target = dir / "out.bin";
  WriteAll(target, "old");
  const std::string big(64 * 1024, 'x');
  std::string message;
  {
    FileSizeLimit limit(1000);
    message = MessageOf([&] { WriteFileAtomically(target, big); });
  }
  EXPECT_NE(message.find("cannot write " + target.string()), std::string::npos) << message;
  EXPECT_NE(message.find("File too large"), std::string::npos) << message;
  EXPECT_EQ(ReadAll(target), "old");
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

TEST(AtomicFile, FailReportsTheFailedWrite) {
  TempDir dir;
  AtomicFile file(dir / "out.bin");
  const std::string big(8192, 'y');
  {
    FileSizeLimit limit(100);
    EXPECT_FALSE(file.TryWrite(big.data(), big.size()));
  }
  const std::string message = MessageOf([&] { file.Fail("libpng's own words"); });
  EXPECT_NE(message.find("cannot write " + (dir / "out.bin").string() + ": File too large"), std::string::npos)
      << message;
  EXPECT_EQ(CountEntries(dir.Path()), 0);
  // Without a failed write, Fail gives the caller's reason.
  AtomicFile other(dir / "other.bin");
  const std::string reason = MessageOf([&] { other.Fail("bad image"); });
  EXPECT_NE(reason.find("other.bin: bad image"), std::string::npos) << reason;
  EXPECT_EQ(CountEntries(dir.Path()), 0);
}

TEST(AtomicFile, RenameOntoAFolderFailsCleanly) {
  TempDir dir;
  std::filesystem::create_directory(dir / "taken");
  WriteAll(dir / "taken/inside", "keep");
  const std::string message = MessageOf([&] { WriteFileAtomically(dir / "taken", "x"); });
  EXPECT_NE(message.find((dir / "taken").string() + ": it exists and is not a regular file"), std::string::npos)
      << message;
  EXPECT_EQ(ReadAll(dir / "taken/inside"), "keep");
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

TEST(AtomicFile, CommitAfterAFailedTryWriteFails) {
  TempDir dir;
  AtomicFile file(dir / "out.bin");
  const std::string big(8192, 'y');
  bool ok = true;
  {
    FileSizeLimit limit(100);
    ok = file.TryWrite(big.data(), big.size());
  }
  EXPECT_FALSE(ok);
  // A caller that goes on regardless cannot publish the partial file.
  const std::string message = MessageOf([&] { file.Commit(); });
  EXPECT_NE(message.find("File too large"), std::string::npos) << message;
  EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
  EXPECT_EQ(CountEntries(dir.Path()), 0);
}

}  // namespace
