#include "settings/paths.h"

#include <gtest/gtest.h>

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

TEST(ExecutablePath, NamesTheRunningProgram) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(path.ends_with("/varnok_settings_tests")) << path;
}

}  // namespace
}  // namespace varnok::settings
