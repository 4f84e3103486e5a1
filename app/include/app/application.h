#pragma once

#include <QApplication>

#include <cstddef>

class QThreadPool;

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

// Whether the address space limit of the process (ulimit -v) leaves room for a further `bytes`.
bool AddressSpaceLeft(std::size_t bytes);

// Makes the threads of a pool now, as many as it may run at once but at most four, and keeps them for the pool's
// life, so that work given to it later never waits for a thread that cannot be made. Returns false when a thread
// could not be made: the pool then holds work that never runs, and waiting for it, as the pool's end does, hangs.
bool KeepPoolThreads(QThreadPool& pool);

// "Out of memory!!" in the library's error dialog (one at a time), then an orderly end of the program once the
// current event is done.
void ReportOutOfMemory(QWidget* owner);

}  // namespace varnok
