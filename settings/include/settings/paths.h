#pragma once

#include <string>

namespace varnok::settings {

// The full path of the running executable, or an empty text when the system cannot tell it.
std::string ExecutablePath();

// The settings file of an executable: its path with the file name's extension replaced by ".ini",
// or ".ini" appended when the file name has none.
std::string SettingsPathFor(const std::string& executable);

}  // namespace varnok::settings
