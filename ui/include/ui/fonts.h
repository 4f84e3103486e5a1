#pragma once

#include <QFont>

namespace varnok::ui {

// The designed dialog font ("MS Sans Serif", 8 points): a sans face whose characters are 11 pixels high.
QFont DesignFont();

// The designed fixed-pitch font ("Courier new") at the design font's character height.
QFont FixedFont();

}  // namespace varnok::ui
