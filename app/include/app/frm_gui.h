#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analysis_run.h"
#include "mapwindow/frm_data.h"
#include "mapwindow/job_slot.h"
#include "mapwindow/run_job.h"

class QCheckBox;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace varnok {

namespace ui {
class BusyCursor;
}

// The main window: the buttons that choose and analyse a file, the map option, and the groups that show
// the chosen file, the analyser status, the S0 header and the summary. It owns the memory map window, and keeps the
// window position and the chosen file in the settings file from one start to the next. "Start parsing..." runs as a
// job on a thread of its own, through the job slot that the map window shares for its reads; the window shows its
// progress and its outcome.
class Tfrm_GUI : public QWidget {
  Q_OBJECT

 public:
  // Runs the open-file dialog over parent with the preset file (empty for none); returns the chosen full
  // path, or an empty text when the user cancels.
  using OpenFileDialog = std::function<QString(QWidget* parent, const QString& preset)>;

  // Builds the window over the running executable's settings file (settings::SettingsLocation).
  Tfrm_GUI();
  // Builds the window over the given settings file.
  explicit Tfrm_GUI(std::string settings_path);
  ~Tfrm_GUI() override;

  // Replaces the open-file dialog that "Choose s-record file" runs.
  void SetOpenFileDialog(OpenFileDialog dialog);
  // Chooses file (the file system's bytes, in any encoding) as the open-file dialog would (a relative path counts
  // from the current folder) and starts the analysis; ignored while the window is busy. A file from the command
  // line or dropped on the window comes this way.
  void OpenFile(const std::string& file);
  // Ticks "Generate graphical memory map" (--map on the command line).
  void TickMapOption();
  // Shows the regions of the linker script at path over every map from the next on, and keeps it in the settings
  // with the current folder, from which its INCLUDEs are looked up wherever the window starts later (--memory on the
  // command line).
  void SetRegionsScript(const std::string& path);
  // Opens `file` with its map and compares the map with the image of `other` (--diff on the command line).
  void OpenFileAndCompare(const std::string& file, const std::string& other);
  // How long a phase of a run (the reading, the map's fill) goes on before the status line shows its progress
  // ("Parsing... 37 %"); 500 ms unless changed.
  void SetProgressDelay(std::chrono::milliseconds delay) { progress_delay_ = delay; }
  // Takes the memory in which the map filler gathers the records from allocate from the next run on.
  void SetBlockAllocator(BlockAllocator allocate, BlockDeallocator deallocate);
  // Replaces what makes the thread of a run (StartThread).
  void SetThreadStart(ThreadStart start) { slot_->SetThreadStart(std::move(start)); }
  // Whether a run, a read of the map window or a save of the map goes on: "Choose s-record file", "Start
  // parsing...", the map option and "Show!" are greyed then, drops are refused, and a close stops a run or a read
  // first or waits for the save's end.
  bool Busy() const { return busy_; }
  // The memory map of the last successful run with the map option on, if there is one.
  Tfrm_Data* MapWindow() const { return frm_Data; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Escape while a run or a read of the map window goes on asks it to stop.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void btn_OpenClick();
  // Shows a chosen file (an absolute path in the file system's bytes): its name, its folder and whether it exists.
  void ChooseFile(const std::string& chosen);
  void btn_ParseClick();
  // Greys the commands that would start a run or change its map, or makes them usable again.
  void SetBusy(bool busy);
  // The job's progress: the status line shows the phase's percentage once the phase has run the progress delay.
  void RunProgressed(RunJob::Phase phase, quint64 done, quint64 total);
  // A valid file's summary is final: it shows while the map fills.
  void RunFillStarted(const RunResult& reading);
  // Shows how the run ended, and closes the window when a close came during the run.
  void RunFinished(const RunOutcome& outcome);
  // Shows a result's status in its colour and every result field as the result gives it.
  void ShowResult(const RunResult& result);
  // Empties the S0 and summary fields.
  void ClearResultFields();
  // Shows the warning sign beside the status line with the warnings' texts, or hides it when there are none.
  void ShowWarnings(const std::vector<std::string>& warnings);
  // Lists the warnings in a message box.
  void btn_WarningsClick();
  void btn_AboutClick();
  void btn_MapClick();
  void FormClose();
  // Saves the settings, reporting a write error, the first time it is called.
  void WriteSettingsOnce();
  void LoadSettings();
  void SaveSettings();
  // Keeps where the map window is before it goes, so that the next one opens there.
  void KeepMapPlacement();
  // Shows the name and the folder of the file to read (the file system's bytes) in lbl_Name and mem_Path.
  void ShowFile(std::string name, std::string folder);
  // The input path: the folder that mem_Path shows followed directly by the name that lbl_Name shows, in bytes.
  std::string InputPath() const;
  // The path made absolute from the current folder.
  static std::string AbsolutePathOf(const std::string& path);
  // The job slot became busy or idle: the commands follow, and a close that came meanwhile goes on once it is idle.
  void SlotBusyChanged(bool busy);
  // Shows the filled map of a run in a new map window.
  void OpenMapWindow(MapGrid&& map, const RunResult& result, const std::vector<std::string>& warnings);
  // Sets the status line's text (logged to the category "varnok.status", off unless enabled).
  void ShowStatusText(const QString& text);
  void SetStatusColour(StatusColour colour);
  void SetField(DisplayField field, const std::string& text);
  QLabel* FieldLabel(DisplayField field) const;

  QPushButton* const btn_Open;
  QPushButton* const btn_Parse;
  QPushButton* const btn_About;
  QCheckBox* const chk_GenMap;
  QPushButton* const btn_Map;
  QGroupBox* const grp_File;
  QGroupBox* const grp_Status;
  QGroupBox* const grp_S0;
  QGroupBox* const grp_Summary;
  QLabel* const lbl_Name;
  QPlainTextEdit* const mem_Path;
  QLabel* const lbl_Stat;
  QToolButton* const btn_Warnings;  // the warning sign of a valid file with warnings
  QLabel* const lbl_Module;
  QLabel* const lbl_Version;
  QPlainTextEdit* const mem_Description;
  QLabel* const lbl_RecordLines;
  QLabel* const lbl_TotalDatabytes;
  QLabel* const lbl_Highest;
  QLabel* const lbl_Lowest;
  QLabel* const lbl_Exec;

  std::string settings_path_;
  OpenFileDialog open_file_dialog_;
  QString last_chosen_;  // preset of the next open-file dialog: the file chosen last in this run
  // The bytes of what lbl_Name and mem_Path show: a name that is not valid UTF-8 shows with U+FFFD, but these open
  // the file and are stored.
  std::string file_name_;
  std::string file_folder_;
  std::vector<std::string> warnings_;  // of the last run, as btn_Warnings lists them
  BlockAllocator allocate_ = &std::malloc;
  BlockDeallocator deallocate_ = &std::free;
  QPointer<Tfrm_Data> frm_Data;
  bool busy_ = false;
  QPointer<QWidget> focus_before_busy_;  // the control that had the keyboard focus when the window became busy
  bool close_pending_ = false;  // a close came during a run or a save: the window closes once it is over
  bool settings_written_ = false;  // the close has saved the settings (or reported why it could not)
  bool closing_ = false;  // FormClose is running (its write error may be on the screen)
  bool closed_ = false;   // FormClose has run: the settings are written and the map window is gone
  std::optional<QRect> map_placement_;  // where the map window was left (settings section [map])
  std::string script_;  // the linker script whose regions every map shows ([map] script); empty for none
  std::string script_folder_;  // the current folder when it was chosen ([map] script_folder); empty for none
  bool script_removed_ = false;  // "No regions" took the script off: the settings forget it too
  std::chrono::milliseconds progress_delay_{500};
  QElapsedTimer phase_clock_;  // since the current phase began
  std::unique_ptr<ui::BusyCursor> wait_cursor_;  // while a run goes on
  const std::unique_ptr<JobSlot> slot_;         // goes before the map window, which may share it
  std::optional<std::string> compare_next_;     // what the map of the run that goes on is compared with
};

// The open-file dialog "Choose the s-record file to parse:" with its three designed file types and one for the
// other usual S-record extensions.
QString RunOpenFileDialog(QWidget* parent, const QString& preset);

}  // namespace varnok
