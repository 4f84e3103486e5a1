#include "ui/events.h"

#include <QApplication>

namespace varnok::ui {

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace varnok::ui
