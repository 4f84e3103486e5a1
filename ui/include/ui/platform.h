#pragma once

#include <QString>
#include <string>

namespace varnok::ui {

// The full path of the running executable, or an empty text when the system cannot tell it.
std::string ExecutablePath();

// The settings file of an executable: its path with the file name's extension replaced by ".ini",
// or ".ini" appended when the file name has none.
std::string SettingsPathFor(const std::string& executable);

// The application title of an executable: its file name cut at the first ".", the first letter in
// upper case and every character after it in lower case.
QString ApplicationTitle(const std::string& executable);

// The application title of the running executable; the caption of every message box.
QString ApplicationTitle();

}  // namespace varnok::ui
