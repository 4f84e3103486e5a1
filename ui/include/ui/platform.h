#pragma once

#include <QString>
#include <string>

namespace varnok::ui {

// The application title of an executable: its file name cut at the first ".", the first letter in
// upper case and every character after it in lower case.
QString ApplicationTitle(const std::string& executable);

// The application title of the running executable; the caption of every message box.
QString ApplicationTitle();

}  // namespace varnok::ui
