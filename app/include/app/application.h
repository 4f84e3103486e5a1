#pragma once

#include <QApplication>

namespace varnok {

// The application object: an exception that escapes an event handler is shown by the standard exception
// report, and the program goes on with the next event.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the standard exception report for the exception being handled.
void ReportCurrentException();

}  // namespace varnok
