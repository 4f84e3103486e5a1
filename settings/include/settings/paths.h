#pragma once

#include <string>

namespace varnok::settings {

// The folder of a path: "." for a bare name, "/" for a name in the root folder.
std::string FolderOf(const std::string& path);

// The full path of the running executable, or an empty text when the system cannot tell it.
std::string ExecutablePath();

// The settings file of an executable: its path with the file name's extension replaced by ".ini",
// or ".ini" appended when the file name has none.
std::string SettingsPathFor(const std::string& executable);

// The variables of the environment that name a user's configuration folder.
struct UserEnvironment {
  std::string xdg_config_home;  // XDG_CONFIG_HOME, empty when unset
  std::string home;             // HOME, empty when unset
};

// The running program's environment; HOME falls back to the user's home folder in the user database.
UserEnvironment CurrentEnvironment();

// Where the settings of executable live: beside it (SettingsPathFor) when something of that name is already
// there or the user may write to its folder; otherwise "varnok/varnok.ini" in the user's configuration folder
// ($XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config). Beside the executable as well when the
// environment names no folder at all.
std::string SettingsLocation(const std::string& executable, const UserEnvironment& environment);

// Creates the folders above a settings file that are missing, for the user only (mode 0700); false when one cannot
// be made.
bool MakeSettingsFolder(const std::string& settings_path);

}  // namespace varnok::settings
