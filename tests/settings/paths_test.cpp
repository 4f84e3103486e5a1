#include "settings/paths.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

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

TEST(SettingsLocation, BesideACopyOfOnesOwnInTheConfigurationFolderWhenInstalled) {
  std::string folder = (std::filesystem::temp_directory_path() / "varnok_paths_XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  for (const char* sub : {"/build/app", "/own", "/prefix/bin", "/old/bin"}) std::filesystem::create_directories(folder + sub);
  std::ofstream(folder + "/old/bin/varnok.ini") << "[file]\nname=left by an older version\n";
  // Run by root (as the tests are in CI), the folders made here are root's: an own copy's folder must be another's.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((folder + "/own").c_str(), 65534, 65534), 0);
  }
  const Installation installed{folder + "/prefix/bin", folder + "/build"};
  // Nobody may write to /proc/self, root included, and nothing named varnok.ini lies there.
  const std::string closed = "/proc/self/varnok";
  const UserEnvironment user{"/xdg", "/home/u"};
  const struct {
    std::string executable;
    UserEnvironment environment;
    Installation installation;
    std::string settings;
  } cases[] = {
      {folder + "/build/app/varnok", user, installed, folder + "/build/app/varnok.ini"},
      {folder + "/own/varnok", user, installed, folder + "/own/varnok.ini"},
      {folder + "/prefix/bin/varnok", user, installed, "/xdg/varnok/varnok.ini"},
      {folder + "/prefix/bin/varnok", user, {folder + "/prefix/../prefix/bin/", ""}, "/xdg/varnok/varnok.ini"},
      {folder + "/old/bin/varnok", user, {folder + "/old/bin", ""}, "/xdg/varnok/varnok.ini"},
      // Root owns /usr/bin: root may write there, and still its settings do not go there.
      {"/usr/bin/varnok", user, installed, "/xdg/varnok/varnok.ini"},
      {closed, user, installed, "/xdg/varnok/varnok.ini"},
      {closed, {"", "/home/u"}, installed, "/home/u/.config/varnok/varnok.ini"},
      {closed, {"relative", "/home/u"}, installed, "/home/u/.config/varnok/varnok.ini"},
      {closed, {"", ""}, installed, "/proc/self/varnok.ini"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SettingsLocation(c.executable, c.environment, c.installation), c.settings)
        << c.executable << " " << c.environment.xdg_config_home << " " << c.installation.bin_folder;
  }
  // A root-owned folder that is neither the bin folder nor in the build tree counts as installed, old file or not.
  if (::geteuid() == 0) {
    EXPECT_EQ(SettingsLocation(folder + "/old/bin/varnok", user, installed), "/xdg/varnok/varnok.ini");
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
