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

// Where this build puts its programs when installed, and where it was built; both known at build time.
struct Installation {
  std::string bin_folder;  // the install prefix's bin folder (CMAKE_INSTALL_FULL_BINDIR)
  std::string build_tree;  // the build folder, whose programs are never installed ones
};

// The running program's build: its configured bin folder and its build folder.
Installation ThisInstallation();

// Where the settings of executable live. An installed executable (in the installation's bin folder, or in any
// folder root owns outside the build tree, whoever runs it) keeps them in the user's configuration folder, and a file
// beside it, even one already there, is not its settings file. Any other one (a build tree, a copy in a folder of
// one's own) keeps them beside it (SettingsPathFor) when something of that name is already there or the user may
// write to its folder, else in the configuration folder too. That folder's file is "varnok/varnok.ini" in
// $XDG_CONFIG_HOME when that is an absolute path, else in $HOME/.config. Only when the environment names no folder at
// all do the settings lie beside the executable, installed or not.
std::string SettingsLocation(const std::string& executable, const UserEnvironment& environment,
                             const Installation& installation = ThisInstallation());

// Creates the folders above a settings file that are missing, for the user only (mode 0700); false when one cannot
// be made.
bool MakeSettingsFolder(const std::string& settings_path);

}  // namespace varnok::settings
