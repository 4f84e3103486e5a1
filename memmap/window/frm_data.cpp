#include "memmap/frm_data.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QStaticText>

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "analysis/hex_text.h"
#include "map_dialogs.h"
#include "map_text_file.h"
#include "ui/dialogs.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/placement.h"
#include "ui/text.h"

namespace varnok {

namespace {

const QColor kCream(255, 251, 240);
const QColor kLime(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kFuchsia(255, 0, 255);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
// The cells of the last match of Find: a colour of its own beside the legend's and the selected row's.
const QColor kAqua(0, 255, 255);

constexpr int kAddressColumnWidth = 64;
constexpr int kAsciiColumnWidth = 264;
constexpr int kPanelHeight = 27;
constexpr int kInitialOuterHeight = 261;
// The string grid adds this many pixels to the sum of its columns and grid lines.
constexpr int kGridSlack = 5;

// A window title shows "[*]" as the modified mark; doubling it makes a file name's own "[*]" appear.
QString LiteralWindowTitle(QString title) {
  return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

QLabel* NewLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(geometry);
  label->setText(text);
  return label;
}

QLabel* NewLegendPanel(QWidget* parent, const char* name, const QRect& geometry, const QString& caption,
                       const QColor& colour) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setTextFormat(Qt::PlainText);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  panel->setAlignment(Qt::AlignCenter);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, colour);
  panel->setPalette(pal);
  panel->setAutoFillBackground(true);
  panel->setGeometry(geometry);
  panel->setText(caption);
  return panel;
}

QString RunSaveMapDialog(QWidget* parent, const QString& preset) {
  QFileDialog dialog(parent, QStringLiteral("Save map as text"));
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters({QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")});
  dialog.selectFile(preset);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

}  // namespace

Tfrm_Data::Tfrm_Data(QWidget* owner, const std::string& name)
    : QWidget(owner, Qt::Window),
      Grid(new MapGridView(map_, this)),
      Panel(new QFrame(this)),
      Label1(NewLabel(Panel, "Label1", QRect(8, 8, 129, 13), QStringLiteral("Address at mouse cursor:"))),
      lbl_Adr(NewLabel(Panel, "lbl_Adr", QRect(136, 8, 65, 13), QString())),
      Panel1(NewLegendPanel(Panel, "Panel1", QRect(216, 5, 73, 17), QStringLiteral("Unused"), kLime)),
      Panel2(NewLegendPanel(Panel, "Panel2", QRect(304, 5, 73, 17), QStringLiteral("Filled"), kYellow)),
      Panel3(NewLegendPanel(Panel, "Panel3", QRect(392, 5, 73, 17), QStringLiteral("Start vector"), kFuchsia)),
      placement_(new ui::FramePlacement(*this, [this] { return PlacedFrameTopLeft(); })),
      file_name_(name),
      save_file_dialog_(RunSaveMapDialog),
      cell_metrics_(QFont()),
      ascii_metrics_(QFont()) {
  setObjectName(QStringLiteral("frm_Data"));
  setAttribute(Qt::WA_QuitOnClose, false);
  setFont(ui::DesignFont());
  setWindowTitle(LiteralWindowTitle(QStringLiteral("Memory map of file '") + ui::ToQt(name) +
                                    QStringLiteral("'")));

  Grid->setObjectName(QStringLiteral("Grid"));
  Panel->setObjectName(QStringLiteral("Panel"));
  Panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel->setLineWidth(1);
  Grid->SetOnDrawCell([this](QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                             GridDrawState state) { GridDrawCell(painter, column, row, rect, state); });
  Grid->SetOnMouseMove([this](Qt::KeyboardModifiers shift, int x, int y) { GridMouseMove(shift, x, y); });
  Grid->SetMarksSource([this](int pixels) { return map_.ScrollMarks(pixels); });
  cell_font_ = Grid->font();
  // The fixed-pitch face at the grid font's height.
  ascii_font_ = ui::FixedFont();
  if (cell_font_.pixelSize() > 0) {
    ascii_font_.setPixelSize(cell_font_.pixelSize());
  } else {
    ascii_font_.setPointSizeF(cell_font_.pointSizeF());
  }
  cell_metrics_ = QFontMetrics(cell_font_, Grid->viewport());
  ascii_metrics_ = QFontMetrics(ascii_font_, Grid->viewport());

  Grid->SetColumnWidth(0, kAddressColumnWidth);
  Grid->SetColumnWidth(MapGrid::AsciiColumn, kAsciiColumnWidth);
  const int grid_width = Grid->Layout().ColumnsRight() + kGridSlack;
  Grid->move(0, 0);
  Grid->resize(grid_width, Grid->height());
  resize(grid_width + 1, kInitialOuterHeight - OwnerFrameExtra().height());
  FormResize();

  // The commands live on the grid, so that its context menu lists them; their shortcuts work anywhere in the window.
  Grid->setContextMenuPolicy(Qt::ActionsContextMenu);
  AddCommand(QStringLiteral("Go to address..."), QKeySequence(Qt::CTRL | Qt::Key_G), &Tfrm_Data::GoToAddress);
  AddCommand(QStringLiteral("Next region"), QKeySequence(Qt::CTRL | Qt::Key_Down), &Tfrm_Data::NextRegion);
  AddCommand(QStringLiteral("Previous region"), QKeySequence(Qt::CTRL | Qt::Key_Up), &Tfrm_Data::PreviousRegion);
  AddCommand(QStringLiteral("Regions..."), QKeySequence(Qt::CTRL | Qt::Key_R), &Tfrm_Data::ListRegions);
  AddCommand(QStringLiteral("Find..."), QKeySequence(Qt::CTRL | Qt::Key_F), &Tfrm_Data::Find);
  AddCommand(QStringLiteral("Find next"), QKeySequence(Qt::Key_F3), &Tfrm_Data::FindNext);
  AddCommand(QStringLiteral("Find previous"), QKeySequence(Qt::SHIFT | Qt::Key_F3), &Tfrm_Data::FindPrevious);
  AddCommand(QStringLiteral("Copy row"), QKeySequence(Qt::CTRL | Qt::Key_C), &Tfrm_Data::CopyRow);
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  Grid->addAction(separator);
  AddCommand(QStringLiteral("Save map as text..."), QKeySequence(), &Tfrm_Data::SaveMapAsText);
}

QAction* Tfrm_Data::AddCommand(const QString& text, const QKeySequence& shortcut, void (Tfrm_Data::*command)()) {
  auto* action = new QAction(text, this);
  action->setShortcut(shortcut);
  action->setShortcutVisibleInContextMenu(true);
  connect(action, &QAction::triggered, this, [this, command] {
    // No exception leaves a slot: a command that runs out of memory says so and leaves the map as it was.
    try {
      (this->*command)();
    } catch (const std::bad_alloc&) {
      ui::ShowErrorDialog(this, QStringLiteral("Out of memory!!"));
    }
  });
  Grid->addAction(action);
  return action;
}

void Tfrm_Data::Build(std::uint32_t lowest, std::uint32_t highest) {
  map_.Build(lowest, highest);
  cached_row_ = -1;
  Grid->Reset();
  Grid->setFocus();
  // From here on the size check is attached; its first pass lets the centring through.
  Tag = 1;
  can_resize_attached_ = true;
}

void Tfrm_Data::Fill(DataBlockStore& blocks, std::optional<std::uint32_t> start_vector,
                     const FillProgress& progress) {
  FillFromBlocks(map_, blocks, start_vector, progress);
  cached_row_ = -1;
  Grid->viewport()->update();
  Grid->InvalidateMarks();
}

void Tfrm_Data::FillBlock(std::uint32_t address, std::int32_t length, const std::uint8_t* bytes) {
  map_.FillBlock(address, length, bytes);
  cached_row_ = -1;
  if (length <= 0) return;
  Grid->InvalidateMarks();
  const std::int32_t first = map_.AddressToCell(address).row;
  const std::int32_t last = map_.AddressToCell(address + static_cast<std::uint32_t>(length) - 1u).row;
  if (first <= last) {
    Grid->InvalidateRows(first, last);
  } else {
    // The block wraps past 0xFFFFFFFF or leaves the map: its rows are not one run.
    Grid->InvalidateRows(1, Grid->RowCount() - 1);
  }
}

void Tfrm_Data::MarkStartVector(std::uint32_t address) {
  map_.MarkStartVector(address);
  cached_row_ = -1;
  Grid->InvalidateMarks();
  const CellPos cell = map_.AddressToCell(address);
  Grid->InvalidateCell(cell.column, cell.row);
}

void Tfrm_Data::ShowMap() {
  if (!shown_) {
    shown_ = true;
    CentreOverOwner();
  }
  // A minimised map comes back in the state it had before, maximised or not.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void Tfrm_Data::SetSaveFileDialog(SaveFileDialog dialog) { save_file_dialog_ = std::move(dialog); }

void Tfrm_Data::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

const RowCells& Tfrm_Data::CachedRow(std::int32_t row) {
  if (row != cached_row_) {
    cached_cells_ = map_.Row(row);
    cached_row_ = row;
  }
  return cached_cells_;
}

const QStaticText& Tfrm_Data::ByteText(std::uint8_t value) {
  std::optional<QStaticText>& text = byte_texts_[value];
  if (!text) {
    text.emplace(ui::ToQt(HexText(value, 2)));
    text->setTextFormat(Qt::PlainText);
    text->prepare(QTransform(), cell_font_);
  }
  return *text;
}

void Tfrm_Data::GridDrawCell(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                             GridDrawState state) {
  const bool byte_column = column >= 1 && column <= 32;
  CellKind kind = CellKind::UnusedByte;
  std::uint8_t value = static_cast<std::uint8_t>(column - 1);  // a header cell shows its column's offset
  if (byte_column && row > 0) {
    const RowCells& cells = CachedRow(row);
    const std::uint32_t bit = 1u << (column - 1);
    value = (cells.filled & bit) ? cells.bytes[static_cast<std::size_t>(column - 1)] : 0xFF;
    kind = (cells.start_vector & bit) ? CellKind::StartVectorByte
           : (cells.filled & bit)    ? CellKind::FilledByte
                                     : CellKind::UnusedByte;
  }

  const QFont* font = &cell_font_;
  const QFontMetrics* metrics = &cell_metrics_;
  QColor brush;
  QColor pen;
  QRect fill = rect;
  const QPalette& pal = palette();
  if (state.fixed) {
    brush = kCream;
    pen = pal.color(QPalette::WindowText);
    const QColor light = pal.color(QPalette::Light);
    const QColor shadow = pal.color(QPalette::Dark);
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width() - 1, 1), light);
    painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height() - 1), light);
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), shadow);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), shadow);
    fill = rect.adjusted(1, 1, -1, -1);
  } else if (column == MapGrid::AsciiColumn) {
    brush = pal.color(QPalette::Window);
    pen = pal.color(QPalette::ButtonText);
    font = &ascii_font_;
    metrics = &ascii_metrics_;
  } else if (byte_column && InMatch(column, row)) {
    brush = kAqua;
    pen = kBlack;
  } else if (state.selected) {
    brush = kind == CellKind::FilledByte ? kBlue : kind == CellKind::StartVectorByte ? kRed : kBlack;
    pen = kWhite;
  } else {
    brush = kind == CellKind::FilledByte ? kYellow : kind == CellKind::StartVectorByte ? kFuchsia : kLime;
    pen = kBlack;
  }
  painter.fillRect(fill, brush);

  QRect text_rect = rect;
  if (column == MapGrid::AsciiColumn && row == 0) {
    text_rect.setLeft(text_rect.left() + 42);
  } else if (byte_column) {
    text_rect.setLeft(text_rect.left() + 1);
  } else {
    text_rect.setLeft(text_rect.left() + 2);
  }
  painter.setPen(pen);
  // One line, left-aligned and vertically centred on the font's full height, clipped to the cell.
  const QPoint top_left(text_rect.left(), text_rect.top() + (text_rect.height() - metrics->height()) / 2);

  if (byte_column) {
    // Byte and column-number texts repeat on every row: their laid-out form is kept.
    const QStaticText& text = ByteText(value);
    const bool clip = text.size().width() > text_rect.width();
    if (clip) {
      painter.save();
      painter.setClipRect(text_rect, Qt::IntersectClip);
    }
    painter.drawStaticText(top_left, text);
    if (clip) painter.restore();
    return;
  }

  // The header labels; a row's address; its ASCII text, shown without the blanks at either end.
  std::string shown;
  if (row == 0) {
    shown = map_.Cell(column, 0);
  } else if (column == 0) {
    AppendHex(shown, map_.RowAddress(row), 8);
  } else {
    AppendAscii(shown, CachedRow(row));
    shown.erase(shown.find_last_not_of(' ') + 1);
    shown.erase(0, shown.find_first_not_of(' '));
  }
  if (shown.empty()) return;
  const QString text = ui::ToQt(shown);
  const bool clip = metrics->horizontalAdvance(text) > text_rect.width();
  if (clip) {
    painter.save();
    painter.setClipRect(text_rect, Qt::IntersectClip);
  }
  if (font != &cell_font_) painter.setFont(*font);
  painter.drawText(QPoint(top_left.x(), top_left.y() + metrics->ascent()), text);
  if (font != &cell_font_) painter.setFont(cell_font_);
  if (clip) painter.restore();
}

