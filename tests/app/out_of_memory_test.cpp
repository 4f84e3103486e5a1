// Memory that runs out during a run (its reading, the map's pages, the map window): the run's and the window's error
// boundaries turn it into "Out of memory!!" and an orderly end. The program's own operator new is replaced here, so that the next
// large allocation can be made to fail at a chosen moment.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "app/application.h"
#include "app/frm_gui.h"
#include "support/modal_answerer.h"
#include "support/srec_builder.h"

namespace {

// Allocations of this size and more: map pages and windows, never the small ones that event handling makes.
constexpr std::size_t kLarge = 4096;
std::atomic<bool> g_fail_next_large{false};

}  // namespace

void* operator new(std::size_t size) {
  if (size >= kLarge && g_fail_next_large.exchange(false)) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace varnok {

class OutOfMemoryTest : public QObject {
  Q_OBJECT

 private slots:
  void mapStepRunsOutOfMemory() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("map.s"));
    // 8 KiB of contiguous data: the map keeps such pages whole, in allocations of more than 4 KiB.
    std::string text;
    for (std::uint32_t address = 0; address < 0x2000; address += 32) {
      text += test::Record(1, address, std::string(32, 'x')) + "\n";
    }
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(text.data(), static_cast<qint64>(text.size()));
    out.close();

    Tfrm_GUI frm(dir.filePath(QStringLiteral("varnok.ini")).toStdString());
    frm.SetOpenFileDialog([&](QWidget*, const QString&) { return file; });
    frm.findChild<QPushButton*>(QStringLiteral("btn_Open"))->click();
    frm.findChild<QCheckBox*>(QStringLiteral("chk_GenMap"))->setChecked(true);
    frm.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frm));

    QStringList shown;
    const test::ModalAnswerer answer([&](QDialog& dialog) {
      if (auto* box = qobject_cast<QMessageBox*>(&dialog)) shown << box->windowTitle() + QStringLiteral(": ") + box->text();
      dialog.reject();
    });
    bool quit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quit = true; });
    // The first events the window handles during the run arm the failure.
    QTimer::singleShot(0, [] { g_fail_next_large = true; });
    frm.findChild<QPushButton*>(QStringLiteral("btn_Parse"))->click();
    // The run ends, and then the program in order, from its event loop.
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY2(!g_fail_next_large.exchange(false), "the run made no large allocation");

    QCOMPARE(shown, QStringList{QStringLiteral("Fehler: Out of memory!!")});
    QCOMPARE(frm.findChild<QLabel*>(QStringLiteral("lbl_Stat"))->text(), QStringLiteral("Out of memory!!"));
    QCOMPARE(frm.MapWindow(), nullptr);
    QVERIFY(frm.findChildren<Tfrm_Data*>().isEmpty());
    QVERIFY(!frm.Busy());
    QVERIFY(quit);
  }
};

}  // namespace varnok

// ctest gives the offscreen platform and a runtime folder.
int main(int argc, char** argv) {
  varnok::Application application(argc, argv);
  varnok::OutOfMemoryTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "out_of_memory_test.moc"
