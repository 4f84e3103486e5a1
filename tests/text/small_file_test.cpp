#include "text/small_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace varnok {
namespace {

namespace fs = std::filesystem;

TEST(ReadSmallFile, ReadsRegularFilesUpToTheLimitAndRefusesTheRest) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("small_file_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "folder");
  const auto write = [&](const char* name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
  };
  write("empty", "");
  write("at_limit", std::string(8, 'a'));
  write("over_limit", std::string(9, 'a'));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // nobody writes it: an open that waits would hang here
  const struct {
    const char* name;
    SmallFileKinds kinds;
    SmallFileStatus status;
    std::string text;
    int error;
  } cases[] = {
      {"empty", SmallFileKinds::kRegular, SmallFileStatus::kOk, "", 0},
      {"at_limit", SmallFileKinds::kRegular, SmallFileStatus::kOk, "aaaaaaaa", 0},
      {"over_limit", SmallFileKinds::kRegular, SmallFileStatus::kTooLarge, "", 0},
      {"missing", SmallFileKinds::kRegular, SmallFileStatus::kMissing, "", ENOENT},
      {"folder", SmallFileKinds::kRegular, SmallFileStatus::kNotRegular, "", EISDIR},
      {"folder", SmallFileKinds::kStreams, SmallFileStatus::kNotRegular, "", EISDIR},
      {"fifo", SmallFileKinds::kRegular, SmallFileStatus::kNotRegular, "", 0},
      {"fifo", SmallFileKinds::kStreams, SmallFileStatus::kOk, "", 0},  // no writer: its end at once
      {"/dev/zero", SmallFileKinds::kRegular, SmallFileStatus::kNotRegular, "", 0},
      {"/dev/zero", SmallFileKinds::kStreams, SmallFileStatus::kTooLarge, "", 0},
  };
  for (const auto& c : cases) {
    const std::string path = c.name[0] == '/' ? std::string(c.name) : (dir / c.name).string();
    const SmallFile file = ReadSmallFile(path, 8, c.kinds);
    EXPECT_EQ(file.status, c.status) << c.name;
    EXPECT_EQ(file.text, c.text) << c.name;
    EXPECT_EQ(file.error, c.error) << c.name;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace varnok
