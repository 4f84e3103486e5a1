#include <QFileDialog>

#include "map_commands.h"
#include "map_text_file.h"
#include "ui/dialogs.h"
#include "ui/events.h"
#include "ui/text.h"

namespace varnok {

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

void SaveMapAsText(const MapCommandContext& context, const std::string& file_name,
                   const std::function<QString(QWidget* parent, const QString& preset)>& dialog) {
  if (!HasData(context)) return;
  const QString path = dialog(context.window, ui::ToQt(file_name) + QStringLiteral(".map.txt"));
  if (path.isEmpty()) return;
  std::optional<QString> reason;
  {
    const ui::BusyCursor busy;
    reason = WriteMapText(context.map, path);
  }
  if (reason) {
    ui::ShowErrorDialog(context.window, QStringLiteral("Unable to save the map to '%1':\n%2").arg(path, *reason));
  }
}

}  // namespace varnok
