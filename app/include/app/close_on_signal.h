#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

namespace varnok {

// Closes a window, as its close button does, when the process receives SIGTERM or SIGINT: a terminal's Ctrl+C or a
// session's end then saves the settings like any close. A second signal once a close was asked for, handled or not,
// ends the program at once with status 128 + the signal's number, whatever the event loop is doing. One instance at a
// time.
class CloseOnSignal : public QObject {
 public:
  explicit CloseOnSignal(QWidget* window);
  ~CloseOnSignal() override;

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace varnok
