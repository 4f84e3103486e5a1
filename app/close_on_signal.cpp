#include "app/close_on_signal.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace varnok {

namespace {

// A signal handler may only write to a pipe; the event loop reads it and closes the window.
int g_pipe[2] = {-1, -1};
// Set by the first signal; the close it asks for is pending until the program ends.
volatile sig_atomic_t g_close_asked = 0;

void OnSignal(int signal) {
  // The event loop may be stuck, or the close refused: a second signal must still end the program, and _exit is
  // safe in a handler where an orderly end is not.
  if (g_close_asked != 0) ::_exit(128 + signal);
  g_close_asked = 1;
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t put = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

// A modal dialog runs an event loop of its own inside a handler of the window that opened it, and it may be a child
// of a window that the close destroys: the dialogs are closed first, and the window once control is back in the
// program's own event loop.
void CloseWhenNoDialogIsOpen(const QPointer<QWidget>& window) {
  if (window == nullptr) return;
  QWidget* dialog = QApplication::activeModalWidget();
  if (dialog != nullptr) dialog->close();
  if (dialog != nullptr || QThread::currentThread()->loopLevel() > 1) {
    QTimer::singleShot(10, window, [window] { CloseWhenNoDialogIsOpen(window); });
    return;
  }
  window->close();
}

}  // namespace

CloseOnSignal::CloseOnSignal(QWidget* window) {
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_close_asked = 0;
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, window, [window] {
    char bytes[16];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    CloseWhenNoDialogIsOpen(window);
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  // Neither signal interrupts the handler of the other, so that exactly one of two is the first.
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGINT);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

CloseOnSignal::~CloseOnSignal() {
  if (notifier_ == nullptr) return;
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
  delete notifier_;
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

}  // namespace varnok
