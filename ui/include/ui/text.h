#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace varnok::ui {

// An 8-bit text as a control shows it: Latin-1, kept up to its first byte 0.
QString ToQt(std::string_view text);

// A control's text as 8-bit Latin-1 bytes (characters outside Latin-1 become "?").
std::string FromQt(const QString& text);

// A tooltip that shows the hint text as it is, even when it looks like markup.
QString PlainToolTip(const QString& hint);

}  // namespace varnok::ui
