#include "map_dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QListView>
#include <QPainter>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <string_view>

#include "text/line_text.h"
#include "memmap/find_text.h"
#include "text/number_reader.h"
#include "ui/fonts.h"
#include "ui/text.h"

namespace varnok {

namespace {

// Accepts 1 to 8 hexadecimal digits, optionally after "0x", with blanks around them.
std::optional<std::uint32_t> ParseHexAddress(const QString& text) {
  NumberFormat format;
  format.base = 16;
  format.hex_prefix = true;
  format.max_digits = 8;
  // A character beyond Latin-1 becomes "?", which is no digit either.
  const QByteArray latin1 = text.trimmed().toLatin1();
  const std::optional<std::uint64_t> address =
      NumberValue(std::string_view(latin1.constData(), static_cast<std::size_t>(latin1.size())), format);
  if (!address) return std::nullopt;
  return static_cast<std::uint32_t>(*address);
}

QString GoToPrompt(const MapGrid& map) {
  const std::uint32_t last = map.RowAddress(map.RowCount() - 1) + (MapGrid::kBytesPerRow - 1);
  return QStringLiteral("Hexadecimal address (%1 to %2):")
      .arg(ui::ToQt(AddressText(map.BaseAddress())), ui::ToQt(AddressText(last)));
}

// Appends a count with "," between groups of three digits.
void AppendGroupedCount(std::uint64_t value, std::string& out) {
  const std::string digits = std::to_string(value);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
}

}  // namespace

CheckedInputDialog::CheckedInputDialog(QWidget* parent, const QString& title, const QString& prompt,
                                       const QString& text)
    : QInputDialog(parent), prompt_(prompt) {
  setWindowTitle(title);
  setInputMode(QInputDialog::TextInput);
  setLabelText(prompt);
  setTextValue(text);
}

void CheckedInputDialog::done(int result) {
  if (result == QDialog::Accepted) {
    if (const std::optional<QString> refusal = Take(textValue())) {
      setLabelText(*refusal + QLatin1Char('\n') + prompt_);
      return;
    }
  }
  QInputDialog::done(result);
}

GoToDialog::GoToDialog(QWidget* parent, const MapGrid& map, const QString& text)
    : CheckedInputDialog(parent, QStringLiteral("Go to address"), GoToPrompt(map), text), map_(map) {}

std::optional<QString> GoToDialog::Take(const QString& text) {
  const QString entered = text.trimmed();
  const std::optional<std::uint32_t> address = ParseHexAddress(entered);
  if (!address) return QStringLiteral("'%1' is not a hexadecimal address.").arg(entered);
  const std::int32_t row = map_.AddressToCell(*address).row;
  if (row < 1 || row >= map_.RowCount()) {
    return QStringLiteral("%1 lies outside this map.").arg(ui::ToQt(AddressText(*address)));
  }
  row_ = row;
  return std::nullopt;
}

FindDialog::FindDialog(QWidget* parent, const QString& text)
    : CheckedInputDialog(parent, QStringLiteral("Find"),
                         QStringLiteral("Bytes in hex (DE AD BE EF) or text in double quotes (\"VERSION\"):"), text) {}

std::optional<QString> FindDialog::Take(const QString& text) {
  // The map holds 8-bit bytes: a character beyond Latin-1 has none that it could match.
  if (std::any_of(text.begin(), text.end(), [](QChar ch) { return ch.unicode() > 0xFF; })) {
    return QStringLiteral("Only characters of 8 bits can be searched for.");
  }
  FindPattern pattern = ParseFindText(ui::FromQt(text));
  if (!pattern.error.empty()) return ui::ToQt(pattern.error);
  pattern_ = std::move(pattern.bytes);
  return std::nullopt;
}

std::string RegionText(const AddressRange& region) {
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for string + literal chains.
  std::string text = AddressText(region.first);
  text += " - ";
  text += AddressText(region.last);
  text += "  ";
  AppendGroupedCount(region.Size(), text);
  text += region.Size() == 1 ? " byte" : " bytes";
  return text;
}

namespace {

// Draws a line's share as a bar after its text: a small picture reads faster than "0.87 %".
class ShareBarDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  static constexpr int kGap = 8;
  static constexpr int kBarWidth = 80;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const QVariant share = index.data(kShareRole);
    if (!share.isValid()) return;
    const int text_width = option.fontMetrics.horizontalAdvance(index.data().toString());
    const QRect bar(option.rect.left() + 4 + text_width + kGap, option.rect.top() + 3, kBarWidth,
                    std::max(4, option.rect.height() - 6));
    painter->save();
    // On a selected entry the bar takes the selection's text colour, so that it stays in sight on the highlight.
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawRect(bar.adjusted(0, 0, -1, -1));
    const double used = std::clamp(share.toDouble(), 0.0, 1.0);
    // Any use at all shows as at least one pixel, so that a nearly empty region is told from an empty one.
    const int filled = used > 0 ? std::max(1, static_cast<int>(used * (bar.width() - 2) + 0.5)) : 0;
    painter->fillRect(QRect(bar.left() + 1, bar.top() + 1, filled, bar.height() - 2),
                      selected     ? option.palette.color(QPalette::HighlightedText)
                      : used > 0.9 ? QColor(213, 94, 0)
                                   : QColor(0, 114, 178));
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.data(kShareRole).isValid()) size.rwidth() += kGap + kBarWidth + 4;
    return size;
  }
};

}  // namespace

