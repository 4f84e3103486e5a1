#include "app/application.h"

#include <QIcon>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <exception>
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

void ReportOutOfMemory(QWidget* owner) {
  // Handlers that run while the dialog is up may run out as well; the program is ending, one dialog says it.
  static bool ending = false;
  if (ending) return;
  ending = true;
  ui::ShowErrorDialog(owner, QStringLiteral("Out of memory!!"));
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
