#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QListView>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/application.h"
#include "app/frm_gui.h"
#include "cli/scan.h"
#include "support/file_size_cap.h"
#include "support/modal_answerer.h"
#include "support/no_memory.h"
#include "support/srec_builder.h"
#include "ui/platform.h"

namespace varnok {
namespace {

const QColor kBlack(0, 0, 0);
const QColor kMaroon(128, 0, 0);

// An S-record line with its line end.
std::string Line(int type, std::uint32_t address, const std::string& payload = {}) {
  return test::Record(type, address, payload) + "\n";
}

const QByteArray kThreeLines = QByteArray::fromStdString(test::kThreeLines);

// What a modal box showed before the catcher dismissed it.
struct Shown {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool plain = false;
  QString kind;
};

// Dismisses every modal dialog as soon as it appears, for as long as it lives, and records what it showed.
class ModalCatcher {
 public:
  ModalCatcher() : answerer_([this](QDialog& dialog) { Catch(dialog); }, std::numeric_limits<int>::max()) {}
  std::vector<Shown> seen;

 private:
  void Catch(QDialog& dialog) {
    Shown shown;
    shown.caption = dialog.windowTitle();
    shown.kind = QString::fromLatin1(dialog.metaObject()->className());
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      shown.text = box->text();
      shown.icon = box->icon();
      shown.plain = box->textFormat() == Qt::PlainText;
      QCOMPARE(box->buttons().size(), 1);
      QCOMPARE(box->standardButtons(), QMessageBox::Ok);
    }
    seen.push_back(shown);
    dialog.reject();
  }

  test::ModalAnswerer answerer_;
};

// The main window's controls, found in its widget tree by their names.
struct Controls {
  QPushButton* btn_Open;
  QPushButton* btn_Parse;
  QPushButton* btn_About;
  QCheckBox* chk_GenMap;
  QPushButton* btn_Map;
  QGroupBox* grp_File;
  QGroupBox* grp_Status;
  QGroupBox* grp_S0;
  QGroupBox* grp_Summary;
  QLabel* lbl_Name;
  QPlainTextEdit* mem_Path;
  QLabel* lbl_Stat;
  QLabel* lbl_Module;
  QLabel* lbl_Version;
  QPlainTextEdit* mem_Description;
  QLabel* lbl_RecordLines;
  QLabel* lbl_TotalDatabytes;
  QLabel* lbl_Highest;
  QLabel* lbl_Lowest;
  QLabel* lbl_Exec;
};

template <typename Widget>
Widget* Find(const QWidget& window, const char* name) {
  return window.findChild<Widget*>(QString::fromLatin1(name));
}

Controls Ui(const Tfrm_GUI& frm) {
  return {Find<QPushButton>(frm, "btn_Open"),       Find<QPushButton>(frm, "btn_Parse"),
          Find<QPushButton>(frm, "btn_About"),      Find<QCheckBox>(frm, "chk_GenMap"),
          Find<QPushButton>(frm, "btn_Map"),        Find<QGroupBox>(frm, "grp_File"),
          Find<QGroupBox>(frm, "grp_Status"),       Find<QGroupBox>(frm, "grp_S0"),
          Find<QGroupBox>(frm, "grp_Summary"),      Find<QLabel>(frm, "lbl_Name"),
          Find<QPlainTextEdit>(frm, "mem_Path"),    Find<QLabel>(frm, "lbl_Stat"),
          Find<QLabel>(frm, "lbl_Module"),          Find<QLabel>(frm, "lbl_Version"),
          Find<QPlainTextEdit>(frm, "mem_Description"), Find<QLabel>(frm, "lbl_RecordLines"),
          Find<QLabel>(frm, "lbl_TotalDatabytes"),  Find<QLabel>(frm, "lbl_Highest"),
          Find<QLabel>(frm, "lbl_Lowest"),          Find<QLabel>(frm, "lbl_Exec")};
}

QString Read(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("<missing>");
  return QString::fromLatin1(file.readAll());
}

void Write(const QString& path, const QByteArray& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(text);
}

// An image of 32-byte S3 records long enough to take several 256 KiB input blocks.
QByteArray LongImage(std::uint32_t records) {
  std::string text = Line(0, 0, "LONG");
  const std::string data(32, 'x');
  for (std::uint32_t i = 0; i < records; ++i) text += Line(3, i * 32, data);
  return QByteArray::fromStdString(text + Line(7, 0));
}

// Drops the urls on the window as a desktop would: the drag enters, then the drop; whether the drop was accepted.
bool Drop(QWidget& window, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&window, &enter);
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&window, &drop);
  return enter.isAccepted() && drop.isAccepted();
}

// Everything the main window shows of a chosen file and its analysis.
QStringList Showing(const Tfrm_GUI& frm) {
  const Controls ui = Ui(frm);
  QStringList shown = {ui.lbl_Name->text(), ui.lbl_Name->toolTip(), ui.mem_Path->toPlainText(),
                       ui.mem_Path->toolTip(), ui.lbl_Stat->text(),
                       ui.lbl_Stat->palette().color(QPalette::WindowText).name(), ui.lbl_Module->text(),
                       ui.lbl_Version->text(), ui.mem_Description->toPlainText(), ui.chk_GenMap->isChecked() ? "map" : "",
                       frm.MapWindow() != nullptr ? "map window" : ""};
  for (QLabel* label : {ui.lbl_RecordLines, ui.lbl_TotalDatabytes, ui.lbl_Highest, ui.lbl_Lowest, ui.lbl_Exec}) {
    shown << label->text();
  }
  return shown;
}

// Held allocations and frees wait while their flag is set, so that a test can act while the run is at that point.
std::atomic<bool> g_hold_allocate{false};
std::atomic<bool> g_hold_free{false};

void* HeldAllocate(std::size_t size) {
  while (g_hold_allocate) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return std::malloc(size);
}

void HeldFree(void* memory) {
  while (g_hold_free) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::free(memory);
}

// Sets a hold flag for as long as it lives.
struct Hold {
  explicit Hold(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
  ~Hold() { flag_ = false; }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  std::atomic<bool>& flag_;
};

// Collects the status log ("varnok.status") for as long as it lives.
class StatusLog {
 public:
  StatusLog() {
    lines_.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("varnok.status.info=true"));
    previous_ = qInstallMessageHandler(&StatusLog::Handle);
  }
  ~StatusLog() {
    qInstallMessageHandler(previous_);
    QLoggingCategory::setFilterRules(QString());
  }
  StatusLog(const StatusLog&) = delete;
  StatusLog& operator=(const StatusLog&) = delete;

  QStringList Lines() const { return lines_; }

 private:
  static void Handle(QtMsgType, const QMessageLogContext& context, const QString& text) {
    if (context.category != nullptr && QLatin1String(context.category) == QLatin1String("varnok.status")) {
      lines_ << text;
    }
  }

  static inline QStringList lines_;
  QtMessageHandler previous_ = nullptr;
};

// The map window's "Save map as text..." command.
QAction* SaveAction(Tfrm_Data& map) {
  for (QAction* action : map.findChildren<QAction*>()) {
    if (action->text() == QStringLiteral("Save map as text...")) return action;
  }
  return nullptr;
}

// The entries of the map window's regions list (Ctrl+R).
QStringList ListedLines(Tfrm_Data& map) {
  QStringList listed;
  const test::ModalAnswerer answer([&](QDialog& dialog) {
    auto* list = dialog.findChild<QListView*>("Regions");
    if (list == nullptr || !listed.isEmpty()) return;
    for (int i = 0; i < list->model()->rowCount(); ++i) listed << list->model()->index(i, 0).data().toString();
    dialog.reject();
  });
  for (QAction* action : map.findChildren<QAction*>()) {
    if (action->text() == QStringLiteral("Regions...")) action->trigger();
  }
  return listed;
}

