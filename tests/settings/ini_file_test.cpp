#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/file_size_cap.h"
#include "support/files.h"

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
  std::string Get() const { return test::Slurp(path_); }

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
  try {
    ini.WriteInteger("app", "top", 1);
    FAIL() << "no exception";
  } catch (const EIniFileException& error) {
    EXPECT_STREQ(error.what(), ("In " + path_ + " kann nicht geschrieben werden").c_str());
  }

  TIniFile missing_folder((dir_ / "gone" / "varnok.ini").string());
  EXPECT_THROW(missing_folder.WriteString("file", "name", "x"), EIniFileException);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "no temporary file is left";
}

// Everything in a folder and in its folder "elsewhere": each entry's type and, for a regular file, its contents or,
// for a link, its target.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  std::vector<fs::directory_entry> all{fs::directory_iterator(folder), fs::directory_iterator()};
  all.insert(all.end(), fs::directory_iterator(folder / "elsewhere"), fs::directory_iterator());
  for (const auto& entry : all) {
    const std::string name = entry.path().lexically_relative(folder).string();
    const auto type = entry.symlink_status().type();
    std::string& shown = entries[name] = std::to_string(static_cast<int>(type)) + ":";
    if (type == fs::file_type::symlink) {
      shown += fs::read_symlink(entry.path()).string();
    } else if (type == fs::file_type::regular) {
      shown += test::Slurp(entry.path());
    }
  }
  return entries;
}

// Makes a file of that name and contents in the folder elsewhere and a link to it at the path.
std::function<void(const fs::path&, const fs::path&)> LinkElsewhere(const std::string& name, const std::string& contents) {
  return [name, contents](const fs::path& path, const fs::path& elsewhere) {
    std::ofstream(elsewhere / name) << contents;
    fs::create_symlink(elsewhere / name, path);
  };
}

TEST_F(IniFileTest, OnlyARegularFileOfAtMost1MiBIsASettingsFile) {
  const std::string settings = "[app]\ntop=16\n";
  const std::string document = "[app]\ntop=16\n" + std::string(2u << 20, ';');
  const struct {
    const char* what;
    std::function<void(const fs::path& path, const fs::path& elsewhere)> make;
    bool full_disk;
    std::int32_t top;  // read before the write
    bool written;
  } cases[] = {
      {"nothing", [](const fs::path&, const fs::path&) {}, false, 296, true},
      {"a regular file", [&](const fs::path& path, const fs::path&) { std::ofstream(path) << settings; }, false, 16, true},
      {"a link to a settings file in another folder", LinkElsewhere("dotfile.ini", settings), false, 16, true},
      {"a larger file", [&](const fs::path& path, const fs::path&) { std::ofstream(path) << document; }, false, 296, false},
      {"a link to a larger document", LinkElsewhere("document.txt", document), false, 296, false},
      {"a FIFO without a writer", [](const fs::path& path, const fs::path&) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       false, 296, false},
      {"a link to /dev/zero", [](const fs::path& path, const fs::path&) { fs::create_symlink("/dev/zero", path); }, false,
       296, false},
      {"a folder", [](const fs::path& path, const fs::path&) { fs::create_directory(path); }, false, 296, false},
      {"a dangling link", [](const fs::path& path, const fs::path& elsewhere) { fs::create_symlink(elsewhere / "gone", path); },
       false, 296, false},
      {"a link loop", [](const fs::path& path, const fs::path&) { fs::create_symlink(path.filename(), path); }, false,
       296, false},
      {"a settings file on a full disk", [&](const fs::path& path, const fs::path&) { std::ofstream(path) << settings; },
       true, 16, false},
      {"no file on a full disk", [](const fs::path&, const fs::path&) {}, true, 296, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "elsewhere");
    c.make(path_, dir_ / "elsewhere");
    const auto before = Snapshot(dir_);
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("app", "top", 296), c.top);
    bool raised = false;
    {
      std::optional<test::FileSizeCap> full;  // writes beyond a few bytes fail as on a full disk
      if (c.full_disk) full.emplace(4);
      try {
        ini.WriteStrings(std::array<IniEntry, 2>{{{"app", "top", "1"}, {"file", "name", "x.s"}}});
      } catch (const EIniFileException&) {
        raised = true;
      }
    }
    EXPECT_EQ(raised, !c.written);
    auto after = Snapshot(dir_);
    if (c.written) {
      EXPECT_EQ(ini.ReadInteger("app", "top", 296), 1);
      EXPECT_EQ(ini.ReadString("file", "name", ""), "x.s");
      // The settings changed where they live and nothing else did: a link stays, and no temporary file is left.
      const std::string holder = fs::relative(fs::canonical(path_), dir_).string();
      auto others = before;
      others.erase(holder);
      after.erase(holder);
      EXPECT_EQ(after, others);
    } else {
      EXPECT_EQ(after, before) << "left untouched, and no temporary file is left";
    }
  }
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  Put(settings + std::string((1u << 20) - settings.size(), ';'));
  EXPECT_EQ(TIniFile(path_).ReadInteger("app", "top", 296), 16) << "exactly 1 MiB is read";
}

