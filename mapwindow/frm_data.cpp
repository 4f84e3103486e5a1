#include "mapwindow/frm_data.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QResizeEvent>
#include <QShortcut>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <bit>
#include <initializer_list>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "analysis/data_ranges.h"
#include "digest_job.h"
#include "image/image_digest.h"
#include "text/line_text.h"
#include "map_commands.h"
#include "map_legend.h"
#include "map_row_painter.h"
#include "map_saver.h"
#include "ui/dialogs.h"
#include "ui/fonts.h"
#include "ui/placement.h"
#include "ui/text.h"

namespace varnok {

namespace {

constexpr int kAddressColumnWidth = 64;
constexpr int kAsciiColumnWidth = 264;
constexpr int kInitialOuterHeight = 261;
// The string grid adds this many pixels to the sum of its columns and grid lines.
constexpr int kGridSlack = 5;

// The most differences the regions list names; the rest are counted.
constexpr std::size_t kMostListedDiffs = 10000;
constexpr std::uint8_t kDifferenceMark = 4;
constexpr std::uint8_t kOutsideMark = 8;

QString RunScriptFileDialog(QWidget* parent) {
  return QFileDialog::getOpenFileName(parent, QStringLiteral("Memory regions"), QString(),
                                      QStringLiteral("Linker scripts (*.ld);;All files (*)"));
}

std::string RunCompareFileDialog(QWidget* parent) {
  return QFile::encodeName(QFileDialog::getOpenFileName(
                               parent, QStringLiteral("Compare with"), QString(),
                               QStringLiteral("Motorola S-Record (*.s *.mot *.s19 *.s28 *.s37 *.srec *.sx "
                                              "*.mhx);;All files (*)")))
      .toStdString();
}

// A window title shows "[*]" as the modified mark; doubling it makes a file name's own "[*]" appear.
QString LiteralWindowTitle(QString title) {
  return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

}  // namespace

Tfrm_Data::Tfrm_Data(QWidget* owner, const std::string& name)
    : QWidget(owner, Qt::Window),
      Grid(new MapGridView(map_, this)),
      Panel(new QFrame(this)),
      Label1(NewPanelLabel(Panel, "Label1", QRect(8, 8, 129, 13), QStringLiteral("Address at mouse cursor:"))),
      lbl_Adr(NewPanelLabel(Panel, "lbl_Adr", QRect(136, 8, 65, 13), QString())),
      Panel1(NewLegendPanel(Panel, "Panel1", QRect(216, 5, 73, 17), QStringLiteral("Unused"),
                            map_colours::kUnused)),
      Panel2(NewLegendPanel(Panel, "Panel2", QRect(304, 5, 73, 17), QStringLiteral("Filled"),
                            map_colours::kFilled)),
      Panel3(NewLegendPanel(Panel, "Panel3", QRect(392, 5, 73, 17), QStringLiteral("Start vector"),
                            map_colours::kStartVector)),
      img_Warnings(NewPanelLabel(Panel, "img_Warnings", QRect(480, 5, 16, 17), QString())),
      lbl_Warnings(NewPanelLabel(Panel, "lbl_Warnings", QRect(500, 8, 272, 13), QString())),
      lbl_Note(NewPanelLabel(Panel, "lbl_Note", QRect(780, 8, 92, 13), QString())),
      ExtraPanel(new QFrame(this)),
      lbl_Compare(NewPanelLabel(ExtraPanel, "lbl_Compare", QRect(8, 8, 205, 13), QString())),
      Panel4(NewLegendPanel(ExtraPanel, "Panel4", QRect(216, 5, 73, 17), QStringLiteral("Only in A"),
                            map_colours::kOnlyInA)),
      Panel5(NewLegendPanel(ExtraPanel, "Panel5", QRect(304, 5, 73, 17), QStringLiteral("Only in B"),
                            map_colours::kOnlyInB)),
      Panel6(NewLegendPanel(ExtraPanel, "Panel6", QRect(392, 5, 73, 17), QStringLiteral("Different"),
                            map_colours::kDifferent)),
      lbl_Same(NewPanelLabel(ExtraPanel, "lbl_Same", QRect(580, 8, 292, 13), QString())),
      Panel7(NewLegendPanel(ExtraPanel, "Panel7", QRect(480, 5, 90, 17), QStringLiteral("Outside regions"),
                            map_colours::kOutside)),
      lbl_Script(NewPanelLabel(ExtraPanel, "lbl_Script", QRect(480, 8, 392, 13), QString())),
      lbl_Other(NewPanelLabel(ExtraPanel, "lbl_Other", QRect(8, kPanelHeight + 8, 205, 13), QString())),
      placement_(new ui::FramePlacement(*this, [this] { return PlacedFrameTopLeft(); })),
      file_name_(name),
      save_file_dialog_(RunSaveMapDialog),
      find_(std::make_unique<FindCommand>(MapCommandContext{this, map_, Grid}, lbl_Note)),
      saver_(new MapSaver(this)),
      stop_save_(new QShortcut(QKeySequence(Qt::Key_Escape), this)),
      compare_file_dialog_(RunCompareFileDialog),
      stop_read_(new QShortcut(QKeySequence(Qt::Key_Escape), this)),
      own_slot_(new JobSlot(this)),
      script_file_dialog_(RunScriptFileDialog),
      digest_slot_(new JobSlot(this)) {
  setObjectName(QStringLiteral("frm_Data"));
  setAttribute(Qt::WA_QuitOnClose, false);
  setFont(ui::DesignFont());
  title_ = LiteralWindowTitle(QStringLiteral("Memory map of file '") + ui::ToQt(name) + QStringLiteral("'"));
  setWindowTitle(title_);
  img_Warnings->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(14, 14));
  img_Warnings->hide();
  lbl_Warnings->hide();
  stop_save_->setContext(Qt::WindowShortcut);
  stop_save_->setEnabled(false);
  connect(stop_save_, &QShortcut::activated, this, &Tfrm_Data::StopSaving);
  stop_read_->setContext(Qt::WindowShortcut);
  stop_read_->setEnabled(false);
  connect(stop_read_, &QShortcut::activated, this, &Tfrm_Data::CancelRead);
  slot_ = own_slot_;
  ExtraPanel->setObjectName(QStringLiteral("ExtraPanel"));
  ExtraPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  ExtraPanel->setLineWidth(1);
  ExtraPanel->hide();
  Panel7->hide();
  lbl_Script->hide();
  lbl_Other->hide();
  connect(saver_, &MapSaver::progressed, this, &Tfrm_Data::SaveProgressed);
  connect(saver_, &MapSaver::finished, this, &Tfrm_Data::SaveFinished);

