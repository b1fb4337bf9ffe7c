// The host's file service: names resolve against the folder the host sets,
// a file's stamp changes with its content, and every failure names the
// file and what is wrong.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "plugin/host.h"
#include "support/temp_dir.h"

namespace {

void Write(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

// Restores the process's service to the current folder.
struct FolderScope {
  ~FolderScope() { GetFileService()->SetFolder({}); }
};

TEST(FileService, RelativeNamesResolveAgainstTheHostsFolder) {
  FolderScope scope;
  FileService& files = *GetFileService();
  EXPECT_EQ(files.Resolve("stars.dat"), "stars.dat") << "the current folder until the host sets one";
  files.SetFolder("/scenes/shot1");
  EXPECT_EQ(files.Resolve("cat/stars.dat"), "/scenes/shot1/cat/stars.dat");
  EXPECT_EQ(files.Resolve("/usr/share/kstars/stars.dat"), "/usr/share/kstars/stars.dat");
  files.SetFolder("/scenes/shot1/");
  EXPECT_EQ(files.Resolve("stars.dat"), "/scenes/shot1/stars.dat");
  EXPECT_EQ(files.Resolve(""), "");
  EXPECT_EQ(files.Resolve(nullptr), "");
}

TEST(FileService, ReadGivesTheBytesAndTheStampOfWhatItRead) {
  FolderScope scope;
  TempDir dir;
  const std::string text("line one\n\0binary\xff", 17);
  Write(dir / "a.dat", text);
  FileService& files = *GetFileService();
  files.SetFolder(dir.Path().string());
  std::string bytes, error;
  FileStamp read, stamp;
  ASSERT_EQ(files.Read("a.dat", bytes, read, error), FILE_OK) << error;
  EXPECT_EQ(bytes, text);
  EXPECT_EQ(read.path, (dir / "a.dat").string());
  EXPECT_EQ(read.size, text.size());
  ASSERT_EQ(files.Stamp("a.dat", stamp, error), FILE_OK) << error;
  EXPECT_EQ(stamp, read);
  // A new version: its stamp differs (here the time; a rewrite within the
  // clock's resolution still changes the size).
  Write(dir / "a.dat", text + "more");
  std::filesystem::last_write_time(dir / "a.dat",
                                   std::filesystem::last_write_time(dir / "a.dat") + std::chrono::seconds(2));
  ASSERT_EQ(files.Stamp("a.dat", stamp, error), FILE_OK);
  EXPECT_NE(stamp, read);
  EXPECT_EQ(stamp.size, text.size() + 4);
  // An empty file is a file.
  Write(dir / "empty", "");
  ASSERT_EQ(files.Read("empty", bytes, read, error), FILE_OK);
  EXPECT_EQ(bytes, "");
}

TEST(FileService, FailuresNameTheFileAndLeaveTheOutputsAlone) {
  TempDir dir;
  FileService& files = *GetFileService();
  std::string bytes = "kept", error;
  FileStamp stamp;
  stamp.size = 7;
  const std::string missing = (dir / "no" / "such.dat").string();
  EXPECT_EQ(files.Read(missing.c_str(), bytes, stamp, error), FILE_NOT_FOUND);
  EXPECT_EQ(error, missing + ": no such file");
  EXPECT_EQ(files.Stamp(dir.Path().c_str(), stamp, error), FILE_NOT_A_FILE);
  EXPECT_EQ(error, dir.Path().string() + ": a folder, not a file");
  EXPECT_EQ(files.Read("", bytes, stamp, error), FILE_NOT_FOUND);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(files.Read((dir / "fifo").c_str(), bytes, stamp, error), FILE_NOT_A_FILE) << "no wait on a pipe";
  if (::geteuid() != 0) {  // root reads anything
    Write(dir / "locked", "x");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
    EXPECT_EQ(files.Read((dir / "locked").c_str(), bytes, stamp, error), FILE_UNREADABLE);
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  }
  EXPECT_EQ(bytes, "kept");
  EXPECT_EQ(stamp.size, 7u);
}

}  // namespace
