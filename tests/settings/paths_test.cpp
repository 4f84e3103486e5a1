#include "settings/paths.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace varnok::settings {
namespace {

TEST(SettingsPathFor, ReplacesTheFileNamesExtension) {
  const struct {
    const char* executable;
    const char* settings;
  } cases[] = {
      {"/opt/varnok/varnok", "/opt/varnok/varnok.ini"},
      {"/opt/varnok/varnok.bin", "/opt/varnok/varnok.ini"},
      {"/opt/varnok/varnok.tar.gz", "/opt/varnok/varnok.tar.ini"},
      {"/opt/v1.2/varnok", "/opt/v1.2/varnok.ini"},
      {"varnok.exe", "varnok.ini"},
      {"/opt/.hidden", "/opt/.ini"},
  };
  for (const auto& c : cases) EXPECT_EQ(SettingsPathFor(c.executable), c.settings) << c.executable;
}

TEST(SettingsLocation, BesideTheExecutableUnlessItsFolderIsClosedToTheUser) {
  std::string folder = (std::filesystem::temp_directory_path() / "varnok_paths_XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  // Nobody may write to /proc/self, root included, and nothing named varnok.ini lies there.
  const std::string closed = "/proc/self/varnok";
  const struct {
    std::string executable;
    UserEnvironment environment;
    std::string settings;
  } cases[] = {
      {folder + "/varnok", {"/xdg", "/home/u"}, folder + "/varnok.ini"},
      {closed, {"/xdg", "/home/u"}, "/xdg/varnok/varnok.ini"},
      {closed, {"", "/home/u"}, "/home/u/.config/varnok/varnok.ini"},
      {closed, {"relative", "/home/u"}, "/home/u/.config/varnok/varnok.ini"},
      {closed, {"", ""}, "/proc/self/varnok.ini"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SettingsLocation(c.executable, c.environment), c.settings) << c.executable << " " << c.environment.xdg_config_home;
  }
  std::filesystem::remove_all(folder);
}

TEST(MakeSettingsFolder, MakesTheMissingFoldersForTheUserOnly) {
  std::string folder = (std::filesystem::temp_directory_path() / "varnok_paths_XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  EXPECT_TRUE(MakeSettingsFolder(folder + "/.config/varnok/varnok.ini"));
  EXPECT_TRUE(std::filesystem::is_directory(folder + "/.config/varnok"));
  EXPECT_EQ(std::filesystem::status(folder + "/.config").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_TRUE(MakeSettingsFolder(folder + "/.config/varnok/varnok.ini")) << "already there";
  std::ofstream(folder + "/file") << "x";
  EXPECT_FALSE(MakeSettingsFolder(folder + "/file/varnok/varnok.ini"));
  std::filesystem::remove_all(folder);
}

TEST(ExecutablePath, NamesTheRunningProgram) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(path.ends_with("/varnok_settings_tests")) << path;
}

}  // namespace
}  // namespace varnok::settings
