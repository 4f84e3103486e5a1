#pragma once

#include <QAbstractListModel>
#include <QDialog>
#include <QInputDialog>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "memmap/map_grid.h"

class QListView;

namespace varnok {

// A one-line text dialog that checks the entry when the user accepts it: a refused entry is not taken, the
// dialog stays open and says why above its prompt.
class CheckedInputDialog : public QInputDialog {
 public:
  CheckedInputDialog(QWidget* parent, const QString& title, const QString& prompt, const QString& text);

  void done(int result) override;

 protected:
  // Takes the entry and returns nothing, or returns why it is refused.
  virtual std::optional<QString> Take(const QString& text) = 0;

 private:
  QString prompt_;
};

// Asks for a hexadecimal address inside the map ("1040", "0x107f").
class GoToDialog : public CheckedInputDialog {
 public:
  GoToDialog(QWidget* parent, const MapGrid& map, const QString& text);

  // The row of the accepted address.
  std::int32_t Row() const { return row_; }

 protected:
  std::optional<QString> Take(const QString& text) override;

 private:
  const MapGrid& map_;
  std::int32_t row_ = 0;
};

// Asks for the bytes to find: hex pairs ("DE AD BE EF") or text in double quotes ("\"VERSION\"").
class FindDialog : public CheckedInputDialog {
 public:
  FindDialog(QWidget* parent, const QString& text);

  // The bytes of the accepted entry.
  const std::vector<std::uint8_t>& Pattern() const { return pattern_; }

 protected:
  std::optional<QString> Take(const QString& text) override;

 private:
  std::vector<std::uint8_t> pattern_;
};

// A region as the regions list shows it: "0x08000000 - 0x0801FFFF  131,072 bytes" ("1 byte" for one).
std::string RegionText(const AddressRange& region);

// A line the regions list shows after the regions, and the data row Enter on it goes to, if any.
struct ListedLine {
  std::string text;
  std::optional<std::int32_t> row;
  std::optional<double> share = std::nullopt;  // a region's use, from 0 to 1, shown as a bar beside the text
};

// The item data role under which the regions list holds a line's share.
inline constexpr int kShareRole = Qt::UserRole + 1;

// The map's regions as a list model, then the lines; it formats a region's text only when the view asks for it.
class RegionListModel : public QAbstractListModel {
 public:
  // Keeps references to regions and lines, which must outlive the model.
  RegionListModel(const std::vector<AddressRange>& regions, const std::vector<ListedLine>& lines, QObject* parent);

  int rowCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Tells the view that the lines changed (digests that came while the list is open).
  void Relist() {
    beginResetModel();
    endResetModel();
  }

 private:
  const std::vector<AddressRange>& regions_;
  const std::vector<ListedLine>& lines_;
};

// The list of every region in map order, then the lines; double-click or Enter on an entry chooses it.
class RegionsDialog : public QDialog {
 public:
  // Keeps references to regions and lines, which must outlive the dialog; the list starts at entry `current`.
  RegionsDialog(QWidget* parent, const std::vector<AddressRange>& regions, const std::vector<ListedLine>& lines,
                std::size_t current);

  // The index of the chosen entry: a region's, or the regions' count plus a line's.
  std::size_t Chosen() const { return chosen_; }
  // Shows the lines again after they changed, keeping the current entry.
  void Relist();

 protected:
  // Ctrl+C on the list copies the selected entries, a line each.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QListView* const list_;
  RegionListModel* model_ = nullptr;
  std::size_t chosen_ = 0;
};

}  // namespace varnok
