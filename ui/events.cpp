#include "ui/events.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QThread>

namespace varnok::ui {

namespace {

// A zero-interval timer keeps the event queue from ever running empty; the cap ends the drain anyway.
constexpr int kMaxEventRounds = 1000;

}  // namespace

void ProcessPendingEvents() {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
  if (dispatcher == nullptr) return;
  for (int round = 0; round < kMaxEventRounds && dispatcher->processEvents(QEventLoop::AllEvents); ++round) {
  }
}

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace varnok::ui
