// The main window against the suite every AnalysisDisplay passes.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

#include "app/frm_gui.h"
#include "support/display_contract.h"
#include "ui/text.h"

namespace varnok::test {
namespace {

const char* ControlName(DisplayField field) {
  switch (field) {
    case DisplayField::Module: return "lbl_Module";
    case DisplayField::Version: return "lbl_Version";
    case DisplayField::Description: return "mem_Description";
    case DisplayField::RecordLines: return "lbl_RecordLines";
    case DisplayField::TotalDatabytes: return "lbl_TotalDatabytes";
    case DisplayField::Highest: return "lbl_Highest";
    case DisplayField::Lowest: return "lbl_Lowest";
    case DisplayField::Exec: return "lbl_Exec";
  }
  return "";
}

// Runs an input as a file through the window and reads back what its labels and memos show.
struct MainWindowProbe {
  QTemporaryDir dir;
  Tfrm_GUI window{dir.filePath(QStringLiteral("varnok.ini")).toStdString()};

  void Run(const std::string& input) {
    const std::string path = dir.filePath(QStringLiteral("input.s")).toStdString();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << input;
    window.OpenFile(path);
    QElapsedTimer clock;
    clock.start();
    while (window.Busy() && clock.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_FALSE(window.Busy());
  }
  std::string Shown(DisplayField field) {
    const QString name = QString::fromLatin1(ControlName(field));
    if (auto* memo = window.findChild<QPlainTextEdit*>(name)) return ui::FromQt(memo->toPlainText());
    return ui::FromQt(window.findChild<QLabel*>(name)->text());
  }
  QLabel* StatusLabel() { return window.findChild<QLabel*>(QStringLiteral("lbl_Stat")); }
  std::string Status() { return ui::FromQt(StatusLabel()->text()); }
  StatusColour Colour() {
    const QColor colour = StatusLabel()->palette().color(QPalette::WindowText);
    return colour == QColor(128, 0, 0) ? StatusColour::Maroon : StatusColour::Black;
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(MainWindow, AnalysisDisplayContract, ::testing::Types<MainWindowProbe>);

}  // namespace
}  // namespace varnok::test

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
