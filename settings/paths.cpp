#include "settings/paths.h"

#include <unistd.h>

#include <vector>

namespace varnok::settings {

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

}  // namespace varnok::settings
