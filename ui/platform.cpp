#include "ui/platform.h"

#include "settings/paths.h"
#include "ui/text.h"

namespace varnok::ui {

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
  static const QString title = ApplicationTitle(settings::ExecutablePath());
  return title;
}

}  // namespace varnok::ui