RegionListModel::RegionListModel(const std::vector<AddressRange>& regions, const std::vector<ListedLine>& lines,
                                 QObject* parent)
    : QAbstractListModel(parent), regions_(regions), lines_(lines) {}

int RegionListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  // A list view counts its rows in int.
  return static_cast<int>(std::min<std::size_t>(regions_.size() + lines_.size(), INT_MAX));
}

QVariant RegionListModel::data(const QModelIndex& index, int role) const {
  if ((role != Qt::DisplayRole && role != kShareRole) || !index.isValid() || index.row() >= rowCount({})) return {};
  const auto row = static_cast<std::size_t>(index.row());
  if (role == kShareRole) {
    if (row < regions_.size() || !lines_[row - regions_.size()].share) return {};
    return *lines_[row - regions_.size()].share;
  }
  if (row >= regions_.size()) return ui::ToQt(lines_[row - regions_.size()].text);
  return ui::ToQt(RegionText(regions_[row]));
}

RegionsDialog::RegionsDialog(QWidget* parent, const std::vector<AddressRange>& regions,
                             const std::vector<ListedLine>& lines, std::size_t current)
    : QDialog(parent), list_(new QListView(this)) {
  setWindowTitle(QStringLiteral("Regions"));
  setObjectName(QStringLiteral("RegionsDialog"));
  setFont(ui::DesignFont());
  // The lines after the regions (a region's use, a difference) are longer than a region's.
  resize(lines.empty() ? 330 : 520, 300);
  list_->setObjectName(QStringLiteral("Regions"));
  list_->setFont(ui::FixedFont());
  // Every row has the same height, so the view lays out 100,000 regions without measuring them.
  list_->setUniformItemSizes(true);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Ctrl+A then Ctrl+C copies the whole list, Ctrl+C alone the current entry, a line each.
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // The view's own copy takes the current entry alone: the list's keys pass here first.
  list_->installEventFilter(this);
  model_ = new RegionListModel(regions, lines, list_);
  list_->setModel(model_);
  list_->setItemDelegate(new ShareBarDelegate(list_));
  list_->setCurrentIndex(list_->model()->index(static_cast<int>(std::min<std::size_t>(current, INT_MAX)), 0));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(list_);
  connect(list_, &QListView::activated, this, [this](const QModelIndex& index) {
    chosen_ = static_cast<std::size_t>(index.row());
    accept();
  });
}

bool RegionsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched != list_ || event->type() != QEvent::KeyPress ||
      !static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    return QDialog::eventFilter(watched, event);
  }
  QModelIndexList rows = list_->selectionModel()->selectedRows();
  if (rows.isEmpty() && list_->currentIndex().isValid()) rows << list_->currentIndex();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QString text;
  for (const QModelIndex& row : rows) text += row.data().toString() + QLatin1Char('\n');
  QApplication::clipboard()->setText(text);
  return true;
}

void RegionsDialog::Relist() {
  const int current = list_->currentIndex().row();
  model_->Relist();
  list_->setCurrentIndex(model_->index(current, 0));
}

}  // namespace varnok
