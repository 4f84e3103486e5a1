#include "text/line_text.h"
#include "map_commands.h"
#include "map_dialogs.h"
#include "ui/text.h"

namespace varnok {

void GoToAddress(const MapCommandContext& context) {
  if (context.map.RowCount() < 2) return;
  GoToDialog dialog(context.window, context.map, ui::ToQt(HexText(context.map.RowAddress(context.grid->Row()), 8)));
  if (dialog.exec() != QDialog::Accepted) return;
  ShowFoundRow(context, dialog.Row());
}

}  // namespace varnok
