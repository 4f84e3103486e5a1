// The main window's settings: its position and the file chosen last, kept in the settings file.
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>

#include "app/frm_gui.h"
#include "settings/ini_file.h"
#include "settings/paths.h"

namespace varnok {

namespace {

// File names are stored in the file system's own encoding, so that any name the dialog can choose
// comes back unchanged after a restart.
std::string Encode(const QString& text) {
  const QByteArray bytes = QFile::encodeName(text);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString Decode(const std::string& text) {
  return QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace

void Tfrm_GUI::LoadSettings() {
  const settings::TIniFile ini(settings_path_);
  move(x(), ini.ReadInteger("app", "top", y()));
  move(ini.ReadInteger("app", "left", x()), y());
  lbl_Name->setText(Decode(ini.ReadString("file", "name", "No file selected yet...")));
  mem_Path->setPlainText(Decode(ini.ReadString("file", "path", "")));
}

void Tfrm_GUI::SaveSettings() {
  // The folder of a per-user settings file comes with the first write; if it cannot be made, the write fails.
  settings::MakeSettingsFolder(settings_path_);
  settings::TIniFile ini(settings_path_);
  ini.WriteInteger("app", "top", y());
  ini.WriteInteger("app", "left", x());
  ini.WriteString("file", "name", Encode(lbl_Name->text()));
  ini.WriteString("file", "path", Encode(mem_Path->toPlainText()));
}

}  // namespace varnok
