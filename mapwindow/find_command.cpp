#include <QLabel>

#include "map_commands.h"
#include "map_dialogs.h"
#include "ui/dialogs.h"

namespace varnok {

void FindCommand::Find() {
  if (!HasData(context_)) return;
  FindDialog dialog(context_.window, text_);
  if (dialog.exec() != QDialog::Accepted) return;
  text_ = dialog.textValue();
  pattern_ = dialog.Pattern();
  // A new search starts after the selected row's first cell, so that repeating it moves on.
  const std::uint32_t from = RowOffset(context_.grid->Row()) + 1;
  const std::optional<std::uint32_t> offset = context_.map.FindForward(pattern_, from);
  ShowMatch(offset, false, offset && *offset < from);
}

void FindCommand::FindNext() {
  if (pattern_.empty()) {
    Find();
    return;
  }
  if (!HasData(context_)) return;
  const std::uint32_t from = match_ ? *match_ + 1 : RowOffset(context_.grid->Row()) + 1;
  const std::optional<std::uint32_t> offset = context_.map.FindForward(pattern_, from);
  ShowMatch(offset, match_.has_value(), offset && *offset < from);
}

void FindCommand::FindPrevious() {
  if (pattern_.empty()) {
    Find();
    return;
  }
  if (!HasData(context_)) return;
  const std::uint32_t before = match_ ? *match_ : RowOffset(context_.grid->Row());
  const std::optional<std::uint32_t> offset = context_.map.FindBackward(pattern_, before);
  ShowMatch(offset, match_.has_value(), offset && *offset >= before);
}

void FindCommand::ShowMatch(std::optional<std::uint32_t> offset, bool repeat, bool wrapped) {
  // The search wraps, so a step from the only match finds that match again.
  const bool same = repeat && offset == match_;
  match_ = offset;
  status_->setText(wrapped ? QStringLiteral("Search wrapped") : QString());
  context_.grid->viewport()->update();
  if (!offset) {
    ui::ShowMessage(context_.window, QStringLiteral("Not found: ") + text_);
    return;
  }
  ShowFoundRow(context_, static_cast<std::int32_t>(*offset / MapGrid::kBytesPerRow) + 1);
  if (same) ui::ShowMessage(context_.window, QStringLiteral("Only one match"));
}

bool FindCommand::InMatch(std::int32_t column, std::int32_t row) const {
  if (!match_ || row < 1) return false;
  // Offsets below the match wrap to large distances, so one comparison covers both ends.
  const std::uint32_t distance = RowOffset(row) + static_cast<std::uint32_t>(column - 1) - *match_;
  return distance < pattern_.size();
}

}  // namespace varnok