  Grid->setObjectName(QStringLiteral("Grid"));
  Panel->setObjectName(QStringLiteral("Panel"));
  Panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel->setLineWidth(1);
  Grid->SetOnDrawCell([this](QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                             GridDrawState state) { GridDrawCell(painter, column, row, rect, state); });
  Grid->SetOnMouseMove([this](Qt::KeyboardModifiers shift, int x, int y) { GridMouseMove(shift, x, y); });
  Grid->SetMarksSource([this](int pixels) {
    std::vector<std::uint8_t> marks = map_.ScrollMarks(pixels);
    if (other_) {
      const std::vector<std::uint8_t> diffs = DifferenceMarks(map_, *other_, pixels, kDifferenceMark);
      for (std::size_t i = 0; i < marks.size(); ++i) marks[i] |= diffs[i];
    }
    if (cover_) {
      const std::vector<std::uint8_t> outside = RangeMarks(map_, usage_.outside, pixels, kOutsideMark);
      for (std::size_t i = 0; i < marks.size(); ++i) marks[i] |= outside[i];
    }
    return marks;
  });
  // The grid's font is the window's design font from here on.
  row_painter_ = std::make_unique<MapRowPainter>(
      map_, Grid->font(), Grid->viewport(),
      [this](std::int32_t column, std::int32_t row) { return find_->InMatch(column, row); });
  Grid->SetColumnWidth(0, kAddressColumnWidth);
  Grid->SetColumnWidth(MapGrid::AsciiColumn, kAsciiColumnWidth);
  const int grid_width = Grid->Layout().ColumnsRight() + kGridSlack;
  Grid->move(0, 0);
  Grid->resize(grid_width, Grid->height());
  resize(grid_width + 1, kInitialOuterHeight - OwnerFrameExtra().height());
  FormResize();

