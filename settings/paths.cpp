#include "settings/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace varnok::settings {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool Identify(const std::string& path, struct stat& info) { return !path.empty() && ::stat(path.c_str(), &info) == 0; }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Folders are compared as files, so that links, "." and ".." and a trailing "/" in either path do not matter.
bool SameFolder(const std::string& a, const std::string& b) {
  struct stat x {}, y {};
  return Identify(a, x) && Identify(b, y) && SameFile(x, y);
}

bool Within(std::string folder, const std::string& tree) {
  struct stat root {};
  if (!Identify(tree, root)) return false;
  for (;;) {
    struct stat info {};
    if (Identify(folder, info) && SameFile(info, root)) return true;
    if (folder == "/" || folder == ".") return false;
    folder = FolderOf(folder);
  }
}

// Root owns the folders a package or an administrator installs into; a file written there by root would be shared
// by every user and outlive the package. The build tree is the exception: whoever built it runs its programs there.
bool Installed(const std::string& folder, const Installation& installation) {
  if (SameFolder(folder, installation.bin_folder)) return true;
  struct stat info {};
  return Identify(folder, info) && info.st_uid == 0 && !Within(folder, installation.build_tree);
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExecutablePath() {
  // readlink does not say whether the buffer was large enough, so grow it until the result fits.
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(length));
    buffer.resize(buffer.size() * 2);
  }
}

std::string SettingsPathFor(const std::string& executable) {
  const std::size_t slash = executable.rfind('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = executable.rfind('.');
  if (dot == std::string::npos || dot < name_start) return executable + ".ini";
  return executable.substr(0, dot) + ".ini";
}

UserEnvironment CurrentEnvironment() {
  UserEnvironment environment{Variable("XDG_CONFIG_HOME"), Variable("HOME")};
  if (environment.home.empty()) {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
      environment.home = user->pw_dir;
    }
  }
  return environment;
}

Installation ThisInstallation() { return {VARNOK_INSTALL_BINDIR, VARNOK_BUILD_TREE}; }

std::string SettingsLocation(const std::string& executable, const UserEnvironment& environment,
                             const Installation& installation) {
  const std::string beside = SettingsPathFor(executable);
  const std::string folder = FolderOf(beside);
  // Beside a copy of one's own, a file that is already there keeps being used, whoever may write it: stored files
  // rely on it. An installed program ignores one that an older version left there.
  struct stat info {};
  if (!Installed(folder, installation) &&
      (::lstat(beside.c_str(), &info) == 0 || ::access(folder.c_str(), W_OK) == 0)) {
    return beside;
  }
  // The XDG base directory rules ask to ignore a relative XDG_CONFIG_HOME.
  if (environment.xdg_config_home.starts_with('/')) return environment.xdg_config_home + "/varnok/varnok.ini";
  if (environment.home.starts_with('/')) return environment.home + "/.config/varnok/varnok.ini";
  return beside;
}

bool MakeSettingsFolder(const std::string& settings_path) {
  const std::string folder = FolderOf(settings_path);
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (folder != "/" && folder != "." && !MakeSettingsFolder(folder)) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace varnok::settings