// Waits until the window's run is over.
void WaitForRun(const Tfrm_GUI& frm) { QTRY_VERIFY_WITH_TIMEOUT(!frm.Busy(), 60000); }

// Chooses the file through the dialog, as a click on "Choose s-record file" does.
void Choose(Tfrm_GUI& frm, const QString& file) {
  frm.SetOpenFileDialog([file](QWidget*, const QString&) { return file; });
  QTest::mouseClick(Ui(frm).btn_Open, Qt::LeftButton);
}

// Clicks "Start parsing..." and waits until the run is over.
void Parse(Tfrm_GUI& frm) {
  QTest::mouseClick(Ui(frm).btn_Parse, Qt::LeftButton);
  WaitForRun(frm);
}

QLabel* CaptionLabel(QWidget* group, const char* text) {
  for (QLabel* label : group->findChildren<QLabel*>()) {
    if (label->text() == QLatin1String(text)) return label;
  }
  return nullptr;
}

}  // namespace

class FrmGuiTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Ini() const { return dir_.filePath(QStringLiteral("varnok.ini")); }
  QString Sample(const QString& name, const QByteArray& text) const {
    const QString path = dir_.filePath(name);
    Write(path, text);
    return path;
  }
  // Chooses file with the map option on and shows the window, with the progress shown from the run's start.
  static void ChooseForALongRun(Tfrm_GUI& frm, const QString& file) {
    Choose(frm, file);
    Ui(frm).chk_GenMap->setChecked(true);
    frm.show();
    frm.SetProgressDelay(std::chrono::milliseconds(0));
  }

 private slots:
  void init() {
    QFile::remove(Ini());
    QDir(Ini()).removeRecursively();
  }

  void layout() {
    Tfrm_GUI frm(Ini().toStdString());
    QCOMPARE(frm.windowTitle(), QStringLiteral("Varnok"));
    QCOMPARE(frm.minimumSize(), QSize(269, 419));
    QCOMPARE(frm.maximumSize(), QSize(269, 419));
    QCOMPARE(frm.pos(), QPoint(495, 296));
    QVERIFY(frm.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(frm.windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(frm.windowFlags() & Qt::WindowCloseButtonHint);

    const struct {
      QWidget* widget;
      QWidget* parent;
      QRect box;
      const char* text;
    } controls[] = {
        {Ui(frm).btn_Open, &frm, {8, 11, 105, 25}, "Choose s-record file"},
        {Ui(frm).btn_Parse, &frm, {120, 11, 81, 25}, "Start parsing..."},
        {Ui(frm).btn_About, &frm, {208, 11, 57, 25}, "About"},
        {Ui(frm).chk_GenMap, &frm, {8, 51, 185, 17}, "Generate graphical memory map"},
        {Ui(frm).btn_Map, &frm, {208, 49, 57, 20}, "Show!"},
        {Ui(frm).grp_File, &frm, {8, 77, 257, 86}, "Choosen file:"},
        {Ui(frm).grp_Status, &frm, {8, 166, 257, 41}, "Analyser status:"},
        {Ui(frm).grp_S0, &frm, {8, 209, 257, 88}, "Information extracted from S0-Record:"},
        {Ui(frm).grp_Summary, &frm, {8, 299, 257, 113}, "Information summary:"},
        {Ui(frm).lbl_Name, Ui(frm).grp_File, {64, 24, 185, 13}, "No file selected yet..."},
        {Ui(frm).mem_Path, Ui(frm).grp_File, {64, 40, 185, 41}, ""},
        {Ui(frm).lbl_Stat, Ui(frm).grp_Status, {8, 18, 241, 13}, "...idle..."},
        {Ui(frm).lbl_Module, Ui(frm).grp_S0, {104, 24, 145, 13}, ""},
        {Ui(frm).lbl_Version, Ui(frm).grp_S0, {104, 40, 145, 13}, ""},
        {Ui(frm).mem_Description, Ui(frm).grp_S0, {104, 56, 145, 29}, ""},
        {Ui(frm).lbl_RecordLines, Ui(frm).grp_Summary, {104, 24, 145, 13}, ""},
        {Ui(frm).lbl_TotalDatabytes, Ui(frm).grp_Summary, {104, 40, 145, 13}, ""},
        {Ui(frm).lbl_Highest, Ui(frm).grp_Summary, {104, 56, 145, 13}, ""},
        {Ui(frm).lbl_Lowest, Ui(frm).grp_Summary, {104, 72, 145, 13}, ""},
        {Ui(frm).lbl_Exec, Ui(frm).grp_Summary, {104, 88, 145, 13}, ""},
        {CaptionLabel(Ui(frm).grp_S0, "Module name:"), Ui(frm).grp_S0, {8, 24, 89, 13}, "Module name:"},
        {CaptionLabel(Ui(frm).grp_S0, "Version.Revision:"), Ui(frm).grp_S0, {8, 40, 89, 13}, "Version.Revision:"},
        {CaptionLabel(Ui(frm).grp_S0, "Description:"), Ui(frm).grp_S0, {8, 56, 89, 13}, "Description:"},
        {CaptionLabel(Ui(frm).grp_Summary, "Total records:"), Ui(frm).grp_Summary, {8, 24, 89, 13}, "Total records:"},
        {CaptionLabel(Ui(frm).grp_Summary, "Total databytes:"), Ui(frm).grp_Summary, {8, 40, 89, 13}, "Total databytes:"},
        {CaptionLabel(Ui(frm).grp_Summary, "Highest address:"), Ui(frm).grp_Summary, {8, 56, 89, 13}, "Highest address:"},
        {CaptionLabel(Ui(frm).grp_Summary, "Lowest address:"), Ui(frm).grp_Summary, {8, 72, 89, 13}, "Lowest address:"},
        {CaptionLabel(Ui(frm).grp_Summary, "Execution address:"), Ui(frm).grp_Summary, {8, 88, 89, 13}, "Execution address:"},
    };
    for (const auto& c : controls) {
      QVERIFY2(c.widget != nullptr, c.text);
      QCOMPARE(c.widget->parentWidget(), c.parent);
      QCOMPARE(c.widget->geometry(), c.box);
      QString text;
      if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) text = button->text();
      if (auto* label = qobject_cast<QLabel*>(c.widget)) text = label->text();
      if (auto* group = qobject_cast<QGroupBox*>(c.widget)) text = group->title();
      if (auto* memo = qobject_cast<QPlainTextEdit*>(c.widget)) text = memo->toPlainText();
      QCOMPARE(text, QString::fromLatin1(c.text));
    }
    // The two file captions are sized to their text and keep their right edge.
    QCOMPARE(CaptionLabel(Ui(frm).grp_File, "Filename:")->geometry().right(), 56);
    QCOMPARE(CaptionLabel(Ui(frm).grp_File, "Path:")->geometry().right(), 56);
    QCOMPARE(CaptionLabel(Ui(frm).grp_File, "Path:")->y(), 40);

    QVERIFY(!Ui(frm).chk_GenMap->isChecked());
    QVERIFY(Ui(frm).lbl_Name->toolTip().isEmpty());
    QVERIFY(Ui(frm).mem_Path->toolTip().isEmpty());
    QVERIFY(Ui(frm).mem_Path->isReadOnly());
    QVERIFY(Ui(frm).mem_Description->isReadOnly());
    QCOMPARE(Ui(frm).mem_Path->frameShape(), QFrame::NoFrame);
    QCOMPARE(Ui(frm).lbl_Stat->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    for (QLabel* label : frm.findChildren<QLabel*>()) QCOMPARE(label->textFormat(), Qt::PlainText);

    // Every caption fits its box in the design font.
    for (QLabel* label : frm.findChildren<QLabel*>()) {
      QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(), qPrintable(label->text()));
      QVERIFY(label->fontMetrics().height() <= label->height());
    }
    for (QPushButton* button : frm.findChildren<QPushButton*>()) {
      QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) + 6 <= button->width(), qPrintable(button->text()));
    }
    QStyleOptionButton check;
    check.initFrom(Ui(frm).chk_GenMap);
    const int indicator = Ui(frm).chk_GenMap->style()->pixelMetric(QStyle::PM_IndicatorWidth, &check, Ui(frm).chk_GenMap) +
                          Ui(frm).chk_GenMap->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &check, Ui(frm).chk_GenMap);
    QVERIFY(indicator + Ui(frm).chk_GenMap->fontMetrics().horizontalAdvance(Ui(frm).chk_GenMap->text()) <= 185);
    for (QGroupBox* group : frm.findChildren<QGroupBox*>()) {
      QVERIFY2(group->fontMetrics().horizontalAdvance(group->title()) + 16 <= group->width(), qPrintable(group->title()));
    }

    const QList<QWidget*> expected = {Ui(frm).btn_Open, Ui(frm).mem_Description, Ui(frm).mem_Path, Ui(frm).btn_Parse,
                                      Ui(frm).btn_About, Ui(frm).chk_GenMap, Ui(frm).btn_Map};
    QList<QWidget*> order;
    for (QWidget* w = Ui(frm).btn_Open; order.size() < expected.size(); w = w->nextInFocusChain()) {
      if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
    }
    QCOMPARE(order, expected);
  }

  void wholeRunThroughClicks() {
    const QString file = Sample(QStringLiteral("demo.s19"), kThreeLines);
    Tfrm_GUI frm(Ini().toStdString());
    QStringList presets;
    frm.SetOpenFileDialog([&](QWidget* parent, const QString& preset) {
      if (parent != &frm) throw std::logic_error("dialog without its owner");
      presets << preset;
      return file;
    });
    frm.show();
    QTest::mouseClick(Ui(frm).btn_Open, Qt::LeftButton);
    QCOMPARE(Ui(frm).lbl_Name->text(), QStringLiteral("demo.s19"));
    QCOMPARE(Ui(frm).lbl_Name->toolTip(), QStringLiteral("demo.s19"));
    QCOMPARE(Ui(frm).mem_Path->toPlainText(), dir_.path() + QLatin1Char('/'));
    QCOMPARE(Ui(frm).mem_Path->toolTip(), dir_.path() + QLatin1Char('/'));
    QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Valid file. Click \"Start parsing...\""));

    QTest::mouseClick(Ui(frm).chk_GenMap, Qt::LeftButton);
    // The run goes on after the click.
    Ui(frm).btn_Parse->click();
    QVERIFY(frm.Busy());
    WaitForRun(frm);
    QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
    QCOMPARE(Ui(frm).lbl_Stat->palette().color(QPalette::WindowText), kBlack);
    QCOMPARE(Ui(frm).lbl_Module->text(), QStringLiteral("HDR"));
    QCOMPARE(Ui(frm).lbl_Version->text(), QString());
    QCOMPARE(Ui(frm).mem_Description->toPlainText(), QString());
    QCOMPARE(Ui(frm).lbl_RecordLines->text(), QStringLiteral("3"));
    QCOMPARE(Ui(frm).lbl_TotalDatabytes->text(), QStringLiteral("16"));
    QCOMPARE(Ui(frm).lbl_Highest->text(), QStringLiteral("0x0000000F"));
    QCOMPARE(Ui(frm).lbl_Lowest->text(), QStringLiteral("0x00000000"));
    QCOMPARE(Ui(frm).lbl_Exec->text(), QStringLiteral("0x00000000"));

    Tfrm_Data* map = frm.MapWindow();
    QVERIFY(map != nullptr);
    QVERIFY(map->isVisible());
    QCOMPARE(map->parentWidget(), &frm);
    const CellPos first = map->Map().AddressToCell(0);
    QCOMPARE(map->Map().Cell(first.column, first.row), std::string("!00"));
    const CellPos last = map->Map().AddressToCell(15);
    QCOMPARE(map->Map().Cell(last.column, last.row), std::string(".0F"));

    // "Show!" brings the hidden map back, unchanged.
    map->close();
    QVERIFY(!map->isVisible());
    QTest::mouseClick(Ui(frm).btn_Map, Qt::LeftButton);
    QCOMPARE(frm.MapWindow(), map);
    QVERIFY(map->isVisible());

    // The dialog reopens at the file chosen last in this run; none is given at the first opening.
    QTest::mouseClick(Ui(frm).btn_Open, Qt::LeftButton);
    QCOMPARE(presets, QStringList({QString(), file}));

    // A second run starts from nothing: the old map goes, and without the option no new one comes.
    QTest::mouseClick(Ui(frm).chk_GenMap, Qt::LeftButton);
    Parse(frm);
    QCOMPARE(frm.MapWindow(), nullptr);
    QCOMPARE(Ui(frm).lbl_RecordLines->text(), QStringLiteral("3"));
  }

  // A file name shows as it is, never as markup, in its label and in the label's tooltip.
  void fileNameIsPlainText() {
    const QString file = Sample(QStringLiteral("<i>markup.s"), kThreeLines);
    Tfrm_GUI frm(Ini().toStdString());
    Choose(frm, file);
    QCOMPARE(Ui(frm).lbl_Name->text(), QStringLiteral("<i>markup.s"));
    QVERIFY(Ui(frm).lbl_Name->toolTip().contains(QStringLiteral("&lt;i&gt;markup.s")));
  }

  // A run that fails says why in maroon and shows the S0 texts it read, no summary and no map: "Show!" says so. The
  // next chosen file keeps the colour.
  void failedRunShowsWhy() {
    const QString fifo = dir_.filePath(QStringLiteral("pipe.s"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString good = Sample(QStringLiteral("good.s"), kThreeLines);
    const struct {
      const char* what;
      QString chosen;  // none: the run reads what the window shows at its first start
      QString status;
      QString module;
    } cases[] = {
        {"a checksum error",
         Sample(QStringLiteral("bad.s"), "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F75\n"),
         QStringLiteral("Checksum error @ line 2"), QStringLiteral("HDR")},
        // A FIFO without a writer would hold the window up for ever in its opening.
        {"a FIFO", fifo, QStringLiteral("Unable to open selected input file!"), QString()},
        {"nothing chosen", QString(), QStringLiteral("Input file does not exist!"), QString()},
    };
    for (const auto& c : cases) {
      Tfrm_GUI frm(Ini().toStdString());
      if (!c.chosen.isEmpty()) {
        Choose(frm, c.chosen);
      }
      Ui(frm).chk_GenMap->setChecked(true);
      Parse(frm);
      QVERIFY2(Ui(frm).lbl_Stat->text() == c.status, c.what);
      QCOMPARE(Ui(frm).lbl_Stat->palette().color(QPalette::WindowText), kMaroon);
      QCOMPARE(Ui(frm).lbl_Module->text(), c.module);
      // A value can be selected with the mouse and copied.
      QGuiApplication::clipboard()->clear();
      QTest::mouseDClick(Ui(frm).lbl_Module, Qt::LeftButton, Qt::NoModifier, QPoint(2, 5));
      QTest::keyClick(Ui(frm).lbl_Module, Qt::Key_C, Qt::ControlModifier);
      QCOMPARE(QGuiApplication::clipboard()->text(), c.module);
      QCOMPARE(Ui(frm).lbl_RecordLines->text(), QString());
      QCOMPARE(Ui(frm).lbl_Highest->text(), QString());
      QCOMPARE(frm.MapWindow(), nullptr);

      ModalCatcher catcher;
      QTest::mouseClick(Ui(frm).btn_Map, Qt::LeftButton);
      QCOMPARE(catcher.seen.size(), std::size_t{1});
      QCOMPARE(catcher.seen[0].caption, ui::ApplicationTitle());
      QCOMPARE(catcher.seen[0].text,
               QStringLiteral("No data available. Start parsing with memory map option enabled!"));
      QCOMPARE(catcher.seen[0].icon, QMessageBox::NoIcon);

      Choose(frm, good);
      QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Valid file. Click \"Start parsing...\""));
      QCOMPARE(Ui(frm).lbl_Stat->palette().color(QPalette::WindowText), kMaroon);
    }
    QFile::remove(fifo);
  }

  // Choosing another file clears the fields and closes the map of the last run; the status tells of the chosen file.
  void choosingAFileClearsTheLastRun() {
    const QString second = Sample(QStringLiteral("second.s"), kThreeLines);
    Tfrm_GUI frm(Ini().toStdString());
    frm.TickMapOption();
    frm.OpenFile(Sample(QStringLiteral("first.s"), kThreeLines).toStdString());
    WaitForRun(frm);
    QCOMPARE(Ui(frm).lbl_Module->text(), QStringLiteral("HDR"));
    Choose(frm, second);
    QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Valid file. Click \"Start parsing...\""));
    const QStringList shown = Showing(frm);
    // The module, version, description, the map window and the five summary labels.
    QCOMPARE(shown.mid(6, 3) + shown.mid(10), QStringList(9, QString()));
  }

  void choosingAFileThatIsGone() {
    Tfrm_GUI frm(Ini().toStdString());
    const QColor designed = Ui(frm).lbl_Stat->palette().color(QPalette::WindowText);
    Choose(frm, QStringLiteral("/gone.s"));
    QCOMPARE(Ui(frm).lbl_Name->text(), QStringLiteral("gone.s"));
    QCOMPARE(Ui(frm).mem_Path->toPlainText(), QStringLiteral("/"));
    QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("File selected does not exist!"));
    QCOMPARE(Ui(frm).lbl_Stat->palette().color(QPalette::WindowText), designed);

    // A cancelled dialog changes nothing.
    Choose(frm, QString());
    QCOMPARE(Ui(frm).lbl_Name->text(), QStringLiteral("gone.s"));
    QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("File selected does not exist!"));
  }

  void settingsRoundTrip() {
    const QString file = Sample(QString::fromUtf8("d\xC3\xA9mo \xE2\x82\xAC.s"), kThreeLines);
    {
      Tfrm_GUI frm(Ini().toStdString());
      Choose(frm, file);
      frm.move(-20, 16);
      frm.SetRegionsScript("target.ld");
      frm.show();
      QVERIFY(frm.close());
    }
    const QString path = dir_.path() + QLatin1Char('/');
    QCOMPARE(Read(Ini()), QStringLiteral("[app]\ntop=16\nleft=-20\n[map]\nscript=") + QDir::currentPath() +
                              QStringLiteral("/target.ld\nscript_folder=") + QDir::currentPath() + QStringLiteral("\n[file]\nname=") +
                              QString::fromLatin1(QFile::encodeName(QString::fromUtf8("d\xC3\xA9mo \xE2\x82\xAC.s"))) +
                              QStringLiteral("\npath=") + QString::fromLatin1(QFile::encodeName(path)) +
                              QStringLiteral("\n"));
    Tfrm_GUI again(Ini().toStdString());
    QCOMPARE(again.pos(), QPoint(-20, 16));
    QCOMPARE(Ui(again).lbl_Name->text(), QString::fromUtf8("d\xC3\xA9mo \xE2\x82\xAC.s"));
    QCOMPARE(Ui(again).mem_Path->toPlainText(), path);
    QVERIFY(Ui(again).lbl_Name->toolTip().isEmpty());
  }

  // The kept script is read beside the window for every map, its INCLUDEs from the folder it was chosen in wherever
  // the window starts; a close during the read ends the read and the window, with the settings written. "No regions"
  // takes it out of the settings.
  void keptScriptIsReadBesideTheWindow() {
    QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("ld")));
    const QString folder = dir_.filePath(QStringLiteral("ld"));
    Write(folder + QStringLiteral("/target.ld"), "INCLUDE part.ld\n");
    Write(folder + QStringLiteral("/part.ld"), "MEMORY { FLASH : ORIGIN = 0x1000, LENGTH = 0x40 }\n");
    const QString file = Sample(QStringLiteral("kept.s"), kThreeLines);
    const QString kept = QStringLiteral("script=") + folder + QStringLiteral("/target.ld\nscript_folder=") + folder;
    for (const bool close : {false, true}) {
      Write(Ini(), (QStringLiteral("[map]\n") + kept + QStringLiteral("\n")).toUtf8());
      Tfrm_GUI frm(Ini().toStdString());
      // The run's thread goes at once; the script's waits until the test lets it go, at the latest at its end.
      const auto go = std::make_shared<std::atomic<bool>>(false);
      const std::shared_ptr<void> release(nullptr, [go](void*) { *go = true; });
      frm.SetThreadStart([go, jobs = std::make_shared<int>(0)](std::function<void()> work) {
        const bool hold = ++*jobs > 1;
        return std::thread([go, hold, work = std::move(work)] {
          while (hold && !*go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          work();
        });
      });
      frm.show();
      frm.TickMapOption();
      ModalCatcher catcher;
      frm.OpenFile(file.toStdString());
      QTRY_VERIFY(frm.MapWindow() != nullptr && frm.MapWindow()->RegionsReading());
      QVERIFY(frm.Busy());
      QPointer<Tfrm_Data> map = frm.MapWindow();
      if (close) {
        QVERIFY(!frm.close());
        *go = true;
        QTRY_VERIFY(!frm.isVisible());
        QVERIFY(map.isNull());
        QVERIFY(Read(Ini()).contains(kept + QStringLiteral("\n")));
        QVERIFY(Read(Ini()).contains(QStringLiteral("name=kept.s")));
      } else {
        *go = true;
        QTRY_VERIFY(!frm.Busy());
        QVERIFY(map->findChild<QLabel*>(QStringLiteral("Panel7"))->isVisible());
        // "No regions" forgets the script: the settings keep none, and the next start reads none.
        map->RemoveRegions();
        QVERIFY(frm.close());
        QVERIFY(Read(Ini()).contains(QStringLiteral("[map]\nscript=\nscript_folder=\n")));
      }
      QCOMPARE(catcher.seen.size(), std::size_t{0});
    }
  }

  void storedPositionForms_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("top");
    // Every form is checked on the store itself; these show the value reaching the window.
    const struct {
      const char* stored;
      int top;
    // A top below the screen brings the window up to the screen's bottom edge.
    } rows[] = {{"0X10", 16},
                {"-20", -20},
                {"12x", 296},
                {"3000", QGuiApplication::primaryScreen()->availableGeometry().bottom() + 1 - 419}};
    for (const auto& row : rows) QTest::newRow(row.stored) << QByteArray(row.stored) << row.top;
  }

  void storedPositionForms() {
    QFETCH(QByteArray, stored);
    QFETCH(int, top);
    Write(Ini(), "[APP]\nTop=" + stored + "\n");
    Tfrm_GUI frm(Ini().toStdString());
    QCOMPARE(frm.y(), top);
    QCOMPARE(frm.x(), 495);
  }

  // The map window opens where it was left, at that size, also after a restart; a place off every screen brings
  // its title bar back onto one.
  void mapWindowOpensWhereItWasLeft() {
    const QString file = Sample(QStringLiteral("place.s"), kThreeLines);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
      const char* what;
      QRect left_at;   // where the user leaves the map window
      QPoint opens_at;  // where the next one opens after a restart
    } cases[] = {
        {"on the screen", QRect(70, 80, 520, 333), QPoint(70, 80)},
        {"off every screen", QRect(-5000, -4000, 520, 333), screen.topLeft()},
    };
    for (const auto& c : cases) {
      QFile::remove(Ini());
      {
        Tfrm_GUI frm(Ini().toStdString());
        frm.show();
        frm.TickMapOption();
        frm.OpenFile(file.toStdString());
        WaitForRun(frm);
        Tfrm_Data* map = frm.MapWindow();
        QVERIFY(map != nullptr);
        map->setMinimumWidth(0);
        map->setMaximumWidth(QWIDGETSIZE_MAX);
        map->resize(c.left_at.size());
        map->move(c.left_at.topLeft());
        // The next run's window opens where this one was left.
        Parse(frm);
        QTRY_COMPARE(frm.MapWindow()->pos(), c.opens_at);
        QCOMPARE(frm.MapWindow()->size(), c.left_at.size());
        QVERIFY(frm.close());
      }
      const QString ini = Read(Ini());
      QVERIFY2(ini.contains(QStringLiteral("[map]\ntop=%1\nleft=%2\nwidth=%3\nheight=%4\n")
                                .arg(c.opens_at.y())
                                .arg(c.opens_at.x())
                                .arg(c.left_at.width())
                                .arg(c.left_at.height())),
               qPrintable(ini));
      Tfrm_GUI again(Ini().toStdString());
      again.show();
      again.TickMapOption();
      Parse(again);
      QVERIFY(again.MapWindow() != nullptr);
      QTRY_COMPARE(again.MapWindow()->pos(), c.opens_at);
      QCOMPARE(again.MapWindow()->size(), c.left_at.size());
    }
  }

  void storedEmptyName() {
    Write(Ini(), "[file]\nname=\n");
    Tfrm_GUI frm(Ini().toStdString());
    QCOMPARE(Ui(frm).lbl_Name->text(), QString());
    QCOMPARE(Ui(frm).mem_Path->toPlainText(), QString());
  }

  // Whatever lies at the settings path, the close ends with the window closed: settings are written only into a
  // settings file, and a write error is reported once.
  void writeFailureIsReportedAndTheWindowCloses() {
    const QByteArray settings = "[app]\ntop=16\n";
    const QString file = Sample(QStringLiteral("demo.s19"), kThreeLines);
    const struct {
      const char* what;
      std::function<void(const QString& path, const QString& elsewhere)> make;
      bool full_disk;
      bool written;
    } cases[] = {
        {"a link to a settings file in another folder",
         [&](const QString& path, const QString& elsewhere) {
           Write(elsewhere + "/dotfile.ini", settings);
           QVERIFY(QFile::link(elsewhere + "/dotfile.ini", path));
         },
         false, true},
        {"a folder", [](const QString& path, const QString&) { QVERIFY(QDir().mkpath(path)); }, false, false},
        {"a full disk", [&](const QString& path, const QString&) { Write(path, settings); }, true, false},
    };
    for (const auto& c : cases) {
      QTemporaryDir folder;
      const QString ini = folder.filePath(QStringLiteral("varnok.ini"));
      QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("elsewhere"))));
      c.make(ini, folder.filePath(QStringLiteral("elsewhere")));
      const QFileInfo before(ini);
      const QString target = before.symLinkTarget();
      const QString contents = before.isFile() ? Read(ini) : QString();
      Tfrm_GUI frm(ini.toStdString());
      Choose(frm, file);
      Ui(frm).chk_GenMap->setChecked(true);
      Parse(frm);
      frm.show();
      QVERIFY(QTest::qWaitForWindowExposed(&frm));
      ModalCatcher catcher;
      std::optional<test::FileSizeCap> full;  // writes beyond a few bytes fail as on a full disk
      if (c.full_disk) full.emplace(4);
      const bool closed = frm.close();
      full.reset();
      QVERIFY2(closed, c.what);
      QVERIFY(!frm.isVisible());
      QCOMPARE(frm.MapWindow(), nullptr);
      QCOMPARE(QFileInfo(ini).symLinkTarget(), target);
      if (c.written) {
        QVERIFY2(catcher.seen.empty(), c.what);
        QVERIFY(Read(ini).contains(QStringLiteral("name=demo.s19")));
        continue;
      }
      QCOMPARE(catcher.seen.size(), std::size_t{1});
      QCOMPARE(catcher.seen[0].caption, ui::ApplicationTitle());
      QCOMPARE(catcher.seen[0].text, QStringLiteral("In ") + ini + QStringLiteral(" kann nicht geschrieben werden."));
      QCOMPARE(catcher.seen[0].icon, QMessageBox::Critical);
      QVERIFY(catcher.seen[0].plain);
      QCOMPARE(QFileInfo(ini).isDir(), before.isDir());
      if (before.isFile()) QCOMPARE(Read(ini), contents);
      // A second close, as from the window manager once more, neither writes nor asks again.
      QVERIFY(frm.close());
      QCOMPARE(catcher.seen.size(), std::size_t{1});
    }
  }

  // While a run or a save goes on, the commands that would start another run or change the map are greyed and a drop
  // is refused; "About" stays. A close during a run stops it and closes the window once it is over.
  void commandsAreGreyedWhileBusy() {
    const QString file = Sample(QStringLiteral("busy.s"), LongImage(20000));
    Tfrm_GUI frm(Ini().toStdString());
    frm.SetBlockAllocator(&HeldAllocate, &HeldFree);
    ChooseForALongRun(frm, file);
    // "Choose s-record file", "Start parsing...", the map option, "Show!" and "About", enabled or not.
    const auto enabled = [&frm] {
      const Controls ui = Ui(frm);
      return QList<bool>{ui.btn_Open->isEnabled(), ui.btn_Parse->isEnabled(), ui.chk_GenMap->isEnabled(),
                         ui.btn_Map->isEnabled(), ui.btn_About->isEnabled()};
    };
    const QList<bool> idle{true, true, true, true, true};
    const QList<bool> busy{false, false, false, false, true};
    const QList<QUrl> other{QUrl::fromLocalFile(dir_.filePath(QStringLiteral("other.s")))};
    QCOMPARE(enabled(), idle);
    Parse(frm);
    QVERIFY(frm.MapWindow() != nullptr);
    frm.MapWindow()->SetSaveFileDialog([&](QWidget*, const QString& preset) { return dir_.filePath(preset); });
    {
      ModalCatcher catcher;
      SaveAction(*frm.MapWindow())->trigger();
      QCOMPARE(enabled(), busy);
      QVERIFY(!Drop(frm, other));
      QTRY_COMPARE(catcher.seen.size(), std::size_t{1});
      QCOMPARE(enabled(), idle);
    }
    // The command that had the keyboard focus has it again once the window is idle.
    Ui(frm).btn_Parse->setFocus();
    Ui(frm).btn_Parse->click();
    QCOMPARE(enabled(), busy);
    WaitForRun(frm);
    QCOMPARE(frm.focusWidget(), Ui(frm).btn_Parse);
    {
      const Hold hold(g_hold_allocate);
      Ui(frm).btn_Parse->click();
      QCOMPARE(enabled(), busy);
      QVERIFY(!Drop(frm, other));
      QVERIFY(!frm.close());
      QVERIFY(frm.isVisible());
    }
    QTRY_VERIFY(!frm.isVisible());
    QCOMPARE(enabled(), idle);
    QCOMPARE(frm.MapWindow(), nullptr);
    QVERIFY(Read(Ini()).contains(QStringLiteral("name=busy.s")));

    // A window that becomes active during its first run, as with a file from the command line, gives the focus to
    // "Choose s-record file" once it is idle, as its activation would have done.
    Tfrm_GUI started(Ini().toStdString());
    started.SetBlockAllocator(&HeldAllocate, &HeldFree);
    {
      const Hold hold(g_hold_allocate);
      started.show();
      started.OpenFile(file.toStdString());
      QVERIFY(QTest::qWaitForWindowActive(&started));
    }
    WaitForRun(started);
    QCOMPARE(started.focusWidget(), Ui(started).btn_Open);
  }

  void fileDialogTypes() {
    QStringList filters;
    QString selected;
    const test::ModalAnswerer answer([&](QDialog& dialog) {
      if (auto* files = qobject_cast<QFileDialog*>(&dialog)) {
        filters = files->nameFilters();
        selected = files->selectedNameFilter();
      }
      dialog.reject();
    });
    QCOMPARE(RunOpenFileDialog(nullptr, QString()), QString());
    QCOMPARE(filters, QStringList({QStringLiteral("Motorola S-Record (*.s)"), QStringLiteral("Motorola S-Record (*.mot)"),
                                   QStringLiteral("S-Record files (*.s19 *.s28 *.s37 *.srec *.sx *.mhx)"),
                                   QStringLiteral("All files (*)")}));
    QCOMPARE(selected, QStringLiteral("Motorola S-Record (*.s)"));
  }

  // A file from the command line or dropped on the window is chosen and analysed as through the dialog.
  void fileFromOutsideAsFromTheDialog_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("good") << QStringLiteral("outside.s19");
    QTest::newRow("missing") << QStringLiteral("missing.s19");
  }

  void fileFromOutsideAsFromTheDialog() {
    QFETCH(QString, name);
    if (name == QLatin1String("outside.s19")) Sample(name, kThreeLines);
    Tfrm_GUI dialog_path(Ini().toStdString());
    Choose(dialog_path, dir_.filePath(name));
    Ui(dialog_path).chk_GenMap->setChecked(true);
    Parse(dialog_path);

    // FILE relative to the current folder, with --map.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
    Tfrm_GUI command_line(Ini().toStdString());
    command_line.TickMapOption();
    command_line.OpenFile("./" + name.toStdString());
    WaitForRun(command_line);
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(Showing(command_line), Showing(dialog_path));

    Tfrm_GUI dropped(Ini().toStdString());
    Ui(dropped).chk_GenMap->setChecked(true);
    QVERIFY(Drop(dropped, {QUrl::fromLocalFile(dir_.filePath(name)), QUrl::fromLocalFile(QStringLiteral("/second.s"))}));
    QTRY_COMPARE(Showing(dropped), Showing(dialog_path));

    // The dialog opens next at the file chosen from outside.
    QStringList presets;
    command_line.SetOpenFileDialog([&](QWidget*, const QString& preset) {
      presets << preset;
      return QString();
    });
    QTest::mouseClick(Ui(command_line).btn_Open, Qt::LeftButton);
    QCOMPARE(presets, QStringList{dir_.filePath(name)});
    if (name == QLatin1String("missing.s19")) {
      QCOMPARE(Ui(command_line).lbl_Stat->text(), QStringLiteral("Input file does not exist!"));
    }
  }

  // A file name that is not UTF-8 opens and is stored byte for byte from every way in; a name that a line of the
  // settings file cannot hold is not stored.
  void fileNamesByTheirBytes() {
    const std::string folder = QFile::encodeName(dir_.path()).toStdString() + "/";
    const std::string latin1 = "lat\xE9.srec";
    // Qt opens files by UTF-8 text, so these names are made through the system's own calls.
    std::ofstream(folder + latin1) << test::kThreeLines;
    const QByteArray in_url = "file://" + QByteArray::fromStdString(folder + latin1).toPercentEncoding("/");
    const struct {
      const char* way;
      std::function<void(Tfrm_GUI&)> choose;
    } ways[] = {
        {"command line", [&](Tfrm_GUI& frm) { frm.OpenFile(folder + latin1); }},
        {"drop", [&](Tfrm_GUI& frm) { QVERIFY(Drop(frm, {QUrl::fromEncoded(in_url)})); }},
        // The dialog lists the name with U+FFFD in place of the byte it cannot read as UTF-8, and hands that text.
        {"dialog",
         [&](Tfrm_GUI& frm) {
           frm.SetOpenFileDialog(
               [&](QWidget*, const QString&) { return QFile::decodeName(QByteArray::fromStdString(folder + latin1)); });
           QTest::mouseClick(Ui(frm).btn_Open, Qt::LeftButton);
           Parse(frm);
         }},
    };
    for (const auto& way : ways) {
      QFile::remove(Ini());
      {
        Tfrm_GUI frm(Ini().toStdString());
        way.choose(frm);
        QTRY_COMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
        QCOMPARE(Ui(frm).lbl_Name->text(), QString::fromUtf8("lat\xEF\xBF\xBD.srec"));
        QVERIFY(frm.close());
      }
      QFile ini(Ini());
      QVERIFY(ini.open(QIODevice::ReadOnly));
      QVERIFY2(ini.readAll().endsWith("[file]\nname=" + QByteArray::fromStdString(latin1) + "\npath=" +
                                      QByteArray::fromStdString(folder) + "\n"),
               way.way);
      Tfrm_GUI again(Ini().toStdString());
      Parse(again);
      QCOMPARE(Ui(again).lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
    }

    const std::string broken = "new\nline.s";
    std::ofstream(folder + broken) << test::kThreeLines;
    Write(Ini(), "[app]\ntop=16\nleft=20\n[file]\nname=old.s\npath=/old/\n");
    {
      Tfrm_GUI frm(Ini().toStdString());
      frm.OpenFile(folder + broken);
      WaitForRun(frm);
      QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
      frm.move(30, 40);
      QVERIFY(frm.close());
    }
    QCOMPARE(Read(Ini()), QStringLiteral("[app]\ntop=40\nleft=30\n[file]\nname=old.s\npath=/old/\n"));
  }

  void onlyLocalFilesAreDropped() {
    Tfrm_GUI frm(Ini().toStdString());
    QVERIFY(!Drop(frm, {QUrl(QStringLiteral("https://example.org/a.s19")), QUrl::fromLocalFile(QStringLiteral("/a.s"))}));
    QVERIFY(!Drop(frm, {}));
    QTest::qWait(10);
    QCOMPARE(Ui(frm).lbl_Name->text(), QStringLiteral("No file selected yet..."));
  }

  // Escape stops a run that goes on under the wait cursor: while it reads, every field is cleared; while the map
  // fills, the map goes and the valid file's summary stays. Escape outside a run does nothing, and the next run goes
  // to its end.
  void escapeStopsTheRun() {
    const struct {
      const char* what;
      std::uint32_t records;
      std::atomic<bool>* hold;   // where the run waits: the filler's first buffer, or the map's lay-out before it reports
      QLabel* Controls::*label;  // what shows that it waits there
      QString waiting;           // as a pattern
      QString status;            // the end, as a pattern
      QString total;             // "Total records:" at the end
      QString module;            // "Module name:" at the end
    } cases[] = {
        {"while it reads", 20000, &g_hold_allocate, &Controls::lbl_Stat,
         QStringLiteral("^Parsing\\.\\.\\. [1-9][0-9]? %$"), QStringLiteral("^Parsing cancelled @ line [1-9][0-9]+$"),
         QString(), QString()},
        {"while the map fills", 160000, &g_hold_free, &Controls::lbl_RecordLines, QStringLiteral("^160002$"),
         QStringLiteral("^Memory map cancelled$"), QStringLiteral("160002"), QStringLiteral("LONG")},
    };
    for (const auto& c : cases) {
      Tfrm_GUI frm(Ini().toStdString());
      ChooseForALongRun(frm, Sample(QStringLiteral("long.s"), LongImage(c.records)));
      frm.SetBlockAllocator(&HeldAllocate, &HeldFree);
      {
        const Hold hold(*c.hold);
        Ui(frm).btn_Parse->click();
        QTRY_VERIFY2(QRegularExpression(c.waiting).match((Ui(frm).*c.label)->text()).hasMatch(), c.what);
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QTest::keyClick(&frm, Qt::Key_Escape);
      }
      WaitForRun(frm);
      const QString status = Ui(frm).lbl_Stat->text();
      QVERIFY2(QRegularExpression(c.status).match(status).hasMatch(), qPrintable(status));
      QCOMPARE(Ui(frm).lbl_Stat->palette().color(QPalette::WindowText), kMaroon);
      QCOMPARE(Ui(frm).lbl_RecordLines->text(), c.total);
      QCOMPARE(Ui(frm).lbl_Module->text(), c.module);
      QVERIFY(frm.findChildren<Tfrm_Data*>().isEmpty());
      QCOMPARE(QApplication::overrideCursor(), nullptr);

      QTest::keyClick(&frm, Qt::Key_Escape);
      Parse(frm);
      QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
      QCOMPARE(Ui(frm).lbl_Stat->palette().color(QPalette::WindowText), kBlack);
      QCOMPARE(Ui(frm).lbl_RecordLines->text(), QString::number(c.records + 2));
      QVERIFY(frm.MapWindow() != nullptr);
    }
  }

  // The status line's sequence as the status log shows it: each phase's progress only once the phase has run the
  // progress delay, its percentages never falling, and the result last.
  void statusSequence() {
    const QString file = Sample(QStringLiteral("sequence.s"), LongImage(160000));  // 5 MiB of data
    const struct {
      const char* what;
      bool map;
      std::chrono::milliseconds delay;
      QStringList phases;  // the texts in their order, each progress text without its number
    } cases[] = {
        {"reading only", false, std::chrono::milliseconds(0), {"Parsing...", "Parsing successfully finished..."}},
        {"with the map", true, std::chrono::milliseconds(0),
         {"Parsing...", "Building memory map...", "Parsing successfully finished..."}},
        {"phases shorter than the delay", true, std::chrono::hours(1), {"Parsing successfully finished..."}},
    };
    for (const auto& c : cases) {
      Tfrm_GUI frm(Ini().toStdString());
      Choose(frm, file);
      Ui(frm).chk_GenMap->setChecked(c.map);
      frm.SetProgressDelay(c.delay);
      const StatusLog log;
      Parse(frm);
      QStringList phases;
      int last_percent = -1;
      for (const QString& line : log.Lines()) {
        const QRegularExpressionMatch progress = QRegularExpression(QStringLiteral("^(.*\\.\\.\\.) ([0-9]+) %$")).match(line);
        const QString phase = progress.hasMatch() ? progress.captured(1) : line;
        if (phases.isEmpty() || phases.last() != phase) {
          phases << phase;
          last_percent = -1;
        }
        const int percent = progress.hasMatch() ? progress.captured(2).toInt() : 0;
        QVERIFY2(percent >= last_percent, qPrintable(QString::fromLatin1(c.what) + QStringLiteral(": ") + line));
        last_percent = percent;
      }
      QVERIFY2(phases == c.phases, qPrintable(QString::fromLatin1(c.what) + QStringLiteral(": ") + phases.join('|')));
    }
  }

  // "Save map as text..." writes exactly what varnok-scan --map prints for the same file, and says how many rows it
  // saved over the map window.
  void savedMapIsWhatTheScanPrints() {
    const struct {
      const char* name;
      QByteArray text;
      QString said;
    } cases[] = {
        {"demo.s19", kThreeLines, QStringLiteral("Saved 1 rows to demo.s19.map.txt")},
        // Written twice, with bytes a caption escapes in its header: a warning line and escaped values.
        {"twice.s",
         QByteArray::fromStdString(Line(0, 0, "A\\B\x01") + Line(1, 0x100, "ABCD") + Line(1, 0x102, "EF") +
                                   Line(1, 0x140, "G") + Line(9, 0x100)),
         QStringLiteral("Saved 2 rows to twice.s.map.txt")},
    };
    for (const auto& c : cases) {
      const QString file = Sample(QString::fromLatin1(c.name), c.text);
      const QString saved = file + QStringLiteral(".map.txt");
      Tfrm_GUI frm(Ini().toStdString());
      frm.TickMapOption();
      frm.OpenFile(file.toStdString());
      WaitForRun(frm);
      QVERIFY(frm.MapWindow() != nullptr);
      frm.MapWindow()->SetSaveFileDialog([&](QWidget*, const QString& preset) { return dir_.filePath(preset); });
      ModalCatcher catcher;
      SaveAction(*frm.MapWindow())->trigger();
      QTRY_VERIFY(!frm.Busy());
      QTRY_COMPARE(catcher.seen.size(), std::size_t{1});
      QCOMPARE(catcher.seen[0].text, c.said);

      std::ostringstream out;
      std::ostringstream err;
      RunScan({"--map", file.toStdString()}, out, err);
      QFile written(saved);
      QVERIFY(written.open(QIODevice::ReadOnly));
      QCOMPARE(written.readAll(), QByteArray::fromStdString(out.str()));
    }
  }

  // varnok --diff A B opens A's map and compares it with B, read as a run is: the regions list then holds the lines
  // varnok-scan --diff prints (the digests follow them). A B that is not valid is told in a box over the map, which
  // stays as it was.
  void compareIsWhatTheScanPrints() {
    const std::string a = Line(1, 0x1000, "abcd") + Line(1, 0x1080, "efgh") + Line(9, 0x1000);
    const struct {
      const char* name;
      std::string b;
      int boxes;
    } cases[] = {
        {"other", Line(1, 0x0F00, "low") + Line(1, 0x1000, "abXd") + Line(1, 0x1080, "efgh") + Line(9, 0x1001), 0},
        {"same", a, 0},
        {"invalid", Line(1, 0x1000, "ab") + "S1zz\n", 1},
    };
    for (const auto& c : cases) {
      const QString file_a = Sample(QStringLiteral("a.s19"), QByteArray::fromStdString(a));
      const QString file_b = Sample(QStringLiteral("b.s19"), QByteArray::fromStdString(c.b));
      Tfrm_GUI frm(Ini().toStdString());
      std::size_t boxes = 0;
      {
        ModalCatcher catcher;
        frm.OpenFileAndCompare(file_a.toStdString(), file_b.toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(frm.MapWindow() != nullptr && !frm.MapWindow()->CompareReading() && !frm.Busy(),
                                 60000);
        boxes = catcher.seen.size();
      }
      Tfrm_Data& map = *frm.MapWindow();
      QCOMPARE(boxes, std::size_t(c.boxes));
      QCOMPARE(map.Other() != nullptr, c.boxes == 0);
      if (c.boxes > 0) continue;

      std::ostringstream out;
      std::ostringstream err;
      RunScan({"--diff", file_a.toStdString(), file_b.toStdString()}, out, err);
      const QStringList scan = QString::fromStdString(out.str()).split('\n', Qt::SkipEmptyParts);
      QCOMPARE(ListedLines(map).mid(static_cast<int>(map.Map().Regions().size()), scan.size()), scan);
      QCOMPARE(map.findChild<QLabel*>("lbl_Same")->text(), QString(c.b == a ? "Same image" : ""));
    }
  }

  // Escape in the map window stops a save: no file is left, the panel says so, and the main window's commands work
  // again. A close during a save writes the settings at once and ends once the file is whole, without a box.
  void escapeOrCloseDuringASave() {
    const QString file = Sample(QStringLiteral("large.s"), LongImage(160000));
    const QString saved = file + QStringLiteral(".map.txt");
    for (const bool close : {false, true}) {
      QFile::remove(saved);
      Tfrm_GUI frm(Ini().toStdString());
      frm.show();
      frm.TickMapOption();
      frm.OpenFile(file.toStdString());
      WaitForRun(frm);
      QPointer<Tfrm_Data> map = frm.MapWindow();
      map->SetSaveFileDialog([&](QWidget*, const QString& preset) { return dir_.filePath(preset); });
      ModalCatcher catcher;
      SaveAction(*map)->trigger();
      QVERIFY(frm.Busy());
      if (close) {
        QVERIFY(!frm.close());
        QVERIFY(Read(Ini()).contains(QStringLiteral("name=large.s")));
        QTRY_VERIFY(!frm.isVisible());
        QVERIFY(map.isNull());
        // The last of the 160000 rows.
        QVERIFY(Read(saved).contains(QStringLiteral("\n004E1FE0 .78")));
      } else {
        QTest::keyClick(map, Qt::Key_Escape);
        QTRY_VERIFY(!frm.Busy());
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files).filter(QStringLiteral("large")), QStringList{"large.s"});
        QCOMPARE(map->windowTitle(), QStringLiteral("Memory map of file 'large.s'"));
        QCOMPARE(map->findChild<QLabel*>(QStringLiteral("lbl_Note"))->text(), QStringLiteral("Save cancelled"));
      }
      QVERIFY(catcher.seen.empty());
    }
  }

  // A valid file with warnings shows a warning sign beside the unchanged status line, whose tooltip and click list
  // them, and the map window lists them; a new run or a new file takes the sign away.
  void warningsAreShown() {
    const struct {
      QByteArray text;
      bool map;
      QString warning;
    } cases[] = {
        {QByteArray::fromStdString(Line(0, 0, "HDR") + Line(1, 0, "AB")), true,
         QStringLiteral("Warning: no termination record")},
        {QByteArray::fromStdString(Line(0, 0, "HDR") + Line(1, 0x100, "ABCD") + Line(1, 0x102, "EF") +
                                   Line(9, 0x100)),
         false, QStringLiteral("Warning: address 0x00000102 written twice @ lines 2 and 3, and 1 more address")},
    };
    for (const auto& c : cases) {
      Tfrm_GUI frm(Ini().toStdString());
      frm.show();
      Ui(frm).chk_GenMap->setChecked(c.map);
      frm.OpenFile(Sample(QStringLiteral("warned.s"), c.text).toStdString());
      WaitForRun(frm);
      auto* sign = frm.findChild<QToolButton*>(QStringLiteral("btn_Warnings"));
      QCOMPARE(Ui(frm).lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
      QVERIFY(sign->isVisible());
      QCOMPARE(sign->toolTip(), c.warning);
      if (c.map) QCOMPARE(frm.MapWindow()->findChild<QLabel*>(QStringLiteral("lbl_Warnings"))->text(), c.warning);
      ModalCatcher catcher;
      QTest::mouseClick(sign, Qt::LeftButton);
      QCOMPARE(catcher.seen.at(0).text, c.warning);
      Ui(frm).btn_Parse->click();
      QVERIFY(!sign->isVisible());
      WaitForRun(frm);
      Choose(frm, QStringLiteral("/gone.s"));
      QVERIFY(!sign->isVisible());
    }
  }

  // A run that cannot go on ends with the window idle and says why: memory or a thread that cannot be had in the
  // library's error dialog "Out of memory!!", any other failure in the standard exception report.
  void failedRunEndsIdle() {
    const QString file = Sample(QStringLiteral("fails.s"), kThreeLines);
    const ThreadStart no_thread = [](std::function<void()>) -> std::thread {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    const struct {
      const char* what;
      BlockAllocator allocate;
      ThreadStart start;
      QString caption;
      QString text;
      QString status;
    } cases[] = {
        {"no memory for the map", &test::NoMemory, StartThread,
         QStringLiteral("Fehler"), QStringLiteral("Out of memory!!"), QStringLiteral("Out of memory!!")},
        {"no thread for the run", &std::malloc, no_thread, QStringLiteral("Fehler"), QStringLiteral("Out of memory!!"),
         QStringLiteral("Out of memory!!")},
        {"another failure", [](std::size_t) -> void* { throw std::runtime_error("Disk on fire"); }, StartThread,
         ui::ApplicationTitle(), QStringLiteral("Disk on fire."),
         QStringLiteral("Valid file. Click \"Start parsing...\"")},
    };
    for (const auto& c : cases) {
      Tfrm_GUI frm(Ini().toStdString());
      frm.SetOpenFileDialog([&](QWidget*, const QString&) { return file; });
      frm.SetBlockAllocator(c.allocate, &std::free);
      frm.SetThreadStart(c.start);
      QTest::mouseClick(Ui(frm).btn_Open, Qt::LeftButton);
      Ui(frm).chk_GenMap->setChecked(true);
      ModalCatcher catcher;
      Parse(frm);
      QTRY_COMPARE(catcher.seen.size(), std::size_t{1});
      QVERIFY2(catcher.seen[0].caption == c.caption, c.what);
      QCOMPARE(catcher.seen[0].text, c.text);
      QCOMPARE(catcher.seen[0].icon, QMessageBox::Critical);
      QCOMPARE(Ui(frm).lbl_Stat->text(), c.status);
      QCOMPARE(frm.MapWindow(), nullptr);
      QVERIFY(Ui(frm).btn_Parse->isEnabled());
      QCOMPARE(QApplication::overrideCursor(), nullptr);
      // The end of the program that "Out of memory!!" asks for comes with the next events; until then a second
      // report is not shown.
      QTest::qWait(10);
    }
  }

  void aboutOpensModally() {
    Tfrm_GUI frm(Ini().toStdString());
    frm.show();
    ModalCatcher catcher;
    QTest::mouseClick(Ui(frm).btn_About, Qt::LeftButton);
    QCOMPARE(catcher.seen.size(), std::size_t{1});
    QCOMPARE(catcher.seen[0].kind, QStringLiteral("varnok::Tfrm_About"));
  }

  void windowIconInEveryDrawnSize() {
    Tfrm_GUI frm(Ini().toStdString());
    const QList<QSize> sizes = frm.windowIcon().availableSizes();
    QCOMPARE(sizes.size(), 7);
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) QVERIFY(sizes.contains(QSize(size, size)));
  }

  void escapedExceptionsAreReported() {
    struct Thrower : QObject {
      std::function<void()> raise;
      bool event(QEvent*) override {
        raise();
        return true;
      }
    } thrower;
    const struct {
      std::function<void()> raise;
      QString caption;
      QString text;
    } cases[] = {
        {[] { throw std::runtime_error("Something went wrong"); }, ui::ApplicationTitle(),
         QStringLiteral("Something went wrong.")},
        {[] { throw 42; }, ui::ApplicationTitle(), QString()},
        // Memory that runs out in any handler takes the out-of-memory path, not the general report.
        {[] { throw std::bad_alloc(); }, QStringLiteral("Fehler"), QStringLiteral("Out of memory!!")},
    };
    for (const auto& c : cases) {
      thrower.raise = c.raise;
      ModalCatcher catcher;
      QEvent event(QEvent::User);
      QCOMPARE(QCoreApplication::sendEvent(&thrower, &event), false);
      QCOMPARE(catcher.seen.size(), std::size_t{1});
      QCOMPARE(catcher.seen[0].caption, c.caption);
      QCOMPARE(catcher.seen[0].text, c.text);
      QCOMPARE(catcher.seen[0].icon, QMessageBox::Critical);
    }
  }
};

}  // namespace varnok

int main(int argc, char** argv) {
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  varnok::Application application(argc, argv);
  varnok::FrmGuiTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "frm_gui_test.moc"
