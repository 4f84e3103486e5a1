#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/frm_gui.h"
#include "ui/platform.h"

namespace varnok {
namespace {

const QColor kBlack(0, 0, 0);
const QColor kMaroon(128, 0, 0);

// An S-record line with its byte count and checksum worked out.
std::string Record(char type, std::uint32_t address, int address_bytes, const std::string& payload) {
  std::string bytes;
  for (int i = address_bytes - 1; i >= 0; --i) bytes += static_cast<char>((address >> (8 * i)) & 0xFF);
  bytes += payload;
  unsigned sum = static_cast<unsigned>(bytes.size() + 1);
  char hex[3];
  std::string line = std::string("S") + type;
  std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(bytes.size() + 1));
  line += hex;
  for (const char c : bytes) {
    sum += static_cast<unsigned char>(c);
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
    line += hex;
  }
  std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFFu);
  return line + hex + "\n";
}

const char kThreeLines[] = "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\nS9030000FC\n";

// What a modal box showed before the catcher dismissed it.
struct Shown {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool plain = false;
  QString kind;
};

// Dismisses every modal dialog as soon as it appears and records what it showed.
class ModalCatcher {
 public:
  ModalCatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      Shown shown;
      shown.caption = dialog->windowTitle();
      shown.kind = QString::fromLatin1(dialog->metaObject()->className());
      if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
        shown.text = box->text();
        shown.icon = box->icon();
        shown.plain = box->textFormat() == Qt::PlainText;
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
      }
      seen.push_back(shown);
      dialog->reject();
    });
    timer_.start(5);
  }
  std::vector<Shown> seen;

 private:
  QTimer timer_;
};