void Tfrm_Data::FormCanResize(int& NewWidth, int& /*NewHeight*/) {
  if (Tag != 0) {
    Tag = 0;
    return;
  }
  NewWidth = frameGeometry().width();
}

void Tfrm_Data::FormResize() {
  const int client_height = height();
  Grid->resize(Grid->width(), std::max(0, client_height - kPanelHeight));
  Panel->setGeometry(0, client_height - kPanelHeight, width(), kPanelHeight);
}

void Tfrm_Data::GridMouseMove(Qt::KeyboardModifiers /*Shift*/, int X, int Y) {
  const CellPos cell = Grid->MouseCoord(X, Y);
  if (const std::optional<std::uint32_t> address = map_.CellAddress(cell.column, cell.row)) {
    lbl_Adr->setText(ui::ToQt(AddressText(*address)));
  }
}

QSize Tfrm_Data::OwnerFrameExtra() const {
  const QWidget* owner = parentWidget();
  if (owner == nullptr || !owner->isVisible()) return {0, 0};
  const QMargins margins = ui::FrameMargins(*owner);
  return {margins.left() + margins.right(), margins.top() + margins.bottom()};
}

void Tfrm_Data::CentreOverOwner() {
  const QSize extra = OwnerFrameExtra();
  int new_width = width() + extra.width();
  int new_height = height() + extra.height();
  if (can_resize_attached_) FormCanResize(new_width, new_height);
  resize(new_width - extra.width(), new_height - extra.height());
  placement_->Apply();
  // The size check has had its one pass: from here on the window keeps its width.
  setMinimumWidth(width());
  setMaximumWidth(width());
}

