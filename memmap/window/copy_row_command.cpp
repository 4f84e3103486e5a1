#include <QClipboard>
#include <QGuiApplication>

#include "map_commands.h"
#include "ui/text.h"

namespace varnok {

void CopyRow(const MapCommandContext& context) {
  if (!HasData(context)) return;
  std::string text;
  context.map.AppendRowText(context.grid->Row(), text);
  QGuiApplication::clipboard()->setText(ui::ToQt(text));
}

}  // namespace varnok
