#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>

namespace varnok::settings {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnok_ini_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "varnok.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
  std::string Get() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  std::string path_;
};

TEST(ParseIniInteger, AcceptsEveryStoredForm) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"16", 16},           {"0x10", 16},          {"0X10", 16},        {"$10", 16},
      {"x10", 16},          {"X10", 16},           {"012", 12},         {"-20", -20},
      {"+20", 20},          {"  7", 7},            {"0", 0},            {"-0", 0},
      {"2147483647", 2147483647},                  {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},    {"$ffffffff", -1},     {"0x0000000080000000", INT32_MIN},
      {"$7fffffff", 2147483647},                   {"  $1f", 31},       {" 0x1F", 31},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseIniInteger(c.text), std::optional<std::int32_t>(c.value)) << c.text;
  }
}

TEST(ParseIniInteger, RefusesEverythingElse) {
  const char* cases[] = {"",   "12x",  "1e3",        "-0x10",      "+$10",      "$",   "0x",         "x",
                         "-",  "+",    "2147483648", "-2147483649", "$100000000", "12 ", "1 2",       "\t5",
                         "- 5", "0x-5", "$G",        "--5",        "99999999999999999999",  "0b101"};
  for (const char* text : cases) EXPECT_EQ(ParseIniInteger(text), std::nullopt) << '"' << text << '"';
}

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
  const TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("file", "name", "No file selected yet..."), "No file selected yet...");
  EXPECT_EQ(ini.ReadInteger("app", "top", 296), 296);
  EXPECT_FALSE(fs::exists(path_)) << "reading never creates the file";

  Put("[app]\ntop=16\n");
  EXPECT_EQ(ini.ReadInteger("app", "top", 296), 16);
  EXPECT_EQ(ini.ReadInteger("app", "left", 495), 495);
  EXPECT_EQ(ini.ReadString("file", "path", "none"), "none");
}

TEST_F(IniFileTest, ReadsNamesWithoutRegardToCase) {
  Put("; comment=1\n[APP]\n  Top = 12  \nleft=\n[file]\nname=a=b.s\n");
  const TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("app", "TOP", 0), 12);
  EXPECT_EQ(ini.ReadString("App", "left", "x"), "") << "an empty value is not the default";
  EXPECT_EQ(ini.ReadInteger("app", "left", 495), 495);
  EXPECT_EQ(ini.ReadString("FILE", "NAME", ""), "a=b.s");
  EXPECT_EQ(ini.ReadString("", "; comment", "d"), "d");
}

TEST_F(IniFileTest, LongValuesAreCutTo2047Characters) {
  const std::string name(3000, 'n');
  Put("[file]\nname=" + name + "\n");
  TIniFile ini(path_);
  const std::string read = ini.ReadString("file", "name", "");
  EXPECT_EQ(read, name.substr(0, 2047));
  ini.WriteString("file", "name", read);
  EXPECT_EQ(Get(), "[file]\nname=" + name.substr(0, 2047) + "\n");
}

TEST_F(IniFileTest, FirstWritesCreateTheFileInOrder) {
  TIniFile ini(path_);
  ini.WriteInteger("app", "top", -20);
  ini.WriteInteger("app", "left", 495);
  ini.WriteString("file", "name", "demo.s19");
  ini.WriteString("file", "path", "/home/user/");
  EXPECT_EQ(Get(), "[app]\ntop=-20\nleft=495\n[file]\nname=demo.s19\npath=/home/user/\n");
  EXPECT_EQ(ini.ReadInteger("app", "top", 0), -20);
}

TEST_F(IniFileTest, WritesReplaceInPlaceAndKeepEveryOtherLine) {
  Put("# kept\r\n[other]\r\ntop=9\r\n\r\n[App]\r\nTOP = 1 \r\n; note\r\nleft=2\r\n\r\n[tail]\r\nx=y");
  TIniFile ini(path_);
  ini.WriteInteger("app", "top", 300);
  ini.WriteString("app", "new", "v");
  ini.WriteString("file", "name", "f.s");
  ini.WriteString("tail", "z", "1");
  EXPECT_EQ(Get(),
            "# kept\r\n[other]\r\ntop=9\r\n\r\n[App]\r\nTOP = 300 \r\n; note\r\nleft=2\r\nnew=v\r\n\r\n"
            "[tail]\r\nx=y\r\nz=1\r\n[file]\r\nname=f.s\r\n");
}

TEST_F(IniFileTest, AValueEndsAtItsFirstLineBreak) {
  TIniFile ini(path_);
  ini.WriteString("file", "name", "a.s\n[app]\ntop=1");
  EXPECT_EQ(Get(), "[file]\nname=a.s\n");
}

TEST_F(IniFileTest, AFailedWriteRaisesAndLeavesTheFileAlone) {
  // A folder in the file's place cannot be read or replaced, whoever runs the test.
  fs::create_directory(path_);
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("app", "top", 296), 296);
  try {
    ini.WriteInteger("app", "top", 1);
    FAIL() << "no exception";
  } catch (const EIniFileException& error) {
    EXPECT_STREQ(error.what(), ("In " + path_ + " kann nicht geschrieben werden").c_str());
  }
  EXPECT_TRUE(fs::is_directory(path_));

  TIniFile missing_folder((dir_ / "gone" / "varnok.ini").string());
  EXPECT_THROW(missing_folder.WriteString("file", "name", "x"), EIniFileException);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "no temporary file is left";
}

TEST_F(IniFileTest, OnlyARegularFileOfAtMost1MiBIsASettingsFile) {
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
  } cases[] = {
      {"a FIFO without a writer", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
      {"a link to /dev/zero", [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
      {"a folder", [](const std::string& path) { fs::create_directory(path); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(path_);
    c.make(path_);
    const auto type = fs::symlink_status(path_).type();
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("app", "top", 296), 296);
    EXPECT_EQ(ini.ReadString("file", "name", "none"), "none");
    EXPECT_THROW(ini.WriteInteger("app", "top", 1), EIniFileException);
    EXPECT_EQ(fs::symlink_status(path_).type(), type) << "left in place";
  }
  // A regular file too large to be settings reads as absent, and the first write replaces it as if it were.
  fs::remove_all(path_);
  Put("[app]\ntop=16\n" + std::string(2u << 20, ';'));
  TIniFile large(path_);
  EXPECT_EQ(large.ReadInteger("app", "top", 296), 296);
  large.WriteInteger("app", "top", 1);
  EXPECT_EQ(Get(), "[app]\ntop=1\n");
  fs::remove_all(path_);
  Put("[app]\ntop=16\n" + std::string((1u << 20) - 13, ';'));
  EXPECT_EQ(TIniFile(path_).ReadInteger("app", "top", 296), 16) << "exactly 1 MiB is read";
}

TEST_F(IniFileTest, AWriteKeepsTheFileModeAndALinkInPlace) {
  const std::string target = (dir_ / "real.ini").string();
  std::ofstream(target) << "[app]\ntop=1\n";
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  fs::create_symlink(target, path_);
  TIniFile ini(path_);
  ini.WriteInteger("app", "top", 2);
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(ini.ReadInteger("app", "top", 0), 2);
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace varnok::settings