QPoint Tfrm_Data::PlacedFrameTopLeft() const {
  const QWidget* owner = parentWidget();
  if (owner == nullptr) return frameGeometry().topLeft();
  const QRect centred = ui::CentredFrame(*owner, *this);
  // Near a screen edge the centred window would start off-screen, its address column or read-out cut off.
  return ui::KeptInside(centred, ui::AvailableAreaAt(centred)).topLeft();
}

void Tfrm_Data::GoToAddress() {
  if (map_.RowCount() < 2) return;
  GoToDialog dialog(this, map_, ui::ToQt(HexText(map_.RowAddress(Grid->Row()), 8)));
  if (dialog.exec() != QDialog::Accepted) return;
  Grid->SelectRow(dialog.Row());
  Grid->setFocus();
}

bool Tfrm_Data::HasData() {
  if (!map_.Regions().empty()) return true;
  ui::ShowMessage(this, QStringLiteral("No data in this map."));
  return false;
}

void Tfrm_Data::NextRegion() {
  if (!HasData()) return;
  if (const std::optional<std::int32_t> row = map_.NextRegionRow(Grid->Row())) ShowRegionRow(*row);
}

void Tfrm_Data::PreviousRegion() {
  if (!HasData()) return;
  if (const std::optional<std::int32_t> row = map_.PreviousRegionRow(Grid->Row())) ShowRegionRow(*row);
}

