#include "ui/platform.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "ui/text.h"

namespace varnok::ui {

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

QString ApplicationTitle(const std::string& executable) {
  const std::size_t slash = executable.rfind('/');
  std::string name = executable.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  // Only ASCII letters are folded: the name is an 8-bit text without a known code page. The first
  // letter is raised, so the lower-case executable names usual here give the program's name ("Varnok").
  if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  }
  return ToQt(name);
}

QString ApplicationTitle() {
  static const QString title = ApplicationTitle(ExecutablePath());
  return title;
}

}  // namespace varnok::ui