  // The commands live on the grid, so that its context menu lists them; their shortcuts work anywhere in the window.
  Grid->setContextMenuPolicy(Qt::ActionsContextMenu);
  const MapCommandContext context{this, map_, Grid};
  // The commands that move the selection by keyboard show what its row holds in each image.
  AddCommand(QStringLiteral("Go to address..."), QKeySequence(Qt::CTRL | Qt::Key_G), [this, context] {
    GoToAddress(context);
    ShowSelectedDifference();
  });
  AddCommand(QStringLiteral("Next region"), QKeySequence(Qt::CTRL | Qt::Key_Down), [this, context] {
    NextRegion(context);
    ShowSelectedDifference();
  });
  AddCommand(QStringLiteral("Previous region"), QKeySequence(Qt::CTRL | Qt::Key_Up), [this, context] {
    PreviousRegion(context);
    ShowSelectedDifference();
  });
  AddCommand(QStringLiteral("Regions..."), QKeySequence(Qt::CTRL | Qt::Key_R),
             [this, context] {
               // The list keeps a reference to the lines, which digests that come while it is open complete.
               listed_ = ListedLinesWithDigests();
               ListRegions(context, listed_);
             });
  AddCommand(QStringLiteral("Memory regions..."), QKeySequence(Qt::CTRL | Qt::Key_M), [this] {
    if (saver_->Saving() || compare_reading_ || script_reading_) return;
    const QString path = script_file_dialog_(this);
    if (path.isEmpty()) return;
    script_chosen_ = path;
    ReadRegions(ui::FromQt(path), std::string());
  });
  AddCommand(QStringLiteral("No regions"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), [this] { RemoveRegions(); });
  AddCommand(QStringLiteral("Find..."), QKeySequence(Qt::CTRL | Qt::Key_F), [this] { find_->Find(); });
  AddCommand(QStringLiteral("Find next"), QKeySequence(Qt::Key_F3), [this] { find_->FindNext(); });
  AddCommand(QStringLiteral("Find previous"), QKeySequence(Qt::SHIFT | Qt::Key_F3),
             [this] { find_->FindPrevious(); });
  AddCommand(QStringLiteral("Copy row"), QKeySequence(Qt::CTRL | Qt::Key_C), [context] { CopyRow(context); });
  AddCommand(QStringLiteral("Copy as hex"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
             [context] { CopyHex(context); });
  AddCommand(QStringLiteral("Compare with..."), QKeySequence(Qt::CTRL | Qt::Key_D), [this] {
    if (saver_->Saving() || compare_reading_) return;
    const std::string path = compare_file_dialog_(this);
    if (!path.empty()) CompareWith(path);
  });
  AddCommand(QStringLiteral("Next difference"), QKeySequence(Qt::Key_F8), [this] {
    NextDifference();
    ShowSelectedDifference();
  });
  AddCommand(QStringLiteral("Previous difference"), QKeySequence(Qt::SHIFT | Qt::Key_F8), [this] {
    PreviousDifference();
    ShowSelectedDifference();
  });
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  Grid->addAction(separator);
  AddCommand(QStringLiteral("Save map as text..."), QKeySequence(Qt::CTRL | Qt::Key_S),
             [this, context] {
               if (compare_reading_ || script_reading_) return;
               SaveMapAsText(context, file_name_, save_file_dialog_, *saver_, report_head_);
               if (!saver_->Saving()) return;
               lbl_Note->clear();
               stop_save_->setEnabled(true);
               emit savingChanged(true);
             });
  // Shift+F10 opens the context menu as the Menu key does, wherever the window's focus is.
  auto* context_menu = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
  context_menu->setContext(Qt::WindowShortcut);
  connect(context_menu, &QShortcut::activated, this, &Tfrm_Data::OpenContextMenu);
}

void Tfrm_Data::SetWarnings(const std::vector<std::string>& warnings) {
  file_warnings_ = warnings;
  ShowWarnings();
}

void Tfrm_Data::ShowWarnings() {
  QStringList texts;
  for (const std::string& warning : file_warnings_) texts << ui::ToQt(warning);
  for (const std::string& warning : script_warnings_) texts << ui::ToQt(warning);
  const bool any = !texts.isEmpty();
  const QString line = QStringLiteral("Warning: ") + texts.join(QStringLiteral("; "));
  // A long list is cut to the panel; the tooltip holds all of it, a warning a line.
  lbl_Warnings->setText(lbl_Warnings->fontMetrics().elidedText(line, Qt::ElideRight, lbl_Warnings->width()));
  const QString all = QStringLiteral("Warning: ") + texts.join(QStringLiteral("\nWarning: "));
  lbl_Warnings->setToolTip(ui::PlainToolTip(all));
  img_Warnings->setToolTip(lbl_Warnings->toolTip());
  img_Warnings->setVisible(any);
  lbl_Warnings->setVisible(any);
}

bool Tfrm_Data::Saving() const { return saver_->Saving(); }

void Tfrm_Data::StopSaving() { saver_->Stop(); }

void Tfrm_Data::SaveProgressed(int percent) {
  setWindowTitle(title_ + QStringLiteral(" - Saving... %1 %").arg(percent));
}

void Tfrm_Data::SaveFinished(const MapTextSave& save, const QString& path) {
  setWindowTitle(title_);
  stop_save_->setEnabled(false);
  if (save.end == MapTextSave::End::Cancelled) lbl_Note->setText(QStringLiteral("Save cancelled"));
  if (!quiet_save_end_ || save.end != MapTextSave::End::Saved) {
    ReportMapSave(MapCommandContext{this, map_, Grid}, save, path);
  }
  // Last: the owner may close, and so delete this window, once it hears the save is over.
  emit savingChanged(false);
}

Tfrm_Data::~Tfrm_Data() {
  // A read for this window that goes on in its owner's slot would only be thrown away.
  if (compare_reading_ || script_reading_) Slot().Cancel();
  // The saver's thread and the digests' read map_, which goes before the window's children would.
  delete saver_;
  delete digest_slot_;
}

void Tfrm_Data::AddCommand(const QString& text, const QKeySequence& shortcut, std::function<void()> command) {
  auto* action = new QAction(text, this);
  action->setShortcut(shortcut);
  action->setShortcutVisibleInContextMenu(true);
  connect(action, &QAction::triggered, this, [this, command = std::move(command)] {
    // No exception leaves a slot: a command that runs out of memory says so and leaves the map as it was.
    try {
      command();
    } catch (const std::bad_alloc&) {
      ui::ShowOutOfMemory(this);
    }
  });
  Grid->addAction(action);
}

void Tfrm_Data::SetMap(MapGrid&& map) {
  StopDigests();
  map_ = std::move(map);
  digest_lines_.reset();
  // A script read asked for right after the map digests its regions with the image once it is over.
  QTimer::singleShot(0, this, [this] {
    if (!script_reading_ && !digest_slot_->Busy() && !digest_lines_) StartDigests();
  });
  row_painter_->ForgetRow();
  Grid->Reset();
  Grid->setFocus();
  // From here on the size check is attached; its first pass lets the centring through.
  Tag = 1;
  can_resize_attached_ = true;
}

void Tfrm_Data::ShowMap() {
  if (!shown_) {
    shown_ = true;
    PlaceFirstTime();
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

void Tfrm_Data::GridDrawCell(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                             GridDrawState state) {
  row_painter_->PaintCell(painter, column, row, rect, state, palette());
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
  // The extra panel of a comparison or of regions sits between the grid and the panel, which keeps its place.
  const int extra_height = ExtraPanel->isVisibleTo(this) ? kPanelHeight * extra_rows_ : 0;
  Grid->resize(Grid->width(), std::max(0, client_height - kPanelHeight - extra_height));
  ExtraPanel->setGeometry(0, client_height - kPanelHeight - extra_height, width(), extra_height);
  Panel->setGeometry(0, client_height - kPanelHeight, width(), kPanelHeight);
}

void Tfrm_Data::GridMouseMove(Qt::KeyboardModifiers /*Shift*/, int X, int Y) {
  const CellPos cell = Grid->MouseCoord(X, Y);
  if (const std::optional<std::uint32_t> address = map_.CellAddress(cell.column, cell.row)) {
    lbl_Adr->setText(ui::ToQt(AddressText(*address)));
    // With regions, the read-out names the one the address lies in.
    const std::optional<std::string> region = cover_ ? RegionNameAt(*address) : std::nullopt;
    std::string readout;
    if (other_) {
      readout = CompareReadout(*address, map_.ByteAt(cell.column, cell.row), other_->ByteAt(cell.column, cell.row));
      if (region) readout += ", " + *region;
    } else if (region) {
      readout = AddressText(*address) + " in " + *region;
    } else if (cover_) {
      readout = AddressText(*address);
    }
    const QString text = ui::ToQt(readout);
    lbl_Compare->setText(lbl_Compare->fontMetrics().elidedText(text, Qt::ElideRight, lbl_Compare->width()));
    lbl_Compare->setToolTip(ui::PlainToolTip(text));
  }
}

void Tfrm_Data::ShowSelectedDifference() {
  if (!other_) return;
  const std::int32_t row = Grid->Row();
  const RowDiff diff = CompareRow(map_.Row(row), other_->Row(row));
  const std::uint32_t differing = diff.only_in_a | diff.only_in_b | diff.different;
  const std::int32_t column = 1 + (differing != 0 ? std::countr_zero(differing) : 0);
  const std::optional<std::uint32_t> address = map_.CellAddress(column, row);
  if (!address) return;
  lbl_Compare->setText(
      ui::ToQt(CompareReadout(*address, map_.ByteAt(column, row), other_->ByteAt(column, row))));
  lbl_Compare->setToolTip(QString());
}

void Tfrm_Data::OpenContextMenu() {
  // The menu opens at the selected row's first byte, or at the grid's corner when that row is out of view.
  QRect cell = Grid->CellRect(1, Grid->Row());
  if (cell.isEmpty()) cell = QRect(0, 0, 1, 1);
  const QPoint at = cell.center();
  QContextMenuEvent event(QContextMenuEvent::Keyboard, at, Grid->viewport()->mapToGlobal(at));
  QApplication::sendEvent(Grid, &event);
}

void Tfrm_Data::SetCompareFileDialog(CompareFileDialog dialog) { compare_file_dialog_ = std::move(dialog); }

void Tfrm_Data::SetComparison(MapGrid&& other, std::optional<std::uint32_t> other_exec) {
  EndCompareRead(false);
  // The selected row keeps its address, wherever the widened rows put it.
  const std::uint32_t selected = map_.RowAddress(Grid->Row());
  row_painter_->SetOther(nullptr);
  other_.reset();
  // Widening moves the map's rows but not its bytes: digests that went on start again over the widened map.
  const bool digesting = StopDigests();
  const std::uint32_t first = other.BaseAddress();
  // The rows move down by as many bytes as the first address moves up, and the highlighted match with them.
  find_->ShiftMatch(map_.BaseAddress() - first);
  map_.Widen(first, first + static_cast<std::uint32_t>(other.Span() - 1));
  other_ = std::move(other);
  other_exec_ = other_exec;
  DiffList diffs = ListDifferences(map_, *other_, kMostListedDiffs);
  diffs_ = std::move(diffs.ranges);
  more_diffs_ = diffs.count - diffs_.size();
  diff_bytes_ = diffs.bytes;
  more_diff_bytes_ = diffs.more_bytes;
  row_painter_->SetOther(&*other_);
  if (digesting) StartDigests();
  const bool same = diffs_.empty() && exec_ == other_exec_;
  lbl_Same->setText(same ? QString::fromLatin1(kSameImageLine) : QString());
  lbl_Compare->clear();
  ShowExtraPanel();
  Grid->Reset();
  Grid->SelectRowCentred(map_.AddressToCell(selected).row);
}

void Tfrm_Data::NextDifference() {
  if (!other_) return;
  const std::int32_t current = Grid->Row();
  const auto row_of = [this](const DiffRange& diff) { return map_.AddressToCell(diff.range.first).row; };
  const auto next = std::upper_bound(diffs_.begin(), diffs_.end(), current,
                                     [&](std::int32_t row, const DiffRange& diff) { return row < row_of(diff); });
  if (next != diffs_.end()) {
    ShowFoundRow(MapCommandContext{this, map_, Grid}, row_of(*next));
    return;
  }
  if (more_diffs_ == 0) return;
  // Past the listed differences the images are compared on from the last one listed.
  std::optional<std::int32_t> found;
  CompareImages(
      map_, *other_,
      [&](const DiffRange& diff) {
        if (row_of(diff) > current) found = row_of(diff);
        return !found;
      },
      diffs_.back().range.last + 1);
  if (found) ShowFoundRow(MapCommandContext{this, map_, Grid}, *found);
}

void Tfrm_Data::PreviousDifference() {
  if (!other_) return;
  const std::int32_t current = Grid->Row();
  const auto row_of = [this](const DiffRange& diff) { return map_.AddressToCell(diff.range.first).row; };
  std::optional<std::int32_t> found;
  if (more_diffs_ > 0 && !diffs_.empty() && row_of(diffs_.back()) < current) {
    CompareImages(
        map_, *other_,
        [&](const DiffRange& diff) {
          if (row_of(diff) >= current) return false;
          found = row_of(diff);
          return true;
        },
        diffs_.back().range.last + 1);
  }
  if (!found) {
    const auto at = std::lower_bound(diffs_.begin(), diffs_.end(), current,
                                     [&](const DiffRange& diff, std::int32_t row) { return row_of(diff) < row; });
    if (at != diffs_.begin()) found = row_of(*std::prev(at));
  }
  if (found) ShowFoundRow(MapCommandContext{this, map_, Grid}, *found);
}

void Tfrm_Data::ShowExtraPanel() {
  for (QWidget* compared : {static_cast<QWidget*>(Panel4), static_cast<QWidget*>(Panel5),
                            static_cast<QWidget*>(Panel6), static_cast<QWidget*>(lbl_Same)}) {
    compared->setVisible(other_.has_value());
  }
  // The read-out names the region under the mouse too.
  lbl_Compare->setVisible(other_ || cover_);
  // The read's status takes the place of the regions' legend and of the comparison's verdict until it is over.
  lbl_Same->setVisible(other_ && !script_reading_);
  Panel7->setVisible(cover_ && !script_reading_);
  lbl_Script->setVisible(script_reading_);
  lbl_Other->setVisible(other_.has_value());
  // The second row names the image compared with on its left, and the regions in their colours beside it.
  const int legend_rows = cover_ ? LayOutRegionLegend(kPanelHeight) : 0;
  for (QLabel* legend : region_legends_) legend->setVisible(cover_.has_value());
  extra_rows_ = 1 + std::max(legend_rows, other_ ? 1 : 0);
  ExtraPanel->setVisible(other_ || cover_ || script_reading_);
  FormResize();
}

QSize Tfrm_Data::OwnerFrameExtra() const {
  const QWidget* owner = parentWidget();
  if (owner == nullptr || !owner->isVisible()) return {0, 0};
  const QMargins margins = ui::FrameMargins(*owner);
  return {margins.left() + margins.right(), margins.top() + margins.bottom()};
}

std::optional<QRect> Tfrm_Data::Placement() const {
  if (!shown_) return std::nullopt;
  return QRect(pos(), size());
}

void Tfrm_Data::PlaceFirstTime() {
  if (wanted_ && !wanted_->isEmpty()) {
    resize(wanted_->size());
  } else {
    wanted_.reset();
    const QSize extra = OwnerFrameExtra();
    int new_width = width() + extra.width();
    int new_height = height() + extra.height();
    if (can_resize_attached_) FormCanResize(new_width, new_height);
    resize(new_width - extra.width(), new_height - extra.height());
  }
  placement_->Apply();
  // The size check has had its one pass: from here on the window keeps its width.
  setMinimumWidth(width());
  setMaximumWidth(width());
}

QPoint Tfrm_Data::PlacedFrameTopLeft() const {
  // Where the user left the window stays, as long as its title bar can still be grabbed on a screen.
  if (wanted_) return ui::TitleBarOnScreen(QRect(wanted_->topLeft(), frameGeometry().size()), ui::AvailableAreas());
  const QWidget* owner = parentWidget();
  if (owner == nullptr) return frameGeometry().topLeft();
  // Beside its owner, so that the main window's status and summary stay in sight; on the owner's screen.
  const QRect outer = owner->frameGeometry();
  return ui::FrameBeside(outer, ui::FramedSize(*this, *owner), ui::AvailableAreaAt(outer)).topLeft();
}

}  // namespace varnok