void Tfrm_Data::ShowRegionRow(std::int32_t row) {
  // A region out of view comes in at the top, so that as much of it shows as fits, not just its first row.
  if (row < Grid->TopRow() || row >= Grid->TopRow() + Grid->VisibleRowCount()) Grid->SetTopRow(row);
  Grid->SelectRow(row);
}

void Tfrm_Data::ListRegions() {
  if (!HasData()) return;
  const std::vector<MapRegion>& regions = map_.Regions();
  // The list opens at the last region that starts at or before the selected row's last address.
  const std::uint32_t row_end = RowOffset(Grid->Row()) + (MapGrid::kBytesPerRow - 1);
  const auto after = std::upper_bound(
      regions.begin(), regions.end(), row_end,
      [this](std::uint32_t end, const MapRegion& region) { return end < region.first - map_.BaseAddress(); });
  const auto current = static_cast<std::size_t>(after == regions.begin() ? 0 : after - regions.begin() - 1);
  RegionsDialog dialog(this, regions, current);
  if (dialog.exec() != QDialog::Accepted) return;
  ShowRegionRow(map_.AddressToCell(regions[dialog.Chosen()].first).row);
  Grid->setFocus();
}

void Tfrm_Data::Find() {
  if (!HasData()) return;
  FindDialog dialog(this, find_text_);
  if (dialog.exec() != QDialog::Accepted) return;
  find_text_ = dialog.textValue();
  find_pattern_ = dialog.Pattern();
  // A new search starts after the selected row's first cell, so that repeating it moves on.
  ShowMatch(map_.FindForward(find_pattern_, RowOffset(Grid->Row()) + 1));
}

