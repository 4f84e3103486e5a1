#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "analysis/analysis_display.h"
#include "analysis/analysis_run.h"
#include "memmap/frm_data.h"

class QCheckBox;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace varnok {

// The main window: the buttons that choose and analyse a file, the map option, and the groups that show
// the chosen file, the analyser status, the S0 header and the summary. It owns the analysis state, the
// kept data blocks and the memory map window, and keeps the window position and the chosen file in the
// settings file from one start to the next.
class Tfrm_GUI : public QWidget, public AnalysisDisplay {
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
  // from the current folder) and starts the analysis; ignored while a run is in progress. A file from the command
  // line or dropped on the window comes this way.
  void OpenFile(const std::string& file);
  // Ticks "Generate graphical memory map" (--map on the command line).
  void TickMapOption();
  // How long a run goes on before its status line shows its progress ("Parsing... 37 %"); 500 ms unless changed.
  void SetProgressDelay(std::chrono::milliseconds delay) { progress_delay_ = delay; }
  // Takes the memory of the kept data blocks from allocate from the next run on.
  void SetBlockAllocator(BlockAllocator allocate, BlockDeallocator deallocate);
  // Whether "Start parsing..." is running; the buttons are ignored and a close waits until it ends.
  bool Running() const { return running_; }
  // The memory map of the last successful run with the map option on, if there is one.
  Tfrm_Data* MapWindow() const { return frm_Data; }
  const AnalysisState& State() const { return state_; }

  // AnalysisDisplay
  void SetField(DisplayField field, std::string_view text) override;
  void SetStatus(std::string_view text) override;
  void SetStatusColour(StatusColour colour) override;
  // Shows how far the run has read, at most every 50 ms once the progress delay has passed, and handles the
  // events pending meanwhile, so the window repaints and answers; false once Escape was pressed.
  bool ShowProgress(std::uint64_t read, std::uint64_t size) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // While a run is in progress, takes Escape pressed in any of the program's windows as the request to cancel it.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void btn_OpenClick();
  // Shows a chosen file (an absolute path in the file system's bytes): its name, its folder and whether it exists.
  void ChooseFile(const std::string& chosen);
  void btn_ParseClick();
  // The analysis of the chosen file and, with the map option on, the memory map; how it ended.
  RunKind AnalyseChosenFile();
  void btn_AboutClick();
  void btn_MapClick();
  void FormClose();
  void LoadSettings();
  void SaveSettings();
  // Shows the name and the folder of the file to read (the file system's bytes) in lbl_Name and mem_Path.
  void ShowFile(std::string name, std::string folder);
  // The input path: the folder that mem_Path shows followed directly by the name that lbl_Name shows, in bytes.
  std::string InputPath() const;
  // Builds the memory map window of a successful run, handles the events queued while the analysis ran, shows
  // the window and fills it from the kept blocks; false when the run was cancelled meanwhile (no window is left).
  bool OpenMapWindow(const RunTotals& totals);
  // The progress of filling the memory map, told as the map window fills; false once Escape was pressed.
  bool FillProgress(std::uint64_t done, std::uint64_t total);
  bool Progress(bool filling, std::uint64_t done, std::uint64_t total);
  // Sets the status line's text (logged to the category "varnok.status", off unless enabled).
  void ShowStatusText(const QString& text);
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
  AnalysisState state_;
  QPointer<Tfrm_Data> frm_Data;
  bool running_ = false;
  bool close_pending_ = false;
  bool closing_ = false;  // FormClose is running (its write error may be on the screen)
  bool closed_ = false;   // FormClose has run: the settings are written and the data freed
  bool cancel_requested_ = false;
  bool map_option_ = false;  // the run's map option: reading and filling then share the progress
  std::chrono::milliseconds progress_delay_{500};
  QElapsedTimer run_clock_;
  qint64 last_progress_ms_ = -1;
  bool filling_reported_ = false;
};

// The open-file dialog "Choose the s-record file to parse:" with its three designed file types and one for the
// other usual S-record extensions.
QString RunOpenFileDialog(QWidget* parent, const QString& preset);

}  // namespace varnok
