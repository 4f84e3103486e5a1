#include <QClipboard>
#include <QGuiApplication>

#include <cstdint>
#include <string>

#include "text/line_text.h"
#include "map_commands.h"
#include "ui/dialogs.h"
#include "ui/text.h"

namespace varnok {

namespace {

// A clipboard text of this many rows is over 100 MiB; larger ranges belong in "Save map as text...".
constexpr std::int64_t kMaxCopiedRows = std::int64_t{1} << 20;

// Puts the text that append makes of each selected row, one row a line, on the clipboard.
template <typename AppendRow>
void CopySelectedRows(const MapCommandContext& context, const AppendRow& append) {
  if (!HasData(context)) return;
  const std::int32_t first = context.grid->FirstSelectedRow();
  const std::int32_t last = context.grid->LastSelectedRow();
  if (std::int64_t{last} - first + 1 > kMaxCopiedRows) {
    ui::ShowMessage(context.window, QStringLiteral("Select at most %1 rows to copy.").arg(kMaxCopiedRows));
    return;
  }
  std::string text;
  for (std::int32_t row = first; row <= last; ++row) {
    if (row != first) text += '\n';
    append(row, text);
  }
  QGuiApplication::clipboard()->setText(ui::ToQt(text));
}

}  // namespace

void CopyRow(const MapCommandContext& context) {
  CopySelectedRows(context, [&context](std::int32_t row, std::string& text) { context.map.AppendRowText(row, text); });
}

void CopyHex(const MapCommandContext& context) {
  CopySelectedRows(context, [&context](std::int32_t row, std::string& text) {
    // Every cell of the row as it shows: a byte that no record wrote reads FF.
    const RowCells cells = context.map.Row(row);
    for (std::uint32_t i = 0; i < MapGrid::kBytesPerRow; ++i) {
      AppendHex(text, ((cells.filled >> i) & 1) != 0 ? cells.bytes[i] : 0xFF, 2);
    }
  });
}

}  // namespace varnok