// The main window with the run's two map steps observable.
class ProbeGui : public Tfrm_GUI {
 public:
  using Tfrm_GUI::Tfrm_GUI;
  void BuildMap(const MapRequest& request) override {
    if (before_map) before_map(request);
    Tfrm_GUI::BuildMap(request);
  }
  void DiscardMap() override {
    ++discards;
    Tfrm_GUI::DiscardMap();
  }
  std::function<void(const MapRequest&)> before_map;
  int discards = 0;
};

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
        {frm.btn_Open, &frm, {8, 11, 105, 25}, "Choose s-record file"},
        {frm.btn_Parse, &frm, {120, 11, 81, 25}, "Start parsing..."},
        {frm.btn_About, &frm, {208, 11, 57, 25}, "About"},
        {frm.chk_GenMap, &frm, {8, 51, 185, 17}, "Generate graphical memory map"},
        {frm.btn_Map, &frm, {208, 49, 57, 20}, "Show!"},
        {frm.grp_File, &frm, {8, 77, 257, 86}, "Choosen file:"},
        {frm.grp_Status, &frm, {8, 166, 257, 41}, "Analyser status:"},
        {frm.grp_S0, &frm, {8, 209, 257, 88}, "Information extracted from S0-Record:"},
        {frm.grp_Summary, &frm, {8, 299, 257, 113}, "Information summary:"},
        {frm.lbl_Name, frm.grp_File, {64, 24, 185, 13}, "No file selected yet..."},
        {frm.mem_Path, frm.grp_File, {64, 40, 185, 41}, ""},
        {frm.lbl_Stat, frm.grp_Status, {8, 18, 241, 13}, "...idle..."},
        {frm.lbl_Module, frm.grp_S0, {104, 24, 145, 13}, ""},
        {frm.lbl_Version, frm.grp_S0, {104, 40, 145, 13}, ""},
        {frm.mem_Description, frm.grp_S0, {104, 56, 145, 29}, ""},
        {frm.lbl_RecordLines, frm.grp_Summary, {104, 24, 145, 13}, ""},
        {frm.lbl_TotalDatabytes, frm.grp_Summary, {104, 40, 145, 13}, ""},
        {frm.lbl_Highest, frm.grp_Summary, {104, 56, 145, 13}, ""},
        {frm.lbl_Lowest, frm.grp_Summary, {104, 72, 145, 13}, ""},
        {frm.lbl_Exec, frm.grp_Summary, {104, 88, 145, 13}, ""},
        {CaptionLabel(frm.grp_S0, "Module name:"), frm.grp_S0, {8, 24, 89, 13}, "Module name:"},
        {CaptionLabel(frm.grp_S0, "Version.Revision:"), frm.grp_S0, {8, 40, 89, 13}, "Version.Revision:"},
        {CaptionLabel(frm.grp_S0, "Description:"), frm.grp_S0, {8, 56, 89, 13}, "Description:"},
        {CaptionLabel(frm.grp_Summary, "Total records:"), frm.grp_Summary, {8, 24, 89, 13}, "Total records:"},
        {CaptionLabel(frm.grp_Summary, "Total databytes:"), frm.grp_Summary, {8, 40, 89, 13}, "Total databytes:"},
        {CaptionLabel(frm.grp_Summary, "Highest address:"), frm.grp_Summary, {8, 56, 89, 13}, "Highest address:"},
        {CaptionLabel(frm.grp_Summary, "Lowest address:"), frm.grp_Summary, {8, 72, 89, 13}, "Lowest address:"},
        {CaptionLabel(frm.grp_Summary, "Execution address:"), frm.grp_Summary, {8, 88, 89, 13}, "Execution address:"},
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
    QCOMPARE(CaptionLabel(frm.grp_File, "Filename:")->geometry().right(), 56);
    QCOMPARE(CaptionLabel(frm.grp_File, "Path:")->geometry().right(), 56);
    QCOMPARE(CaptionLabel(frm.grp_File, "Path:")->y(), 40);

    QVERIFY(!frm.chk_GenMap->isChecked());
    QVERIFY(frm.lbl_Name->toolTip().isEmpty());
    QVERIFY(frm.mem_Path->toolTip().isEmpty());
    QVERIFY(frm.mem_Path->isReadOnly());
    QVERIFY(frm.mem_Description->isReadOnly());
    QCOMPARE(frm.mem_Path->frameShape(), QFrame::NoFrame);
    QCOMPARE(frm.lbl_Stat->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
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
    check.initFrom(frm.chk_GenMap);
    const int indicator = frm.chk_GenMap->style()->pixelMetric(QStyle::PM_IndicatorWidth, &check, frm.chk_GenMap) +
                          frm.chk_GenMap->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &check, frm.chk_GenMap);
    QVERIFY(indicator + frm.chk_GenMap->fontMetrics().horizontalAdvance(frm.chk_GenMap->text()) <= 185);
    for (QGroupBox* group : frm.findChildren<QGroupBox*>()) {
      QVERIFY2(group->fontMetrics().horizontalAdvance(group->title()) + 16 <= group->width(), qPrintable(group->title()));
    }

    const QList<QWidget*> expected = {frm.btn_Open, frm.mem_Description, frm.mem_Path, frm.btn_Parse,
                                      frm.btn_About, frm.chk_GenMap, frm.btn_Map};
    QList<QWidget*> order;
    for (QWidget* w = frm.btn_Open; order.size() < expected.size(); w = w->nextInFocusChain()) {
      if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
    }
    QCOMPARE(order, expected);
  }

  void wholeRunThroughClicks() {
    const QString file = Sample(QStringLiteral("demo.s19"), kThreeLines);
    ProbeGui frm(Ini().toStdString());
    QStringList presets;
    frm.SetOpenFileDialog([&](QWidget* parent, const QString& preset) {
      if (parent != &frm) throw std::logic_error("dialog without its owner");
      presets << preset;
      return file;
    });
    frm.show();
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    QCOMPARE(frm.lbl_Name->text(), QStringLiteral("demo.s19"));
    QCOMPARE(frm.lbl_Name->toolTip(), QStringLiteral("demo.s19"));
    QCOMPARE(frm.mem_Path->toPlainText(), dir_.path() + QLatin1Char('/'));
    QCOMPARE(frm.mem_Path->toolTip(), dir_.path() + QLatin1Char('/'));
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Valid file. Click \"Start parsing...\""));

    bool busy = false;
    frm.before_map = [&](const MapRequest&) {
      busy = QApplication::overrideCursor() != nullptr && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    };
    QTest::mouseClick(frm.chk_GenMap, Qt::LeftButton);
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);
    QVERIFY(busy);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
    QCOMPARE(frm.lbl_Stat->palette().color(QPalette::WindowText), kBlack);
    QCOMPARE(frm.lbl_Module->text(), QStringLiteral("HDR"));
    QCOMPARE(frm.lbl_Version->text(), QString());
    QCOMPARE(frm.mem_Description->toPlainText(), QString());
    QCOMPARE(frm.lbl_RecordLines->text(), QStringLiteral("3"));
    QCOMPARE(frm.lbl_TotalDatabytes->text(), QStringLiteral("16"));
    QCOMPARE(frm.lbl_Highest->text(), QStringLiteral("0x0000000F"));
    QCOMPARE(frm.lbl_Lowest->text(), QStringLiteral("0x00000000"));
    QCOMPARE(frm.lbl_Exec->text(), QStringLiteral("0x00000000"));

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
    QTest::mouseClick(frm.btn_Map, Qt::LeftButton);
    QCOMPARE(frm.MapWindow(), map);
    QVERIFY(map->isVisible());

    // The dialog reopens at the file chosen last in this run; none is given at the first opening.
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    QCOMPARE(presets, QStringList({QString(), file}));

    // A second run starts from nothing: the old map goes, and without the option no new one comes.
    QTest::mouseClick(frm.chk_GenMap, Qt::LeftButton);
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);
    QCOMPARE(frm.MapWindow(), nullptr);
    QVERIFY(frm.State().DataBlocks.empty());
    QCOMPARE(frm.lbl_RecordLines->text(), QStringLiteral("3"));
  }

  void headerFieldsArePlainText() {
    const QString file = Sample(QStringLiteral("<i>markup.s"),
                                QByteArray::fromStdString(Record('0', 0, 2, "<b>x</b>            0105Demo") +
                                                          Record('9', 0, 2, "")));
    Tfrm_GUI frm(Ini().toStdString());
    frm.SetOpenFileDialog([&](QWidget*, const QString&) { return file; });
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
    QCOMPARE(frm.lbl_Module->text(), QStringLiteral("<b>x</b>            "));
    QCOMPARE(frm.lbl_Version->text(), QStringLiteral("1.5"));
    QCOMPARE(frm.mem_Description->toPlainText(), QStringLiteral("Demo"));
    QCOMPARE(frm.lbl_Module->textFormat(), Qt::PlainText);
    QCOMPARE(frm.lbl_Name->text(), QStringLiteral("<i>markup.s"));
    QVERIFY(frm.lbl_Name->toolTip().contains(QStringLiteral("&lt;i&gt;markup.s")));
  }

  void failedRunAndShow() {
    const QString file = Sample(QStringLiteral("bad.s"), "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F75\n");
    ProbeGui frm(Ini().toStdString());
    frm.SetOpenFileDialog([&](QWidget*, const QString&) { return file; });
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    frm.chk_GenMap->setChecked(true);
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Checksum error @ line 2"));
    QCOMPARE(frm.lbl_Stat->palette().color(QPalette::WindowText), kMaroon);
    QCOMPARE(frm.lbl_Module->text(), QStringLiteral("HDR"));
    QCOMPARE(frm.lbl_RecordLines->text(), QString());
    QCOMPARE(frm.lbl_Highest->text(), QString());
    QCOMPARE(frm.MapWindow(), nullptr);
    QVERIFY(frm.State().DataBlocks.empty());

    ModalCatcher catcher;
    QTest::mouseClick(frm.btn_Map, Qt::LeftButton);
    QCOMPARE(catcher.seen.size(), std::size_t{1});
    QCOMPARE(catcher.seen[0].caption, ui::ApplicationTitle());
    QCOMPARE(catcher.seen[0].text, QStringLiteral("No data available. Start parsing with memory map option enabled!"));
    QCOMPARE(catcher.seen[0].icon, QMessageBox::NoIcon);

    // Choosing a file after a failed run keeps the status colour.
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Valid file. Click \"Start parsing...\""));
    QCOMPARE(frm.lbl_Stat->palette().color(QPalette::WindowText), kMaroon);
  }

  void choosingAFileThatIsGone() {
    Tfrm_GUI frm(Ini().toStdString());
    const QColor designed = frm.lbl_Stat->palette().color(QPalette::WindowText);
    frm.SetOpenFileDialog([](QWidget*, const QString&) { return QStringLiteral("/gone.s"); });
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    QCOMPARE(frm.lbl_Name->text(), QStringLiteral("gone.s"));
    QCOMPARE(frm.mem_Path->toPlainText(), QStringLiteral("/"));
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("File selected does not exist!"));
    QCOMPARE(frm.lbl_Stat->palette().color(QPalette::WindowText), designed);
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Input file does not exist!"));

    // A cancelled dialog changes nothing.
    frm.SetOpenFileDialog([](QWidget*, const QString&) { return QString(); });
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    QCOMPARE(frm.lbl_Name->text(), QStringLiteral("gone.s"));
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Input file does not exist!"));
  }

  void firstStartParsesTheDefaultText() {
    Tfrm_GUI frm(Ini().toStdString());
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);
    QCOMPARE(frm.lbl_Stat->text(), QStringLiteral("Input file does not exist!"));
    QCOMPARE(frm.lbl_Stat->palette().color(QPalette::WindowText), kMaroon);
  }

  void settingsRoundTrip() {
    const QString file = Sample(QString::fromUtf8("d\xC3\xA9mo \xE2\x82\xAC.s"), kThreeLines);
    {
      Tfrm_GUI frm(Ini().toStdString());
      frm.SetOpenFileDialog([&](QWidget*, const QString&) { return file; });
      QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
      frm.move(-20, 16);
      frm.show();
      QVERIFY(frm.close());
    }
    const QString path = dir_.path() + QLatin1Char('/');
    QCOMPARE(Read(Ini()), QStringLiteral("[app]\ntop=16\nleft=-20\n[file]\nname=") +
                              QString::fromLatin1(QFile::encodeName(QString::fromUtf8("d\xC3\xA9mo \xE2\x82\xAC.s"))) +
                              QStringLiteral("\npath=") + QString::fromLatin1(QFile::encodeName(path)) +
                              QStringLiteral("\n"));
    Tfrm_GUI again(Ini().toStdString());
    QCOMPARE(again.pos(), QPoint(-20, 16));
    QCOMPARE(again.lbl_Name->text(), QString::fromUtf8("d\xC3\xA9mo \xE2\x82\xAC.s"));
    QCOMPARE(again.mem_Path->toPlainText(), path);
    QVERIFY(again.lbl_Name->toolTip().isEmpty());
    // The restored file parses at once, without the dialog.
    QTest::mouseClick(again.btn_Parse, Qt::LeftButton);
    QCOMPARE(again.lbl_Stat->text(), QStringLiteral("Parsing successfully finished..."));
  }

  void storedPositionForms_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("top");
    // Every form is checked on the store itself; these show the value reaching the window.
    const struct {
      const char* stored;
      int top;
    } rows[] = {{"0X10", 16}, {"-20", -20}, {"$FFFFFFFF", -1}, {"12x", 296}, {"", 296}};
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

  void storedEmptyName() {
    Write(Ini(), "[file]\nname=\n");
    Tfrm_GUI frm(Ini().toStdString());
    QCOMPARE(frm.lbl_Name->text(), QString());
    QCOMPARE(frm.mem_Path->toPlainText(), QString());
  }

  void writeFailureKeepsTheWindowOpen() {
    const QString file = Sample(QStringLiteral("demo.s19"), kThreeLines);
    QVERIFY(QDir().mkpath(Ini()));
    Tfrm_GUI frm(Ini().toStdString());
    frm.SetOpenFileDialog([&](QWidget*, const QString&) { return file; });
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    frm.chk_GenMap->setChecked(true);
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);
    frm.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frm));
    {
      ModalCatcher catcher;
      QVERIFY(!frm.close());
      QCOMPARE(catcher.seen.size(), std::size_t{1});
      QCOMPARE(catcher.seen[0].caption, ui::ApplicationTitle());
      QCOMPARE(catcher.seen[0].text, QStringLiteral("In ") + Ini() + QStringLiteral(" kann nicht geschrieben werden."));
      QCOMPARE(catcher.seen[0].icon, QMessageBox::Critical);
      QVERIFY(catcher.seen[0].plain);
    }
    QVERIFY(frm.isVisible());
    QCOMPARE(frm.State().DataBlocks.size(), std::size_t{1});
    QVERIFY(frm.MapWindow() != nullptr);
    QCOMPARE(frm.lbl_Name->text(), QStringLiteral("demo.s19"));

    QVERIFY(QDir(Ini()).removeRecursively());
    QVERIFY(frm.close());
    QVERIFY(!frm.isVisible());
    QVERIFY(frm.State().DataBlocks.empty());
    QCOMPARE(frm.MapWindow(), nullptr);
    QVERIFY(Read(Ini()).contains(QStringLiteral("name=demo.s19")));
  }

  void commandsWaitWhileARunIsInProgress() {
    const QString file = Sample(QStringLiteral("two.s"), QByteArray::fromStdString(
                                                             Record('1', 0x100, 2, "ABCD") + Record('1', 0x120, 2, "EF") +
                                                             Record('9', 0x100, 2, "")));
    ProbeGui frm(Ini().toStdString());
    int dialogs = 0;
    frm.SetOpenFileDialog([&](QWidget*, const QString&) {
      ++dialogs;
      return file;
    });
    QTest::mouseClick(frm.btn_Open, Qt::LeftButton);
    frm.chk_GenMap->setChecked(true);
    frm.show();

    ModalCatcher catcher;
    bool was_running = false;
    bool still_open = false;
    std::vector<std::string> blocks;
    frm.before_map = [&](const MapRequest& request) {
      // Everything a user could have queued during the run arrives while the map is being built.
      QTimer::singleShot(0, frm.btn_Parse, &QPushButton::click);
      QTimer::singleShot(0, frm.btn_Open, &QPushButton::click);
      QTimer::singleShot(0, frm.btn_About, &QPushButton::click);
      QTimer::singleShot(0, frm.btn_Map, &QPushButton::click);
      QTimer::singleShot(0, &frm, &QWidget::close);
      QCoreApplication::processEvents();
      was_running = frm.Running();
      still_open = frm.isVisible();
      for (const DataBlock block : *request.blocks) {
        blocks.emplace_back(reinterpret_cast<const char*>(block.Data), static_cast<std::size_t>(block.Length));
      }
    };
    QTest::mouseClick(frm.btn_Parse, Qt::LeftButton);

    QVERIFY(was_running);
    QVERIFY(still_open);
    QCOMPARE(blocks, (std::vector<std::string>{"ABCD", "EF"}));
    QCOMPARE(frm.discards, 1);
    QCOMPARE(dialogs, 1);
    QVERIFY(catcher.seen.empty());
    // The deferred close ran once the run was over.
    QVERIFY(!frm.isVisible());
    QCOMPARE(frm.MapWindow(), nullptr);
    QVERIFY(frm.State().DataBlocks.empty());
    QVERIFY(Read(Ini()).contains(QStringLiteral("name=two.s")));
  }

  void outOfMemoryDialog() {
    Tfrm_GUI frm(Ini().toStdString());
    ModalCatcher catcher;
    frm.ReportOutOfMemory();
    QCOMPARE(catcher.seen.size(), std::size_t{1});
    QCOMPARE(catcher.seen[0].caption, QStringLiteral("Fehler"));
    QCOMPARE(catcher.seen[0].text, QStringLiteral("Out of memory!!"));
    QCOMPARE(catcher.seen[0].icon, QMessageBox::Critical);
  }

  void aboutOpensModally() {
    Tfrm_GUI frm(Ini().toStdString());
    frm.show();
    ModalCatcher catcher;
    QTest::mouseClick(frm.btn_About, Qt::LeftButton);
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
      QString text;
    } cases[] = {
        {[] { throw std::runtime_error("Something went wrong"); }, QStringLiteral("Something went wrong.")},
        {[] { throw std::runtime_error("Done."); }, QStringLiteral("Done.")},
        {[] { throw 42; }, QString()},
    };
    for (const auto& c : cases) {
      thrower.raise = c.raise;
      ModalCatcher catcher;
      QEvent event(QEvent::User);
      QCOMPARE(QCoreApplication::sendEvent(&thrower, &event), false);
      QCOMPARE(catcher.seen.size(), std::size_t{1});
      QCOMPARE(catcher.seen[0].caption, ui::ApplicationTitle());
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