// Each of several writers stores, again and again, its own name and path and a counter key of its own, all at once.
TEST_F(IniFileTest, ConcurrentWritesFollowOneAnother) {
  constexpr int kWriters = 4;
  constexpr int kRounds = 40;
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<pid_t> writers;
  for (int i = 0; i < kWriters; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      char go;
      if (::read(start[0], &go, 1) != 1) ::_exit(2);
      const std::string me = "writer" + std::to_string(i);
      TIniFile ini(path_);
      for (int round = 1; round <= kRounds; ++round) {
        const std::string count = std::to_string(round);
        try {
          ini.WriteStrings(std::array<IniEntry, 3>{{{"file", "name", me}, {"file", "path", me}, {"count", me, count}}});
        } catch (const EIniFileException&) {
          ::_exit(1);
        }
      }
      ::_exit(0);
    }
    writers.push_back(pid);
  }
  ASSERT_EQ(::write(start[1], std::string(kWriters, 'g').data(), kWriters), kWriters);
  int torn = 0;
  std::vector<int> statuses(kWriters, -1);
  for (bool running = true; running;) {
    running = false;
    for (int i = 0; i < kWriters; ++i) {
      if (statuses[i] == -1 && ::waitpid(writers[i], &statuses[i], WNOHANG) != writers[i]) {
        statuses[i] = -1;
        running = true;
      }
    }
    const std::string text = Get();
    const std::size_t name = text.find("name=");
    const std::size_t path = text.find("path=");
    if (name == std::string::npos || path == std::string::npos) continue;
    if (text.substr(name + 5, 7) != text.substr(path + 5, 7)) ++torn;
  }
  for (const int status : statuses) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(start[0]);
  ::close(start[1]);
  EXPECT_EQ(torn, 0) << "a reader saw the name of one writer with the path of another";
  const TIniFile ini(path_);
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_EQ(ini.ReadInteger("count", "writer" + std::to_string(i), 0), kRounds) << "no write is lost";
  }
  EXPECT_EQ(ini.ReadString("file", "name", ""), ini.ReadString("file", "path", ""));
}

TEST_F(IniFileTest, AKillAtAnyPointLeavesNoTemporaryFile) {
  Put("[app]\ntop=16\n");
  const std::string long_value(100000, 'v');
  for (int kill = 0; kill < 40; ++kill) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      TIniFile ini(path_);
      for (;;) ini.WriteStrings(std::array<IniEntry, 2>{{{"app", "top", std::to_string(kill)}, {"file", "name", long_value}}});
    }
    // Kills land at different points of the writes, a few milliseconds apart.
    ::usleep(static_cast<useconds_t>(500 + 250 * kill));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    // At most the one fixed temporary name stands between a kill and the next write.
    ASSERT_LE(names.size(), 2u);
    if (names.size() == 2) {
      EXPECT_EQ(names[1], "varnok.ini.tmp");
    }
    EXPECT_EQ(names[0], "varnok.ini");
    EXPECT_TRUE(Get().starts_with("[app]\ntop=")) << "the settings file is whole";
  }
  TIniFile(path_).WriteString("app", "top", "1");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "the next write cleared it";
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
