#include <QFileDialog>
#include <QFileInfo>

#include "map_commands.h"
#include "ui/dialogs.h"
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
                   const std::function<QString(QWidget* parent, const QString& preset)>& dialog, MapSaver& saver,
                   const std::string& head) {
  if (saver.Saving() || !HasData(context)) return;
  const QString path = dialog(context.window, ui::ToQt(file_name) + QStringLiteral(".map.txt"));
  if (path.isEmpty()) return;
  saver.Start(context.map, path, head);
}

void ReportMapSave(const MapCommandContext& context, const MapTextSave& save, const QString& path) {
  switch (save.end) {
    case MapTextSave::End::Saved:
      ui::ShowMessage(context.window,
                      QStringLiteral("Saved %1 rows to %2").arg(save.rows).arg(QFileInfo(path).fileName()));
      break;
    case MapTextSave::End::Failed:
      ui::ShowErrorDialog(context.window,
                          QStringLiteral("Unable to save the map to '%1':\n%2").arg(path, save.reason));
      break;
    case MapTextSave::End::Cancelled: break;
  }
}

}  // namespace varnok
