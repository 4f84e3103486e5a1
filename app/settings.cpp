// The main window's settings: its position, the map window's place and size, and the file chosen last, kept in the
// settings file.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/frm_gui.h"
#include "settings/ini_file.h"
#include "settings/paths.h"
#include "ui/placement.h"

namespace varnok {

namespace {

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

void Tfrm_GUI::LoadSettings() {
  const settings::TIniFile ini(settings_path_);
  move(x(), ini.ReadInteger("app", "top", y()));
  move(ini.ReadInteger("app", "left", x()), y());
  // A position stored on a screen that is gone (or never was) would leave nothing of the window to grab.
  move(ui::TitleBarOnScreen(frameGeometry(), ui::AvailableAreas()));
  // The map window's place counts only when all of it is there.
  const std::int32_t kNone = std::numeric_limits<std::int32_t>::min();
  const std::int32_t map_top = ini.ReadInteger("map", "top", kNone);
  const std::int32_t map_left = ini.ReadInteger("map", "left", kNone);
  const std::int32_t map_width = ini.ReadInteger("map", "width", kNone);
  const std::int32_t map_height = ini.ReadInteger("map", "height", kNone);
  if (map_top != kNone && map_left != kNone && map_width > 0 && map_height > 0) {
    map_placement_ = QRect(map_left, map_top, map_width, map_height);
  }
  script_ = ini.ReadString("map", "script", "");
  script_folder_ = ini.ReadString("map", "script_folder", "");
  // File names are stored as the file system's bytes, so that a name in any encoding opens after a restart.
  ShowFile(ini.ReadString("file", "name", "No file selected yet..."), ini.ReadString("file", "path", ""));
}

void Tfrm_GUI::SaveSettings() {
  // The folder of a per-user settings file comes with the first write; if it cannot be made, the write fails.
  settings::MakeSettingsFolder(settings_path_);
  settings::TIniFile ini(settings_path_);
  const std::string top = std::to_string(y());
  const std::string left = std::to_string(x());
  std::vector<settings::IniEntry> entries = {{"app", "top", top}, {"app", "left", left}};
  KeepMapPlacement();
  std::string map_values[4];
  if (map_placement_) {
    map_values[0] = std::to_string(map_placement_->top());
    map_values[1] = std::to_string(map_placement_->left());
    map_values[2] = std::to_string(map_placement_->width());
    map_values[3] = std::to_string(map_placement_->height());
    entries.push_back({"map", "top", map_values[0]});
    entries.push_back({"map", "left", map_values[1]});
    entries.push_back({"map", "width", map_values[2]});
    entries.push_back({"map", "height", map_values[3]});
  }
  if (!script_.empty() && !HasLineBreak(script_) && !HasLineBreak(script_folder_)) {
    entries.push_back({"map", "script", script_});
    if (!script_folder_.empty()) entries.push_back({"map", "script_folder", script_folder_});
  } else if (script_.empty() && script_removed_) {
    // An empty value reads as no script; the keys stay so that the file changes only in their lines.
    entries.push_back({"map", "script", ""});
    entries.push_back({"map", "script_folder", ""});
  }
  // A line of the file cannot hold a line break: such a name is not stored, and the file stored before stays.
  if (!HasLineBreak(file_name_) && !HasLineBreak(file_folder_)) {
    entries.push_back({"file", "name", file_name_});
    entries.push_back({"file", "path", file_folder_});
  }
  // All values go in one replacement of the file, so that another copy of the program closing at the same moment
  // never leaves its file name with this copy's folder.
  ini.WriteStrings(entries);
}

}  // namespace varnok