void Tfrm_Data::FindNext() {
  if (find_pattern_.empty()) {
    Find();
    return;
  }
  if (!HasData()) return;
  ShowMatch(map_.FindForward(find_pattern_, match_ ? *match_ + 1 : RowOffset(Grid->Row()) + 1));
}

void Tfrm_Data::FindPrevious() {
  if (find_pattern_.empty()) {
    Find();
    return;
  }
  if (!HasData()) return;
  ShowMatch(map_.FindBackward(find_pattern_, match_ ? *match_ : RowOffset(Grid->Row())));
}

void Tfrm_Data::ShowMatch(std::optional<std::uint32_t> offset) {
  match_ = offset;
  Grid->viewport()->update();
  if (!offset) {
    ui::ShowMessage(this, QStringLiteral("Not found: ") + find_text_);
    return;
  }
  Grid->SelectRow(static_cast<std::int32_t>(*offset / MapGrid::kBytesPerRow) + 1);
  Grid->setFocus();
}

bool Tfrm_Data::InMatch(std::int32_t column, std::int32_t row) const {
  if (!match_ || row < 1) return false;
  // Offsets below the match wrap to large distances, so one comparison covers both ends.
  const std::uint32_t distance = RowOffset(row) + static_cast<std::uint32_t>(column - 1) - *match_;
  return distance < find_pattern_.size();
}

std::uint32_t Tfrm_Data::RowOffset(std::int32_t row) {
  return static_cast<std::uint32_t>(row - 1) * MapGrid::kBytesPerRow;
}

void Tfrm_Data::CopyRow() {
  if (!HasData()) return;
  std::string text;
  map_.AppendRowText(Grid->Row(), text);
  QGuiApplication::clipboard()->setText(ui::ToQt(text));
}

void Tfrm_Data::SaveMapAsText() {
  if (!HasData()) return;
  const QString path = save_file_dialog_(this, ui::ToQt(file_name_) + QStringLiteral(".map.txt"));
  if (path.isEmpty()) return;
  std::optional<QString> reason;
  {
    const ui::BusyCursor busy;
    reason = WriteMapText(map_, path);
  }
  if (reason) {
    ui::ShowErrorDialog(this, QStringLiteral("Unable to save the map to '%1':\n%2").arg(path, *reason));
  }
}

}  // namespace varnok
