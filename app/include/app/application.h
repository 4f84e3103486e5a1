#pragma once

#include <QApplication>

namespace varnok {

// The application object: an exception that escapes an event handler is shown by the standard exception
// report, and the program goes on with the next event; memory that runs out there ends the program as
// ReportOutOfMemory does.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the standard exception report for the exception being handled.
void ReportCurrentException();

// "Out of memory!!" in the library's error dialog (one at a time), then an orderly end of the program once the
// current event is done.
void ReportOutOfMemory(QWidget* owner);

}  // namespace varnok
