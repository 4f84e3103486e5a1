#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QRegion>
#include <QScrollBar>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mapwindow/frm_data.h"
#include "mapwindow/job_slot.h"
#include "support/file_size_cap.h"
#include "support/modal_answerer.h"

using varnok::CellPos;
using varnok::MapGridView;
using varnok::Tfrm_Data;

namespace {

MapGridView* GridOf(const Tfrm_Data& map) { return map.findChild<MapGridView*>(QStringLiteral("Grid")); }

template <typename Widget>
Widget* Child(const Tfrm_Data& map, const char* name) {
  return map.findChild<Widget*>(QString::fromLatin1(name));
}

// A grid position, or a point in the grid's viewport where no cell is.
struct Spot {
  std::int32_t column = 0;
  std::int32_t row = 0;
  QPoint raw{-1, -1};
};

using Keys = std::vector<QKeyCombination>;

Spot At(std::int32_t column, std::int32_t row) { return {column, row, {-1, -1}}; }
Spot Raw(int x, int y) { return {0, 0, {x, y}}; }

QPoint CellCentre(const Tfrm_Data& map, std::int32_t column, std::int32_t row) {
  return GridOf(map)->CellRect(column, row).center();
}

QPoint Where(const Tfrm_Data& map, const Spot& spot) {
  return spot.raw.x() >= 0 ? spot.raw : CellCentre(map, spot.column, spot.row);
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButton button) {
  const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent event(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void MoveMouse(const Tfrm_Data& map, QPoint pos) {
  SendMouse(GridOf(map)->viewport(), QEvent::MouseMove, pos, Qt::NoButton);
}

void Click(const Tfrm_Data& map, QPoint pos) {
  SendMouse(GridOf(map)->viewport(), QEvent::MouseButtonPress, pos, Qt::LeftButton);
  SendMouse(GridOf(map)->viewport(), QEvent::MouseButtonRelease, pos, Qt::LeftButton);
}

int Distance(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

// Whether rect holds a glyph pixel of the text colour: smoothed edges blend it with the fill, so a pixel
// much nearer to the text colour than the fill is will do.
bool HasInk(const QImage& image, const QRect& rect, const QColor& text, const QColor& fill) {
  const int contrast = Distance(text.rgb(), fill.rgb());
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) {
      if (Distance(image.pixel(x, y), text.rgb()) * 4 < contrast) return true;
    }
  }
  return false;
}

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y); }

void Fill(varnok::MapGrid& map, std::uint32_t address, const std::string& bytes) {
  map.FillBlock(address, static_cast<std::int32_t>(bytes.size()), reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

// The texts of the message boxes a command shows; each is answered with OK.
class MessageRecorder {
 public:
  MessageRecorder()
      : answerer_([this](QDialog& dialog) {
          if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
            texts << box->text();
            box->accept();
          }
        }) {}
  QStringList texts;

 private:
  varnok::test::ModalAnswerer answerer_;
};

const QColor kAqua(0, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kFuchsia(255, 0, 255);
const QColor kLime(0, 255, 0);

// Three regions in a 256 KiB map: rows 9 and 10, row 129, rows 1025 to 3072.
void FillThreeRegions(varnok::MapGrid& map) {
  Fill(map, 0x100, std::string(64, 'a'));
  Fill(map, 0x1000, "b");
  Fill(map, 0x8000, std::string(0x10000, 'c'));
}

// Types each key combination into the grid of the active window. The offscreen platform does not hand the
// activation back to the window when one of its dialogs closes, so the window takes it again.
void Type(Tfrm_Data& map, const Keys& keys) {
  for (const QKeyCombination key : keys) {
    map.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&map));
    QTest::keyClick(GridOf(map), key.key(), key.keyboardModifiers());
  }
}

// Holds back the threads of the jobs started through a slot until it goes, so that a test acts while a read goes on.
// Made after the slot, so that it lets the threads go before the slot waits for them.
class HeldThreads {
 public:
  explicit HeldThreads(varnok::JobSlot& slot) {
    slot.SetThreadStart([go = go_](std::function<void()> work) {
      return std::thread([go, work = std::move(work)] {
        while (!*go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        work();
      });
    });
  }
  ~HeldThreads() { Release(); }
  void Release() { *go_ = true; }

 private:
  std::shared_ptr<std::atomic<bool>> go_ = std::make_shared<std::atomic<bool>>(false);
};

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Ctrl+R, then Enter on the list's entry `index`.
void ChooseListed(Tfrm_Data& map, int index) {
  const varnok::test::ModalAnswerer answerer([index](QDialog& dialog) {
    auto* list = dialog.findChild<QListView*>("Regions");
    if (list == nullptr || !list->viewport()->isVisible()) return;
    list->setCurrentIndex(list->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
  });
  map.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&map));
  QTest::keyClick(GridOf(map), Qt::Key_R, Qt::ControlModifier);
}

// The fill colour of a byte cell as painted.
QRgb CellFill(const Tfrm_Data& map, std::int32_t column, std::int32_t row) {
  const QRect cell = GridOf(map)->CellRect(column, row);
  return GridOf(map)->grab().toImage().pixel(cell.center().x(), cell.top() + 2);
}

// The slider of a scroll bar, in its own coordinates.
QRect SliderRect(QScrollBar& bar) {
  QStyleOptionSlider option;
  option.initFrom(&bar);
  option.subControls = QStyle::SC_All;
  option.orientation = bar.orientation();
  option.minimum = bar.minimum();
  option.maximum = bar.maximum();
  option.sliderPosition = bar.sliderPosition();
  option.sliderValue = bar.value();
  option.singleStep = bar.singleStep();
  option.pageStep = bar.pageStep();
  return bar.style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, &bar);
}

using varnok::test::FileSizeCap;

// Makes an entry of a kind at path: "" none, "file" a regular file, "char" a copy of /dev/full, "fifo", "folder",
// "link" a link to target.txt beside it.
bool Make(const QString& kind, const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  if (kind.isEmpty()) return true;
  if (kind == "file") {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("old\n") == 4;
  }
  if (kind == "char") return ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  if (kind == "fifo") return ::mkfifo(name.constData(), 0600) == 0;
  if (kind == "folder") return QDir().mkdir(path);
  if (kind == "link") return ::symlink("target.txt", name.constData()) == 0;
  return false;
}

// The entries of a folder, each as its name and what it is, in name order.
QStringList Entries(const QString& folder) {
  QStringList entries;
  for (const QString& entry : QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
    const QByteArray name = QFile::encodeName(QDir(folder).filePath(entry));
    struct stat status {};
    if (::lstat(name.constData(), &status) != 0) return {entry + " vanished"};
    if (S_ISLNK(status.st_mode)) {
      entries << entry + " -> " + QFileInfo(QDir(folder).filePath(entry)).symLinkTarget().section('/', -1);
    } else if (S_ISCHR(status.st_mode)) {
      entries << entry + QString(" char %1,%2").arg(major(status.st_rdev)).arg(minor(status.st_rdev));
    } else {
      entries << entry + (S_ISREG(status.st_mode)    ? " file"
                          : S_ISFIFO(status.st_mode) ? " fifo"
                          : S_ISDIR(status.st_mode)  ? " folder"
                                                     : " other");
    }
  }
  return entries;
}

}  // namespace

class FrmDataTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QWidget> owner_;

  // A map of 128 rows from 0x1000 with DE AD BE EF at rows 3 and 65 and across rows 81 and 82, "VERSION" in
  // row 9, and the start vector inside the first match; active, so that it takes shortcuts.
  Tfrm_Data* NewFindMap() {
    Tfrm_Data* map = NewMap(0x00001000, 0x00001FFF, [](varnok::MapGrid& grid) {
      const std::string dead_beef("\xDE\xAD\xBE\xEF");
      Fill(grid, 0x1040, dead_beef);
      Fill(grid, 0x1105, "VERSION");
      Fill(grid, 0x1800, dead_beef);
      Fill(grid, 0x1A1E, dead_beef);
      grid.MarkStartVector(0x1041);
    });
    if (map == nullptr || !QTest::qWaitForWindowActive(map)) return nullptr;
    return map;
  }

  // Shows a new map window over the map of lowest..highest that fill writes into, its regions found as a fill
  // finds them when it ends.
  Tfrm_Data* NewMap(std::uint32_t lowest, std::uint32_t highest,
                    const std::function<void(varnok::MapGrid&)>& fill = {}, const std::string& name = "test.s19") {
    varnok::MapGrid grid;
    grid.Build(lowest, highest);
    if (fill) fill(grid);
    grid.FindRegions();
    auto* map = new Tfrm_Data(owner_.get(), name);
    map->SetMap(std::move(grid));
    map->ShowMap();
    if (!QTest::qWaitForWindowExposed(map)) return nullptr;
    return map;
  }

 private slots:
  void init() {
    owner_ = std::make_unique<QWidget>();
    owner_->setGeometry(100, 80, 700, 500);
    owner_->show();
    QVERIFY(QTest::qWaitForWindowExposed(owner_.get()));
  }
  void cleanup() { owner_.reset(); }

  void layout_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("plain") << QByteArray("test.s19") << QString("Memory map of file 'test.s19'");
    QTest::newRow("cut at byte 0") << QByteArray("ab\0cd", 5) << QString("Memory map of file 'ab'");
    QTest::newRow("Latin-1") << QByteArray("\xE4pfel.s19") << QString::fromUtf8("Memory map of file 'äpfel.s19'");
    QTest::newRow("modified mark") << QByteArray("a[*]b.s19") << QString("Memory map of file 'a[*]b.s19'");
  }
  void layout() {
    QFETCH(QByteArray, name);
    QFETCH(QString, caption);
    Tfrm_Data* map = NewMap(0x00000000, 0x0000000F, {}, name.toStdString());
    QVERIFY(map);
    QCOMPARE(map->windowHandle()->title(), caption);
    QCOMPARE(map->width(), 880);
    QCOMPARE(map->frameGeometry().height(), 261);
    const int h = map->height();
    QCOMPARE(GridOf(*map)->geometry(), QRect(0, 0, 879, h - 27));
    QCOMPARE(Child<QFrame>(*map, "Panel")->geometry(), QRect(0, h - 27, 880, 27));

    const struct {
      const char* name;
      QRect geometry;
      const char* text;
      QColor legend;  // the colour a legend panel stands for
    } labels[] = {
        {"Label1", {8, 8, 129, 13}, "Address at mouse cursor:", {}},
        {"lbl_Adr", {136, 8, 65, 13}, "", {}},
        {"Panel1", {216, 5, 73, 17}, "Unused", QColor(0, 255, 0)},
        {"Panel2", {304, 5, 73, 17}, "Filled", QColor(255, 255, 0)},
        {"Panel3", {392, 5, 73, 17}, "Start vector", QColor(255, 0, 255)},
    };
    for (const auto& entry : labels) {
      const QLabel* label = Child<QLabel>(*map, entry.name);
      QCOMPARE(label->geometry(), entry.geometry);
      QCOMPARE(label->text(), QString(entry.text));
      if (!entry.legend.isValid()) continue;
      QCOMPARE(label->palette().color(QPalette::Window), entry.legend);
      QCOMPARE(label->frameShadow(), QFrame::Raised);
      QCOMPARE(label->alignment(), Qt::AlignCenter);
    }

    QCOMPARE(GridOf(*map)->Row(), 1);
  }

  void heightOnly_data() {
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("taller and wider") << QSize(1000, 600) << QSize(880, 600);
    QTest::newRow("shorter and narrower") << QSize(500, 150) << QSize(880, 150);
  }
  void heightOnly() {
    QFETCH(QSize, requested);
    QFETCH(QSize, expected);
    Tfrm_Data* map = NewMap(0x00000000, 0x0000FFFF);
    QVERIFY(map);
    map->resize(requested);
    QCOMPARE(map->size(), expected);
    QCOMPARE(GridOf(*map)->geometry(), QRect(0, 0, 879, expected.height() - 27));
    QCOMPARE(Child<QFrame>(*map, "Panel")->geometry(), QRect(0, expected.height() - 27, 880, 27));
  }

  void maximisedKeepsWidth() {
    Tfrm_Data* map = NewMap(0x00000000, 0x0000FFFF);
    QVERIFY(map);
    map->showMaximized();
    QTRY_VERIFY(map->isMaximized());
    QCOMPARE(map->width(), 880);
    QCOMPARE(GridOf(*map)->height(), map->height() - 27);
  }

  void readout_data() {
    QTest::addColumn<quint32>("lowest");
    QTest::addColumn<std::vector<Spot>>("moves");
    QTest::addColumn<QString>("shown");
    const int below_rows = 2 * 25 + 5;  // header and one data row, then empty grid
    QTest::newRow("nothing yet") << 0u << std::vector<Spot>{} << QString();
    QTest::newRow("byte cell") << 0u << std::vector<Spot>{At(16, 1)} << QString("0x0000000F");
    QTest::newRow("grid line belongs to the cell on its left")
        << 0u << std::vector<Spot>{Raw(65 + 16 * 17 - 1, 30)} << QString("0x0000000F");
    QTest::newRow("unaligned base") << 0x1005u << std::vector<Spot>{At(3, 1)} << QString("0x00001007");
    // No place without a byte cell (address column, ASCII column, header row, below the last row, right of the
    // columns) clears or changes the text.
    QTest::newRow("places without a byte cell keep it")
        << 0u << std::vector<Spot>{At(16, 1), At(0, 1), At(33, 1), At(16, 0), Raw(300, below_rows), Raw(876, 30)}
        << QString("0x0000000F");
    QTest::newRow("no byte cell, no text")
        << 0u << std::vector<Spot>{At(0, 1), At(33, 1), At(5, 0), Raw(300, below_rows)} << QString();
  }
  void readout() {
    QFETCH(quint32, lowest);
    QFETCH(std::vector<Spot>, moves);
    QFETCH(QString, shown);
    Tfrm_Data* map = NewMap(lowest, lowest + 0xF);
    QVERIFY(map);
    for (const Spot& spot : moves) MoveMouse(*map, Where(*map, spot));
    QCOMPARE(Child<QLabel>(*map, "lbl_Adr")->text(), shown);
  }

  void cellColours_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("row");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("text");
    const QColor white(255, 255, 255);
    const QColor black(0, 0, 0);
    const QPalette pal = QApplication::palette();
    QTest::newRow("filled, selected") << 1 << 1 << QColor(0, 0, 255) << white;
    QTest::newRow("start vector, selected") << 2 << 1 << QColor(255, 0, 0) << white;
    QTest::newRow("unused, selected") << 3 << 1 << black << white;
    QTest::newRow("filled") << 1 << 2 << QColor(255, 255, 0) << black;
    QTest::newRow("start vector on no data") << 2 << 2 << QColor(255, 0, 255) << black;
    QTest::newRow("unused") << 3 << 2 << QColor(0, 255, 0) << black;
    QTest::newRow("ASCII, selected") << 33 << 1 << pal.color(QPalette::Window) << pal.color(QPalette::ButtonText);
    QTest::newRow("ASCII") << 33 << 2 << pal.color(QPalette::Window) << pal.color(QPalette::ButtonText);
    QTest::newRow("address of the selected row") << 0 << 1 << QColor(255, 251, 240)
                                                  << pal.color(QPalette::WindowText);
    QTest::newRow("byte header") << 5 << 0 << QColor(255, 251, 240) << pal.color(QPalette::WindowText);
    QTest::newRow("ASCII header") << 33 << 0 << QColor(255, 251, 240) << pal.color(QPalette::WindowText);
  }
  void cellColours() {
    QFETCH(int, column);
    QFETCH(int, row);
    QFETCH(QColor, fill);
    QFETCH(QColor, text);
    Tfrm_Data* map = NewMap(0x00001000, 0x0000107F, [](varnok::MapGrid& grid) {
      Fill(grid, 0x1000, "AB");
      Fill(grid, 0x1020, "C");
      grid.MarkStartVector(0x1001);
      grid.MarkStartVector(0x1021);
    });
    QVERIFY(map);
    const QImage image = GridOf(*map)->grab().toImage();
    const QRect cell = GridOf(*map)->CellRect(column, row);
    QCOMPARE(Pixel(image, cell.center().x(), cell.top() + 2), fill.rgb());
    QVERIFY(HasInk(image, cell.adjusted(1, 1, -1, -1), text, fill));
  }

  void fixedCellsAreRaised() {
    Tfrm_Data* map = NewMap(0x00001000, 0x0000107F);
    QVERIFY(map);
    const QImage image = GridOf(*map)->grab().toImage();
    const QColor light = map->palette().color(QPalette::Light);
    const QColor dark = map->palette().color(QPalette::Dark);
    for (const CellPos pos : {CellPos{5, 0}, CellPos{0, 2}, CellPos{33, 0}}) {
      const QRect cell = GridOf(*map)->CellRect(pos.column, pos.row);
      QCOMPARE(Pixel(image, cell.center().x(), cell.top()), light.rgb());
      QCOMPARE(Pixel(image, cell.left(), cell.center().y()), light.rgb());
      QCOMPARE(Pixel(image, cell.center().x(), cell.bottom()), dark.rgb());
      QCOMPARE(Pixel(image, cell.right(), cell.center().y()), dark.rgb());
    }
    // The ASCII header's text begins 42 pixels from the column's left edge.
    const QRect header = GridOf(*map)->CellRect(33, 0);
    int first_ink = -1;
    for (int x = header.left() + 1; x < header.right() && first_ink < 0; ++x) {
      for (int y = header.top() + 1; y < header.bottom(); ++y) {
        if (Pixel(image, x, y) != QColor(255, 251, 240).rgb()) {
          first_ink = x - header.left();
          break;
        }
      }
    }
    QVERIFY2(first_ink >= 42 && first_ink <= 44, qPrintable(QString::number(first_ink)));
  }

  void keys_data() {
    QTest::addColumn<std::vector<int>>("keys");
    QTest::addColumn<int>("row");
    QTest::newRow("down") << std::vector<int>{Qt::Key_Down} << 2;
    QTest::newRow("down, up") << std::vector<int>{Qt::Key_Down, Qt::Key_Up} << 1;
    QTest::newRow("up stops at the first row") << std::vector<int>{Qt::Key_Up} << 1;
    QTest::newRow("page down") << std::vector<int>{Qt::Key_PageDown} << 9;
    QTest::newRow("end") << std::vector<int>{Qt::Key_End} << 1024;
    QTest::newRow("down stops at the last row") << std::vector<int>{Qt::Key_End, Qt::Key_Down} << 1024;
    QTest::newRow("end, page up") << std::vector<int>{Qt::Key_End, Qt::Key_PageUp} << 1016;
    QTest::newRow("end, home") << std::vector<int>{Qt::Key_End, Qt::Key_Home} << 1;
  }
  void keys() {
    QFETCH(std::vector<int>, keys);
    QFETCH(int, row);
    Tfrm_Data* map = NewMap(0x00000000, 0x00007FFF);  // 1024 data rows, 8 in view
    QVERIFY(map);
    QCOMPARE(GridOf(*map)->VisibleRowCount(), 8);
    for (const int key : keys) QTest::keyClick(GridOf(*map), static_cast<Qt::Key>(key));
    QCOMPARE(GridOf(*map)->Row(), row);
    QVERIFY(!GridOf(*map)->CellRect(1, row).isEmpty());
  }

  // Shift with a click or an arrow selects a range of rows; "Copy row" copies each as the map's text gives it,
  // "Copy as hex" its 32 bytes as plain hex, one row a line.
  void rangeIsCopied_data() {
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<int>("shift_clicked");  // after the keys; 0: none
    QTest::addColumn<QStringList>("hex");    // of the selected rows, from row 1 ('a'), 2 (unused) or 3 ('c')
    const QString a = QString("61").repeated(32);
    const QString unused = QString("FF").repeated(32);
    const QString c = QString("63").repeated(32);
    QTest::newRow("Shift+Down twice") << Keys{Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Down} << 0
                                      << QStringList{a, unused, c};
    QTest::newRow("Shift+click") << Keys{Qt::Key_Down} << 3 << QStringList{unused, c};
    QTest::newRow("an arrow without Shift") << Keys{Qt::SHIFT | Qt::Key_Down, Qt::Key_Down} << 0 << QStringList{c};
  }
  void rangeIsCopied() {
    QFETCH(Keys, keys);
    QFETCH(int, shift_clicked);
    QFETCH(QStringList, hex);
    Tfrm_Data* map = NewMap(0x00001000, 0x0000107F, [](varnok::MapGrid& grid) {
      Fill(grid, 0x1000, std::string(32, 'a'));
      Fill(grid, 0x1040, std::string(32, 'c'));
    });
    QVERIFY(map);
    Type(*map, keys);
    if (shift_clicked != 0) {
      QTest::mouseClick(GridOf(*map)->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                        CellCentre(*map, 5, shift_clicked));
    }
    std::string rows;
    for (int row = GridOf(*map)->FirstSelectedRow(); row <= GridOf(*map)->LastSelectedRow(); ++row) {
      if (!rows.empty()) rows += '\n';
      map->Map().AppendRowText(row, rows);
    }
    Type(*map, {Qt::CTRL | Qt::Key_C});
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(rows));
    Type(*map, {Qt::CTRL | Qt::SHIFT | Qt::Key_C});
    QCOMPARE(QGuiApplication::clipboard()->text(), hex.join('\n'));
  }

  void lastRowOf4GiBMap() {
    Tfrm_Data* map = NewMap(0x00000000, 0xFFFFFFFF);
    QVERIFY(map);
    QTest::keyClick(GridOf(*map), Qt::Key_End);
    QCOMPARE(GridOf(*map)->Row(), 134217728);
    MoveMouse(*map, CellCentre(*map, 1, 134217728));
    QCOMPARE(Child<QLabel>(*map, "lbl_Adr")->text(), QString("0xFFFFFFE0"));
    MoveMouse(*map, CellCentre(*map, 32, 134217728));
    QCOMPARE(Child<QLabel>(*map, "lbl_Adr")->text(), QString("0xFFFFFFFF"));
    const QRect last = GridOf(*map)->CellRect(1, 134217728);
    QCOMPARE(GridOf(*map)->MouseCoord(last.center().x(), last.bottom() + 2).row, -1);
  }

  void clickAndWheel() {
    Tfrm_Data* map = NewMap(0x00000000, 0x00007FFF);
    QVERIFY(map);
    Click(*map, CellCentre(*map, 5, 3));
    QCOMPARE(GridOf(*map)->Row(), 3);
    Click(*map, CellCentre(*map, 5, 0));
    Click(*map, CellCentre(*map, 0, 2));
    QCOMPARE(GridOf(*map)->Row(), 3);
    Click(*map, CellCentre(*map, 33, 4));
    QCOMPARE(GridOf(*map)->Row(), 4);

    const QPoint pos = CellCentre(*map, 5, 2);
    QWheelEvent wheel(QPointF(pos), QPointF(GridOf(*map)->viewport()->mapToGlobal(pos)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(GridOf(*map)->viewport(), &wheel);
    QVERIFY(GridOf(*map)->TopRow() > 1);
    QCOMPARE(GridOf(*map)->Row(), 4);
  }

  void goTo_data() {
    QTest::addColumn<QStringList>("entries");  // the last one is accepted, or cancelled when empty
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("complaint");  // what the dialog says after the first entry
    QTest::newRow("with 0x, lower case") << QStringList{"0x107f"} << 4 << QString();
    QTest::newRow("outside, then inside")
        << QStringList{"2000", "1021"} << 2 << QString("0x00002000 lies outside this map.");
    QTest::newRow("not hex, then cancelled")
        << QStringList{"12G4", ""} << 1 << QString("'12G4' is not a hexadecimal address.");
  }
  void goTo() {
    QFETCH(QStringList, entries);
    QFETCH(int, row);
    QFETCH(QString, complaint);
    Tfrm_Data* map = NewMap(0x00001000, 0x0000107F);
    QVERIFY(map);
    QVERIFY(QTest::qWaitForWindowActive(map));

    QStringList labels;
    QSet<QDialog*> dialogs;
    const varnok::test::ModalAnswerer answerer([&](QDialog& dialog) {
      auto* input = qobject_cast<QInputDialog*>(&dialog);
      if (input == nullptr || entries.isEmpty()) return;
      dialogs.insert(input);
      labels << input->labelText();
      const QString entry = entries.takeFirst();
      if (entry.isEmpty()) {
        input->reject();
        return;
      }
      input->setTextValue(entry);
      input->accept();
    });
    QTest::keyClick(map, Qt::Key_G, Qt::ControlModifier);

    QCOMPARE(GridOf(*map)->Row(), row);
    QVERIFY(entries.isEmpty());
    QVERIFY(labels.front().contains("0x00001000 to 0x0000107F"));
    if (!complaint.isEmpty()) QVERIFY2(labels.at(1).startsWith(complaint), qPrintable(labels.at(1)));
    // A refused entry is asked for again in the same dialog.
    QCOMPARE(dialogs.size(), 1);
  }

  // Closing the window only hides it; ShowMap brings a hidden or a minimised window back as it was. The window goes
  // with its owner.
  void showMapBringsItBack_data() {
    QTest::addColumn<bool>("minimise");
    QTest::newRow("closed") << false;
    QTest::newRow("minimised") << true;
  }
  void showMapBringsItBack() {
    QFETCH(bool, minimise);
    QPointer<Tfrm_Data> map = NewMap(0x00001000, 0x0000107F);
    QVERIFY(map);
    map->resize(880, 400);
    const QRect geometry = map->geometry();
    if (minimise) {
      map->showMinimized();
      QTRY_VERIFY(map->isMinimized());
    } else {
      QVERIFY(map->close());
      QVERIFY(map);
      QVERIFY(!map->isVisible());
    }
    map->ShowMap();
    QVERIFY(QTest::qWaitForWindowExposed(map.data()));
    QVERIFY(!map->isMinimized());
    QCOMPARE(map->geometry(), geometry);
    owner_.reset();
    QVERIFY(!map);
  }

  // The grid's context menu offers every command with its shortcut.
  void contextMenu() {
    Tfrm_Data* map = NewMap(0x00001000, 0x0000107F);
    QVERIFY(map);
    QCOMPARE(GridOf(*map)->contextMenuPolicy(), Qt::ActionsContextMenu);
    QStringList shown;
    for (const QAction* action : GridOf(*map)->actions()) {
      shown << (action->isSeparator() ? QString("-") : action->text() + "\t" + action->shortcut().toString());
    }
    QCOMPARE(shown, QStringList({"Go to address...\tCtrl+G", "Next region\tCtrl+Down", "Previous region\tCtrl+Up",
                                 "Regions...\tCtrl+R", "Memory regions...\tCtrl+M", "No regions\tCtrl+Shift+M", "Find...\tCtrl+F", "Find next\tF3", "Find previous\tShift+F3",
                                 "Copy row\tCtrl+C", "Copy as hex\tCtrl+Shift+C", "Compare with...\tCtrl+D",
                                 "Next difference\tF8", "Previous difference\tShift+F8", "-",
                                 "Save map as text...\tCtrl+S"}));
    // Shift+F10 opens it from the keyboard, as the Menu key does.
    QStringList opened;
    QTimer::singleShot(0, map, [&opened] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (const QAction* action : menu->actions()) opened << action->text();
        menu->close();
      }
    });
    QTest::keyClick(GridOf(*map), Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(opened.size(), shown.size());
  }

  // Ctrl+D asks for the file to compare with and hands it to the owner, whose image B (here one byte other, a block
  // below A's rows and one above) widens the map to B's rows: the cells that differ take the comparison's colours,
  // F8 and Shift+F8 visit the differences in order, the read-out tells both bytes and Ctrl+R adds the --diff lines.
  // Escape during the read asks the owner to stop; the map stays as it was.
  void compare_data() {
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("readout");  // of the selected row's first difference, for the keyboard
    const QKeyCombination home(Qt::Key_Home);
    const QKeyCombination end(Qt::Key_End);
    const QKeyCombination next(Qt::Key_F8);
    const QKeyCombination previous(Qt::ShiftModifier, Qt::Key_F8);
    const QString at_1002 = QStringLiteral("0x00001002: 63 in A, 58 in B");
    const QString at_1200 = QStringLiteral("0x00001200: none in A, 6E in B");
    QTest::newRow("the selected row keeps its address") << Keys{} << 9 << QString();
    QTest::newRow("first") << Keys{home, next} << 9 << at_1002;
    QTest::newRow("second") << Keys{home, next, next} << 25 << at_1200;
    QTest::newRow("past the last") << Keys{home, next, next, next} << 25 << at_1200;
    QTest::newRow("back from the end") << Keys{end, previous} << 9 << at_1002;
    QTest::newRow("back to the first") << Keys{end, previous, previous, previous} << 1
                                       << QStringLiteral("0x00000F00: none in A, 6C in B");
    QTest::newRow("Escape during the read") << Keys{QKeyCombination(Qt::Key_Escape)} << 1 << QString();
  }
  void compare() {
    QFETCH(Keys, keys);
    QFETCH(int, row);
    QFETCH(QString, readout);
    Tfrm_Data* map = NewMap(0x00001000, 0x000010FF, [](varnok::MapGrid& grid) {
      Fill(grid, 0x1000, "abcd");
      Fill(grid, 0x1080, "efgh");
    });
    QVERIFY(map);
    QVERIFY(QTest::qWaitForWindowActive(map));
    const QTemporaryDir dir;
    const QString other = dir.filePath("b.s19");
    QVERIFY(WriteFile(other, "S1060F006C6F7798\nS10710006162586469\nS107108065666768CE\nS10612006E65779D\n"
                             "S9031000EC\n"));
    map->SetCompareFileDialog([&other](QWidget*) { return other.toStdString(); });
    varnok::JobSlot slot;
    HeldThreads held(slot);
    map->SetJobSlot(&slot);
    QTest::keyClick(GridOf(*map), Qt::Key_D, Qt::ControlModifier);
    QVERIFY(map->CompareReading() && slot.Busy());
    QCOMPARE(map->windowTitle(), QStringLiteral("Memory map of file 'test.s19' - Comparing... 0 %"));
    if (keys == Keys{QKeyCombination(Qt::Key_Escape)}) {
      QTest::keyClick(GridOf(*map), Qt::Key_Escape);
      held.Release();
      QTRY_VERIFY(!map->CompareReading());
      QCOMPARE(Child<QLabel>(*map, "lbl_Note")->text(), QStringLiteral("Compare cancelled"));
      QCOMPARE(map->windowTitle(), QStringLiteral("Memory map of file 'test.s19'"));
      QVERIFY(map->Other() == nullptr && !Child<QFrame>(*map, "ExtraPanel")->isVisible());
      return;
    }
    held.Release();
    QTRY_VERIFY(!map->CompareReading());
    QCOMPARE(map->windowTitle(), QStringLiteral("Memory map of file 'test.s19'"));
    QCOMPARE(GridOf(*map)->RowCount(), 25 + 1);
    // Both files of a user may have the same name: the panel names B, its tooltip gives the full path.
    QCOMPARE(Child<QLabel>(*map, "lbl_Other")->text(), QStringLiteral("Compared with b.s19"));
    QVERIFY(Child<QLabel>(*map, "lbl_Other")->toolTip().contains(other));
    Type(*map, keys);
    QCOMPARE(GridOf(*map)->Row(), row);
    QCOMPARE(Child<QLabel>(*map, "lbl_Compare")->text(), readout);
    if (!keys.empty()) return;

    GridOf(*map)->SelectRow(1);
    QCOMPARE(CellFill(*map, 1, 1), QColor(230, 159, 0).rgb());  // only in B, on the selected row too
    GridOf(*map)->SelectRow(10);
    QCOMPARE(CellFill(*map, 3, 9), QColor(213, 94, 0).rgb());  // different
    QCOMPARE(CellFill(*map, 2, 9), kYellow.rgb());
    QCOMPARE(CellFill(*map, 5, 9), kLime.rgb());
    MoveMouse(*map, CellCentre(*map, 3, 9));
    QCOMPARE(Child<QLabel>(*map, "lbl_Compare")->text(), QStringLiteral("0x00001002: 63 in A, 58 in B"));

    // The panel keeps its place at the bottom; the comparison's panel sits right above it.
    QCOMPARE(Child<QFrame>(*map, "Panel")->geometry().bottom(), map->height() - 1);
    QCOMPARE(Child<QFrame>(*map, "ExtraPanel")->geometry().bottom() + 1, Child<QFrame>(*map, "Panel")->y());
    // Enter on a difference in the regions list goes to its row: the list's entries are the map's two regions,
    // then the differences.
    ChooseListed(*map, 4);
    QCOMPARE(GridOf(*map)->Row(), 25);
  }

  // Ctrl+M reads a linker script's regions beside the window, which tells of the read in its extra panel: a band
  // of each row's region in the address column, the filled cells outside every region in their own colour with a
  // legend entry, and Ctrl+R adds the regions' use and the ranges outside them. A script that cannot be read (a FIFO
  // without a writer among them) is told in a box; Escape cancels the read. The map stays as it was then.
  void memoryRegions_data() {
    QTest::addColumn<QByteArray>("script");  // empty for a FIFO
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QString>("box");
    const QByteArray regions("MEMORY\n{\n  FLASH (rx) : ORIGIN = 0x1000, LENGTH = 0x40\n  RAM : ORIGIN = 0x8000, LENGTH = 0\n"
                             "  TOP : ORIGIN = 0xFFFFFF00, LENGTH = 0x200\n}\n");
    QTest::newRow("regions") << regions << false << QString();
    QTest::newRow("bad script") << QByteArray("MEMORY {\n A : ORIGIN 0, LENGTH = 1 }") << false
                                << QString(":2: expected '=' after ORIGIN, not '0'");
    QTest::newRow("FIFO") << QByteArray() << false << QString(": cannot read: not a regular file");
    QTest::newRow("Escape during the read") << regions << true << QString();
  }
  void memoryRegions() {
    QFETCH(QByteArray, script);
    QFETCH(bool, escape);
    QFETCH(QString, box);
    const QTemporaryDir dir;
    const QString path = dir.filePath("target.ld");
    QVERIFY(script.isEmpty() ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 : WriteFile(path, script));
    Tfrm_Data* map = NewMap(0x00001000, 0x000010FF, [](varnok::MapGrid& grid) {
      Fill(grid, 0x1000, "abcd");
      Fill(grid, 0x1040, "out");
    });
    QVERIFY(map);
    QVERIFY(QTest::qWaitForWindowActive(map));
    varnok::JobSlot slot;
    HeldThreads held(slot);
    // A read that waits for the FIFO's writer after all is let go before the slot waits for it.
    const std::shared_ptr<void> writer(nullptr, [&path](void*) {
      const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    });
    map->SetJobSlot(&slot);
    map->SetScriptFileDialog([&path](QWidget*) { return path; });
    QStringList chosen;
    connect(map, &Tfrm_Data::scriptChosen, map, [&chosen](const QString& script_path) { chosen << script_path; });
    {
      MessageRecorder boxes;
      QTest::keyClick(GridOf(*map), Qt::Key_M, Qt::ControlModifier);
      QVERIFY(map->RegionsReading());
      QVERIFY(Child<QLabel>(*map, "lbl_Script")->isVisible());
      QVERIFY(Child<QLabel>(*map, "lbl_Script")->text().startsWith(QStringLiteral("Reading memory regions... ")));
      if (escape) QTest::keyClick(GridOf(*map), Qt::Key_Escape);
      held.Release();
      QTRY_VERIFY(!map->RegionsReading());
      QCOMPARE(boxes.texts, box.isEmpty() ? QStringList() : QStringList({path + box}));
    }
    const bool shown = box.isEmpty() && !escape;
    QCOMPARE(chosen, shown ? QStringList({path}) : QStringList());
    QCOMPARE(Child<QLabel>(*map, "Panel7")->isVisible(), shown);
    QCOMPARE(Child<QFrame>(*map, "ExtraPanel")->isVisible(), shown);
    QCOMPARE(Child<QLabel>(*map, "lbl_Note")->text(), escape ? QStringLiteral("Regions cancelled") : QString());
    const QRect address = GridOf(*map)->CellRect(0, 1);
    const QImage image = GridOf(*map)->grab().toImage();
    GridOf(*map)->SelectRow(4);
    if (!shown) {
      QCOMPARE(CellFill(*map, 1, 3), kYellow.rgb());
      return;
    }
    QCOMPARE(image.pixel(address.left() + 1, address.center().y()), QColor(0, 114, 178).rgb());  // FLASH's band
    QCOMPARE(image.pixel(address.left() + 5, address.center().y()), QColor(0, 114, 178).rgb());
    QCOMPARE(image.pixel(address.left() + 7, address.center().y()), QColor(255, 251, 240).rgb());
    QCOMPARE(CellFill(*map, 1, 3), QColor(0, 158, 115).rgb());  // outside every region
    // Each region is named on its band's colour; the script's warning follows the file's.
    QStringList legend;
    for (const QLabel* entry : map->findChildren<QLabel*>("RegionLegend")) {
      QVERIFY(entry->isVisible());
      legend << entry->text() + " " + entry->palette().color(QPalette::Window).name();
    }
    QCOMPARE(legend, QStringList({"FLASH #0072b2", "RAM #e69f00", "TOP #cc79a7"}));
    QVERIFY(Child<QLabel>(*map, "lbl_Warnings")->isVisible());
    QCOMPARE(Child<QLabel>(*map, "lbl_Warnings")->toolTip(),
             "Warning: " + path + ":5: region 'TOP' runs past 0xFFFFFFFF; only its part below 4 GiB is counted");
    MoveMouse(*map, CellCentre(*map, 2, 1));
    QVERIFY(Child<QLabel>(*map, "lbl_Compare")->isVisible());
    QCOMPARE(Child<QLabel>(*map, "lbl_Compare")->text(), QStringLiteral("0x00001001 in FLASH"));

    // Enter on the range outside the regions goes to its row; the list's entries are the map's two regions, the
    // target's three, then the range.
    ChooseListed(*map, 5);
    QCOMPARE(GridOf(*map)->Row(), 3);

    // "No regions" takes them off the map, and tells the owner to forget the script.
    int removed = 0;
    connect(map, &Tfrm_Data::regionsRemoved, map, [&removed] { ++removed; });
    map->RemoveRegions();
    QCOMPARE(removed, 1);
    QVERIFY(!Child<QFrame>(*map, "ExtraPanel")->isVisible());
    QVERIFY(!Child<QLabel>(*map, "lbl_Warnings")->isVisible());
    QVERIFY(map->findChildren<QLabel*>("RegionLegend").isEmpty());
    GridOf(*map)->SelectRow(4);
    QCOMPARE(CellFill(*map, 1, 3), kYellow.rgb());
  }

  // The regions' legend wraps to as many rows of the extra panel as it needs, each entry whole and inside the panel;
  // the grid gives up the room and the panel keeps its place at the bottom.
  void regionLegendWraps_data() {
    QTest::addColumn<int>("regions");
    QTest::addColumn<int>("rows");  // of the extra panel
    QTest::newRow("two") << 2 << 2;
    QTest::newRow("sixteen") << 16 << 3;
    QTest::newRow("forty") << 40 << 6;
  }
  void regionLegendWraps() {
    QFETCH(int, regions);
    QFETCH(int, rows);
    const QTemporaryDir dir;
    const QString path = dir.filePath("many.ld");
    QByteArray script("MEMORY\n{\n");
    for (int i = 0; i < regions; ++i) {
      script += QStringLiteral("  REGION_%1 : ORIGIN = 0x%2, LENGTH = 0x100\n").arg(i).arg(0x1000 + i * 0x100, 0, 16).toLatin1();
    }
    QVERIFY(WriteFile(path, script + "}\n"));
    Tfrm_Data* map = NewMap(0x00001000, 0x000010FF, [](varnok::MapGrid& grid) { Fill(grid, 0x1000, "abcd"); });
    QVERIFY(map);
    map->ReadRegions(path.toStdString(), std::string());
    QTRY_VERIFY(!map->RegionsReading());
    const QFrame* extra = Child<QFrame>(*map, "ExtraPanel");
    QCOMPARE(extra->height(), rows * 27);
    QCOMPARE(GridOf(*map)->geometry().bottom() + 1, extra->y());
    QCOMPARE(extra->geometry().bottom() + 1, Child<QFrame>(*map, "Panel")->y());
    const QList<QLabel*> legend = extra->findChildren<QLabel*>("RegionLegend");
    QCOMPARE(legend.size(), regions);
    QRegion taken;
    for (const QLabel* entry : legend) {
      QVERIFY(extra->rect().contains(entry->geometry()));
      QVERIFY(entry->width() >= entry->fontMetrics().horizontalAdvance(entry->text()));
      QVERIFY(!taken.intersects(entry->geometry()));
      taken += entry->geometry();
    }
  }

  // A yellow mark in the groove where rows hold data, fuchsia for the start vector, shared out evenly over the
  // groove; the slider stays on top and the bar still pages.
  void scrollBarMarks() {
    Tfrm_Data* map = NewMap(0x00000000, 0x0FFFFFFF, [](varnok::MapGrid& grid) {  // 8,388,608 data rows
      Fill(grid, 0x04000000, "quarter");
      Fill(grid, 0x08000010, "half");
      grid.MarkStartVector(0x0C000000);
    });
    QVERIFY(map);
    map->resize(map->width(), 500);
    QScrollBar* bar = GridOf(*map)->verticalScrollBar();
    const QImage image = bar->grab().toImage();
    // Beside its marks the bar looks like a plain one in the same place.
    QScrollBar plain(Qt::Vertical, bar->parentWidget());
    plain.setRange(bar->minimum(), bar->maximum());
    plain.setPageStep(bar->pageStep());
    plain.setValue(bar->value());
    plain.setGeometry(bar->geometry());
    const QImage plain_image = plain.grab().toImage();
    const QRect slider = SliderRect(*bar);
    std::vector<int> rows;
    QList<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
      const QRgb pixel = image.pixel(image.width() / 2, y);
      if (y >= slider.top() && y <= slider.bottom()) continue;  // the slider has an outline of its own
      if (pixel != kYellow.rgb() && pixel != kFuchsia.rgb()) {
        QCOMPARE(pixel, plain_image.pixel(image.width() / 2, y));
        continue;
      }
      rows.push_back(y);
      colours << pixel;
    }
    // A single row of data is a mark 3 pixel rows high.
    QCOMPARE(colours, QList<QRgb>(3, kYellow.rgb()) + QList<QRgb>(3, kYellow.rgb()) + QList<QRgb>(3, kFuchsia.rgb()));
    QVERIFY(rows[0] > 40 && rows[2] == rows[0] + 2 && rows[5] == rows[3] + 2 && rows[8] == rows[6] + 2);
    QVERIFY(std::abs((rows[3] - rows[0]) - (rows[6] - rows[3])) <= 1);

    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() / 2, rows[7]));
    QVERIFY(bar->value() > 1);
    QCOMPARE(GridOf(*map)->TopRow(), bar->value());
  }

  // Ctrl+Down selects the first row of the next region, Ctrl+Up that of the previous one; past the ends nothing
  // moves.
  void regionJumps_data() {
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<int>("row");
    const QKeyCombination down(Qt::ControlModifier, Qt::Key_Down);
    const QKeyCombination up(Qt::ControlModifier, Qt::Key_Up);
    QTest::newRow("next") << Keys{down} << 9;
    QTest::newRow("next twice") << Keys{down, down} << 129;
    QTest::newRow("from inside a region") << Keys{down, QKeyCombination(Qt::Key_Down), down} << 129;
    QTest::newRow("past the last region") << Keys{down, down, down, down} << 1025;
    QTest::newRow("previous from the end") << Keys{QKeyCombination(Qt::Key_End), up} << 1025;
    QTest::newRow("previous from inside a region") << Keys{QKeyCombination(Qt::Key_End), up, up} << 129;
    QTest::newRow("before the first region") << Keys{down, up} << 9;
  }
  void regionJumps() {
    QFETCH(Keys, keys);
    QFETCH(int, row);
    Tfrm_Data* map = NewMap(0x00000000, 0x0003FFFF, FillThreeRegions);
    QVERIFY(map);
    QVERIFY(QTest::qWaitForWindowActive(map));
    Type(*map, keys);
    QCOMPARE(GridOf(*map)->Row(), row);
  }

  // Ctrl+R lists the regions in map order, starting at the selected row's, then the target's regions and the digests
  // varnok-scan --digest --memory prints of the same image and script, once they are computed beside the window;
  // Ctrl+A and Ctrl+C copy the list; Enter or a double-click chooses an entry.
  void regionsList_data() {
    QTest::addColumn<bool>("double_click");
    QTest::newRow("Enter") << false;
    QTest::newRow("double-click") << true;
  }
  void regionsList() {
    QFETCH(bool, double_click);
    Tfrm_Data* map = NewMap(0x00000000, 0x0003FFFF, FillThreeRegions);
    QVERIFY(map);
    QVERIFY(QTest::qWaitForWindowActive(map));
    const QTemporaryDir dir;
    const QString script = dir.filePath("three.ld");
    QVERIFY(WriteFile(script, "MEMORY\n{\n  LOW : ORIGIN = 0x0, LENGTH = 0x2000\n  HIGH : ORIGIN = 0x8000, LENGTH = "
                              "0x10000\n  NONE : ORIGIN = 0x30000, LENGTH = 0x100\n}\n"));
    map->ReadRegions(script.toStdString(), std::string());
    QTRY_VERIFY(!map->RegionsReading() && map->DigestsReady());
    GridOf(*map)->SelectRow(200);
    QStringList texts;
    QString copied;
    int current = -1;
    const varnok::test::ModalAnswerer answerer([&](QDialog& dialog) {
      auto* list = dialog.findChild<QListView*>("Regions");
      if (list == nullptr || !texts.isEmpty() || !list->viewport()->isVisible()) return;
      for (int i = 0; i < list->model()->rowCount(); ++i) texts << list->model()->index(i, 0).data().toString();
      current = list->currentIndex().row();
      QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
      copied = QApplication::clipboard()->text();
      const QModelIndex last = list->model()->index(2, 0);
      if (double_click) {
        // A double-click is a press on the item, as the first click of it, then the double-click itself.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(last).center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualRect(last).center());
      } else {
        list->setCurrentIndex(last);
        QTest::keyClick(list, Qt::Key_Return);
      }
    });
    QTest::keyClick(map, Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(texts, QStringList({"0x00000100 - 0x0000013F  64 bytes", "0x00001000 - 0x00001000  1 byte",
                                 "0x00008000 - 0x00017FFF  65,536 bytes",
                                 "Region LOW: 0x00000000 - 0x00001FFF, 65 of 8192 bytes used (0.79 %)",
                                 "Region HIGH: 0x00008000 - 0x00017FFF, 65536 of 65536 bytes used (100.00 %)",
                                 "Region NONE: 0x00030000 - 0x000300FF, 0 of 256 bytes used (0.00 %)",
                                 "Image: 0x00000100 - 0x00017FFF, gaps filled with 0xFF",
                                 "CRC-32: 0xC90D06ED",
                                 "SHA-256: e40579a1bff75af4086a4de69cabc1d980c810362d07bfbb687912acb6f74ab6",
                                 "Region LOW CRC-32: 0x219B6220",
                                 "Region LOW SHA-256: dd413b363b73fd1b106349686d3de09ce3b98a409c14e4385de87174d6513074",
                                 "Region HIGH CRC-32: 0x78A6DA94",
                                 "Region HIGH SHA-256: 7205570dd1f05ca99c101e52f0aa4c9f5a13cbe60976ac384e73b20b4b75d423"}));
    QCOMPARE(copied, texts.join('\n') + '\n');
    QCOMPARE(current, 1);
    QCOMPARE(GridOf(*map)->Row(), 1025);
  }

  // Every region and find command says so on a map without data, instead of doing nothing.
  void emptyMapSaysSo_data() {
    QTest::addColumn<Keys>("keys");
    QTest::newRow("next region") << Keys{QKeyCombination(Qt::ControlModifier, Qt::Key_Down)};
    QTest::newRow("previous region") << Keys{QKeyCombination(Qt::ControlModifier, Qt::Key_Up)};
    QTest::newRow("regions") << Keys{QKeyCombination(Qt::ControlModifier, Qt::Key_R)};
    QTest::newRow("find") << Keys{QKeyCombination(Qt::ControlModifier, Qt::Key_F)};
    QTest::newRow("find next") << Keys{QKeyCombination(Qt::Key_F3)};
    QTest::newRow("find previous") << Keys{QKeyCombination(Qt::ShiftModifier, Qt::Key_F3)};
    QTest::newRow("copy row") << Keys{QKeyCombination(Qt::ControlModifier, Qt::Key_C)};
  }
  void emptyMapSaysSo() {
    QFETCH(Keys, keys);
    // A start vector alone is no data.
    Tfrm_Data* map = NewMap(0x00001000, 0x0000107F, [](varnok::MapGrid& grid) { grid.MarkStartVector(0x1010); });
    QVERIFY(map);
    QVERIFY(QTest::qWaitForWindowActive(map));
    MessageRecorder messages;
    Type(*map, keys);
    QCOMPARE(messages.texts, QStringList{"No data in this map."});
  }

  // Ctrl+F searches from after the selected row's first cell; a match is selected and its cells highlighted, a
  // refused text is asked for again in the same dialog.
  void find_data() {
    QTest::addColumn<QStringList>("entries");  // the last one is accepted
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");  // of the match's first cell
    QTest::addColumn<int>("length");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("hex pairs") << QStringList{"DE AD BE EF"} << 3 << 1 << 4 << QStringList();
    QTest::newRow("quoted text") << QStringList{"\"VERSION\""} << 9 << 6 << 7 << QStringList();
    QTest::newRow("not found") << QStringList{"01 02 03"} << 1 << 0 << 0 << QStringList{"Not found: 01 02 03"};
    QTest::newRow("refused, then taken") << QStringList{"DE A", "\"VERSION\""} << 9 << 6 << 7 << QStringList();
  }
  void find() {
    QFETCH(QStringList, entries);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, length);
    QFETCH(QStringList, messages);
    Tfrm_Data* map = NewFindMap();
    QVERIFY(map);
    QStringList labels;
    QSet<QDialog*> dialogs;
    MessageRecorder shown;
    const varnok::test::ModalAnswerer answerer([&](QDialog& dialog) {
      auto* input = qobject_cast<QInputDialog*>(&dialog);
      if (input == nullptr || entries.isEmpty()) return;
      dialogs.insert(input);
      labels << input->labelText();
      input->setTextValue(entries.takeFirst());
      input->accept();
    });
    QTest::keyClick(map, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(entries.isEmpty());
    QCOMPARE(dialogs.size(), 1);
    // A refused text leaves the prompt as it was, with the reason above it.
    if (labels.size() > 1) QVERIFY(labels[1].size() > labels[0].size() && labels[1].endsWith(labels[0]));
    QCOMPARE(shown.texts, messages);
    QCOMPARE(GridOf(*map)->Row(), row);
    int highlighted = 0;
    for (int c = 1; c <= 32; ++c) highlighted += CellFill(*map, c, row) == kAqua.rgb() ? 1 : 0;
    QCOMPARE(highlighted, length);
    if (length > 0) QCOMPARE(CellFill(*map, column, row), kAqua.rgb());
  }

  // F3 moves to the next match, Shift+F3 to the previous one, each wrapping once round the map; a match may cross
  // a row border.
  void findNextAndPrevious_data() {
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("said");  // in the panel
    const QKeyCombination next(Qt::Key_F3);
    const QKeyCombination previous(Qt::ShiftModifier, Qt::Key_F3);
    const QString wrapped("Search wrapped");
    QTest::newRow("first") << Keys{} << 3 << 1 << QString();
    QTest::newRow("next") << Keys{next} << 65 << 1 << QString();
    QTest::newRow("next across a row border") << Keys{next, next} << 81 << 31 << QString();
    QTest::newRow("next wraps") << Keys{next, next, next} << 3 << 1 << wrapped;
    QTest::newRow("next after the wrap") << Keys{next, next, next, next} << 65 << 1 << QString();
    QTest::newRow("previous wraps") << Keys{previous} << 81 << 31 << wrapped;
    QTest::newRow("next, previous") << Keys{next, previous} << 3 << 1 << QString();
  }
  void findNextAndPrevious() {
    QFETCH(Keys, keys);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, said);
    Tfrm_Data* map = NewFindMap();
    QVERIFY(map);
    const varnok::test::ModalAnswerer answerer([](QDialog& dialog) {
      if (auto* input = qobject_cast<QInputDialog*>(&dialog)) {
        input->setTextValue("DE AD BE EF");
        input->accept();
      }
    });
    QTest::keyClick(map, Qt::Key_F3);  // with nothing to find again, F3 asks as Ctrl+F does
    Type(*map, keys);
    QCOMPARE(GridOf(*map)->Row(), row);
    QCOMPARE(CellFill(*map, column, row), kAqua.rgb());
    if (column == 31) QCOMPARE(CellFill(*map, 2, row + 1), kAqua.rgb());
    QCOMPARE(Child<QLabel>(*map, "lbl_Note")->text(), said);
  }

  // The first opening puts the window beside its owner, so that the owner's fields stay in sight, inside the
  // owner's screen.
  void opensBesideItsOwner_data() {
    QTest::addColumn<QRect>("owner");
    QTest::addColumn<char>("side");
    QTest::newRow("right") << QRect(100, 80, 270, 420) << 'r';
    QTest::newRow("left") << QRect(1500, 80, 270, 420) << 'l';
    QTest::newRow("below") << QRect(600, 80, 700, 500) << 'b';
    QTest::newRow("no room below: inside the screen") << QRect(1300, 900, 500, 100) << 'i';
  }
  void opensBesideItsOwner() {
    QFETCH(QRect, owner);
    QFETCH(char, side);
    owner_->setGeometry(owner);
    Tfrm_Data* map = NewMap(0x00000000, 0x0000FFFF);
    QVERIFY(map);
    const QRect outer = owner_->frameGeometry();
    const QSize size = map->frameGeometry().size();
    const QRect screen = map->screen()->availableGeometry();
    const QPoint placed = side == 'r'   ? QPoint(outer.right() + 1, outer.top())
                          : side == 'l' ? QPoint(outer.left() - size.width(), outer.top())
                          : side == 'b' ? QPoint(outer.left(), outer.bottom() + 1)
                                        : screen.bottomRight() + QPoint(1, 1) - QPoint(size.width(), size.height());
    QTRY_COMPARE(map->frameGeometry().topLeft(), placed);
  }

  // Every command that finds a row brings it to the middle of the view, as far as the map's ends allow; its
  // messages open over the map window, and a step from the only match says so.
  void hitRowCentred_data() {
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<QStringList>("entries");  // the texts typed into the input dialogs, in turn
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("messages");
    const QKeyCombination go_to(Qt::ControlModifier, Qt::Key_G);
    const QKeyCombination find(Qt::ControlModifier, Qt::Key_F);
    const QKeyCombination next(Qt::Key_F3);
    const QKeyCombination previous(Qt::ShiftModifier, Qt::Key_F3);
    const QKeyCombination down(Qt::ControlModifier, Qt::Key_Down);
    const QKeyCombination up(Qt::ControlModifier, Qt::Key_Up);
    const QString dead_beef("DE AD BE EF");
    const QString version("\"VERSION\"");
    QTest::newRow("go to") << Keys{go_to} << QStringList{"1800"} << 65 << QStringList();
    QTest::newRow("find") << Keys{go_to, find} << QStringList{"1400", dead_beef} << 65 << QStringList();
    QTest::newRow("find next") << Keys{find, next} << QStringList{dead_beef} << 65 << QStringList();
    QTest::newRow("find previous") << Keys{find, previous} << QStringList{dead_beef} << 81 << QStringList();
    QTest::newRow("find next, only match") << Keys{find, next} << QStringList{version} << 9
                                           << QStringList{"Only one match"};
    QTest::newRow("find previous, only match") << Keys{find, previous} << QStringList{version} << 9
                                               << QStringList{"Only one match"};
    QTest::newRow("not found") << Keys{go_to, find} << QStringList{"1800", "01 02"} << 65
                               << QStringList{"Not found: 01 02"};
    QTest::newRow("next region") << Keys{down, down, down} << QStringList() << 65 << QStringList();
    QTest::newRow("previous region") << Keys{QKeyCombination(Qt::Key_End), up} << QStringList() << 81
                                     << QStringList();
    QTest::newRow("near the start") << Keys{down} << QStringList() << 3 << QStringList();
  }
  void hitRowCentred() {
    QFETCH(Keys, keys);
    QFETCH(QStringList, entries);
    QFETCH(int, row);
    QFETCH(QStringList, messages);
    Tfrm_Data* map = NewFindMap();
    QVERIFY(map);
    QStringList shown;
    bool over_map = true;
    const varnok::test::ModalAnswerer answerer([&](QDialog& dialog) {
      if (auto* input = qobject_cast<QInputDialog*>(&dialog); input != nullptr && !entries.isEmpty()) {
        input->setTextValue(entries.takeFirst());
        input->accept();
      } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
        shown << box->text();
        over_map = over_map && map->frameGeometry().contains(box->frameGeometry().center());
        box->accept();
      }
    });
    Type(*map, keys);
    QCOMPARE(shown, messages);
    QVERIFY(over_map);
    const MapGridView* grid = GridOf(*map);
    QCOMPARE(grid->Row(), row);
    const int above = row - grid->TopRow();
    const int below = grid->TopRow() + grid->VisibleRowCount() - 1 - row;
    QVERIFY2(grid->TopRow() == 1 ? above >= 0 && above < below : std::abs(above - below) <= 1,
             qPrintable(QString("%1 rows above, %2 below").arg(above).arg(below)));
  }

  // A right click on a data row selects it before the context menu opens, so that "Copy row" copies that row;
  // elsewhere it leaves the selection as it was.
  void rightClickSelects_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<int>("row");  // selected and copied
    QTest::newRow("a byte of another row") << 5 << 4 << 4;
    QTest::newRow("the ASCII column") << 33 << 3 << 3;
    QTest::newRow("the selected row") << 7 << 1 << 1;
    QTest::newRow("the address column") << 0 << 4 << 1;
    QTest::newRow("the header row") << 5 << 0 << 1;
  }
  void rightClickSelects() {
    QFETCH(int, column);
    QFETCH(int, clicked);
    QFETCH(int, row);
    Tfrm_Data* map = NewMap(0x00001000, 0x0000107F, [](varnok::MapGrid& grid) {
      Fill(grid, 0x1000, std::string(128, 'r'));
      Fill(grid, 0x1060, "row 4");
    });
    QVERIFY(map);
    QVERIFY(QTest::qWaitForWindowActive(map));
    QGuiApplication::clipboard()->clear();
    bool copied = false;
    QTimer menu_answerer;
    connect(&menu_answerer, &QTimer::timeout, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) return;
      for (QAction* action : menu->actions()) {
        if (action->text() == "Copy row") {
          menu->close();
          action->trigger();
          copied = true;
        }
      }
    });
    menu_answerer.start(5);
    // Through the window, as the window system delivers it, so that the press also opens the context menu.
    const QPoint pos = GridOf(*map)->viewport()->mapTo(map, CellCentre(*map, column, clicked));
    QTest::mouseClick(map->windowHandle(), Qt::RightButton, Qt::NoModifier, pos);
    QTRY_VERIFY(copied);
    QCOMPARE(GridOf(*map)->Row(), row);
    std::string expected;
    map->Map().AppendRowText(row, expected);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(expected));
  }

  // On a map with data everywhere the scroll bar's slider keeps an edge whose lightness stands out from the marks,
  // wherever it sits.
  void sliderVisibleOverMarks_data() {
    QTest::addColumn<double>("position");  // of the bar's range
    QTest::newRow("top") << 0.0;
    QTest::newRow("middle") << 0.5;
    QTest::newRow("bottom") << 1.0;
  }
  void sliderVisibleOverMarks() {
    QFETCH(double, position);
    Tfrm_Data* map = NewMap(0x00000000, 0x0003FFFF,
                            [](varnok::MapGrid& grid) { Fill(grid, 0x00000000, std::string(0x40000, 'd')); });
    QVERIFY(map);
    QScrollBar* bar = GridOf(*map)->verticalScrollBar();
    bar->setValue(bar->minimum() + static_cast<int>(position * (bar->maximum() - bar->minimum())));
    const QImage image = bar->grab().toImage();
    const QRect slider = SliderRect(*bar);
    QVERIFY(slider.height() >= 3);
    QVERIFY(image.pixel(bar->width() / 2, slider.top() - 1) == kYellow.rgb() ||
            image.pixel(bar->width() / 2, slider.bottom() + 1) == kYellow.rgb());
    auto stands_out = [&](int x, int y) { return std::abs(qGray(image.pixel(x, y)) - qGray(kYellow.rgb())) > 100; };
    bool top = false;
    bool bottom = false;
    bool left = false;
    for (int x = slider.left(); x <= slider.right(); ++x) {
      top = top || stands_out(x, slider.top());
      bottom = bottom || stands_out(x, slider.bottom());
    }
    for (int y = slider.top(); y <= slider.bottom(); ++y) left = left || stands_out(slider.left(), y);
    QVERIFY(top && bottom && left);
  }

  // The text goes through a temporary file beside the target, which replaces a regular file only: a link is followed
  // to one and the link stays; anything else at the path (a device node, a FIFO, a folder, a link to one or to no
  // file) is refused and left as it was. A failure, here the file size cap of the process reached in the middle of
  // the rows, leaves no file behind.
  void saveMapAsText_data() {
    QTest::addColumn<QString>("at_path");    // what map.txt is beforehand: "", or a kind as Make takes it
    QTest::addColumn<QString>("at_target");  // what target.txt, where a link at map.txt leads, is beforehand
    QTest::addColumn<int>("size_cap");       // 0 for none
    QTest::addColumn<QString>("complaint");  // %1 the path, %2 target.txt's
    QTest::addColumn<QStringList>("after");  // the folder's entries afterwards, as Entries gives them
    QTest::newRow("new file") << "" << "" << 0 << QString() << QStringList{"map.txt file"};
    QTest::newRow("regular file") << "file" << "" << 0 << QString() << QStringList{"map.txt file"};
    QTest::newRow("write fails") << "" << "" << 2048 << QString("File too large") << QStringList();
    QTest::newRow("character device") << "char" << "" << 0 << QString("'%1' is not a regular file")
                                      << QStringList{"map.txt char 1,7"};
    QTest::newRow("FIFO") << "fifo" << "" << 0 << QString("'%1' is not a regular file") << QStringList{"map.txt fifo"};
    QTest::newRow("folder") << "folder" << "" << 0 << QString("'%1' is not a regular file")
                            << QStringList{"map.txt folder"};
    QTest::newRow("link to a regular file") << "link" << "file" << 0 << QString()
                                            << QStringList{"map.txt -> target.txt", "target.txt file"};
    QTest::newRow("link to a FIFO") << "link" << "fifo" << 0 << QString("'%2' is not a regular file")
                                    << QStringList{"map.txt -> target.txt", "target.txt fifo"};
    QTest::newRow("link to no file") << "link" << "" << 0 << QString("'%1' is a link that leads to no file")
                                     << QStringList{"map.txt -> target.txt"};
  }
  void saveMapAsText() {
    QFETCH(QString, at_path);
    QFETCH(QString, at_target);
    QFETCH(int, size_cap);
    QFETCH(QString, complaint);
    QFETCH(QStringList, after);
    if (at_path == "char" && ::geteuid() != 0) QSKIP("making a device node needs root");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath("map.txt");
    const QString target = folder.filePath("target.txt");
    QVERIFY(Make(at_path, path));
    QVERIFY(Make(at_target, target));
    Tfrm_Data* map = NewMap(0x00001000, 0x00002FFF, [](varnok::MapGrid& grid) {
      Fill(grid, 0x1020, "AB");
      for (std::uint32_t address = 0x1100; address < 0x2000; address += 0x40) Fill(grid, address, "x");
      grid.MarkStartVector(0x2FFF);
    });
    QVERIFY(map);
    QStringList presets;
    map->SetSaveFileDialog([&](QWidget*, const QString& preset) {
      presets << preset;
      return path;
    });
    MessageRecorder messages;
    {
      std::unique_ptr<FileSizeCap> cap = size_cap > 0 ? std::make_unique<FileSizeCap>(size_cap) : nullptr;
      const QList<QAction*> actions = GridOf(*map)->actions();
      const auto save = std::find_if(actions.begin(), actions.end(),
                                     [](QAction* a) { return a->text() == "Save map as text..."; });
      QVERIFY(save != actions.end());
      (*save)->trigger();
      // The save runs beside the window; the cap stays until it is over.
      QTRY_VERIFY(!map->Saving());
    }
    QCOMPARE(presets, QStringList{"test.s19.map.txt"});
    QCOMPARE(Entries(folder.path()), after);
    if (!complaint.isEmpty()) {
      const QString reason = QString(complaint).replace("%1", path).replace("%2", QFileInfo(target).canonicalFilePath());
      QCOMPARE(messages.texts, QStringList{QString("Unable to save the map to '%1':\n%2").arg(path, reason)});
      return;
    }
    QCOMPARE(messages.texts, QStringList{"Saved 62 rows to map.txt"});
    std::vector<std::int32_t> rows{0, 2};
    for (std::int32_t row = 9; row <= 127; row += 2) rows.push_back(row);
    rows.push_back(256);
    std::string expected;
    for (const std::int32_t row : rows) {
      map->Map().AppendRowText(row, expected);
      expected += '\n';
    }
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray::fromStdString(expected));
  }
};

QTEST_MAIN(FrmDataTest)
#include "frm_data_test.moc"
