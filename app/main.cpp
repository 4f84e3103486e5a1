#include <QFile>
#include <QThreadPool>
#include <QTimer>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/close_on_signal.h"
#include "app/command_line.h"
#include "app/frm_gui.h"

int main(int argc, char** argv) {
  // --help, --version and unknown "--" options are answered before the toolkit starts, so they need no display.
  if (const auto status = varnok::AnswerCommandLine(
          varnok::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), true), std::cout, std::cerr)) {
    return *status;
  }
  // The toolkit paints with the global pool's threads, made here while the least memory is taken. Without them
  // every large fill would wait for ever, and so would the toolkit's end, which waits for the pool: the program ends
  // at once, with nothing yet to save.
  if (!varnok::RoomToStart() || !varnok::KeepPoolThreads(*QThreadPool::globalInstance())) {
    std::cerr << "Out of memory!!\n";
    std::_Exit(1);
  }
  varnok::Application application(argc, argv);
  // What the toolkit left of the arguments is ours; anything it did not know is an error before any window exists.
  const varnok::CommandLine command = varnok::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), false);
  if (const auto status = varnok::AnswerCommandLine(command, std::cout, std::cerr)) return *status;
  try {
    varnok::Tfrm_GUI frm_GUI;
    const varnok::CloseOnSignal close_on_signal(&frm_GUI);
    if (command.map) frm_GUI.TickMapOption();
    frm_GUI.show();
    if (command.file) {
      const QString file = QFile::decodeName(QByteArray::fromStdString(*command.file));
      // The analysis starts once the window is on the screen, as after a click.
      QTimer::singleShot(0, &frm_GUI, [&frm_GUI, file] { frm_GUI.OpenFile(file); });
    }
    application.exec();
  } catch (...) {
    varnok::ReportCurrentException();
  }
  return 0;
}
