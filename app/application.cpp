#include "app/application.h"

#include <QIcon>
#include <QSemaphore>
#include <QStyle>
#include <QStyleFactory>
#include <QThreadPool>
#include <QTimer>

#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>

#include "ui/dialogs.h"
#include "ui/fonts.h"
#include "ui/platform.h"

namespace varnok {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // The classic style draws group frames with their caption on the frame line and 3D buttons, as the
  // windows were designed.
  if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) setStyle(classic);
  // Message boxes and the file dialog use the design font like the windows.
  setFont(ui::DesignFont());
  // The title names the program on the desktop (the X11 window class); every message box shows it.
  setApplicationName(ui::ApplicationTitle());
  // Every window shows the program's icon, in each size drawn for it; Wayland desktops take the icon from
  // the desktop entry of this name instead.
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/%1x%1.png").arg(size));
  setWindowIcon(icon);
  setDesktopFileName(QStringLiteral("org.example.Varnok"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(QApplication::activeWindow());
    return false;
  } catch (...) {
    ReportCurrentException();
    return false;
  }
}

bool AddressSpaceLeft(std::size_t bytes) {
  static const rlim_t limit = [] {
    rlimit current{};
    return ::getrlimit(RLIMIT_AS, &current) == 0 ? current.rlim_cur : RLIM_INFINITY;
  }();
  if (limit == RLIM_INFINITY) return true;
  // A mapping that is never touched costs no memory, but counts against the limit like any other.
  void* probe = ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (probe == MAP_FAILED) return false;
  ::munmap(probe, bytes);
  return true;
}

bool KeepPoolThreads(QThreadPool& pool) {
  // Qt's raster engine and image conversions split large work over the global pool and wait for every part. The
  // pool makes a thread when work comes and no idle thread is left; when the thread cannot be made (the address
  // space is used up) the pool still counts it and its part never runs, so the wait never ends. Threads made now,
  // while memory is plenty, and never expired mean that no thread is made later. Their stacks are address space
  // held for good, hence the cap on their number and size; the toolkit's parts keep buffers of some KiB there.
  constexpr int kMostThreads = 4;
  constexpr uint kStackBytes = 512 * 1024;
  // A thread that has not begun in this time never will: its creation failed.
  constexpr int kStartMilliseconds = 10000;
  pool.setExpiryTimeout(-1);
  pool.setStackSize(kStackBytes);
  pool.setMaxThreadCount(std::clamp(pool.maxThreadCount(), 1, kMostThreads));
  const int count = pool.maxThreadCount();
  // Each part holds its thread until all have begun, so that no thread takes two; the semaphores outlive this call
  // for a thread that begins late.
  const auto begun = std::make_shared<QSemaphore>();
  const auto go = std::make_shared<QSemaphore>();
  for (int i = 0; i < count; ++i) {
    pool.start([begun, go] {
      begun->release();
      go->acquire();
    });
  }
  const bool all = begun->tryAcquire(count, kStartMilliseconds);
  go->release(count);
  return all;
}

void ReportOutOfMemory(QWidget* owner) {
  // Handlers that run while the dialog is up may run out as well; the program is ending, one dialog says it.
  static bool ending = false;
  if (ending) return;
  ending = true;
  ui::ShowOutOfMemory(owner);
  QTimer::singleShot(0, qApp, [] {
    ending = false;
    QCoreApplication::quit();
  });
}

void ReportCurrentException() {
  QWidget* const owner = QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget()
                                                                      : QApplication::activeWindow();
  try {
    throw;
  } catch (const std::exception& error) {
    ui::ShowExceptionReport(owner, error.what());
  } catch (...) {
    ui::ShowExceptionReport(owner, "");
  }
}

}  // namespace varnok
