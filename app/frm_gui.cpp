#include "app/frm_gui.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStyle>
#include <QTextOption>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <sys/stat.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

#include "about/frm_about.h"
#include "analysis/progress_percent.h"
#include "analysis/run_summary.h"
#include "app/application.h"
#include "app/file_name.h"
#include "mapwindow/frm_data.h"
#include "settings/ini_file.h"
#include "settings/paths.h"
#include "ui/dialogs.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/text.h"

namespace varnok {

namespace {

constexpr int kClientWidth = 269;
constexpr int kClientHeight = 419;
constexpr int kDesignedLeft = 495;
constexpr int kDesignedTop = 296;

Q_LOGGING_CATEGORY(lcStatus, "varnok.status", QtWarningMsg)

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& box, const char* text) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(box);
  button->setAutoDefault(false);
  return button;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QRect& box, const char* caption) {
  auto* group = new QGroupBox(QString::fromLatin1(caption), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(box);
  return group;
}

// Labels never read their text as markup: file names and header fields come from the user's files.
QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& box, const char* text, Qt::Alignment alignment) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  if (name != nullptr) label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(alignment | Qt::AlignTop);
  label->setGeometry(box);
  return label;
}

// A caption label sized to its text that keeps its designed right edge.
QLabel* MakeAutoSizeCaption(QWidget* parent, const QRect& box, const char* text) {
  QLabel* label = MakeLabel(parent, nullptr, box, text, Qt::AlignRight);
  const int width = label->fontMetrics().horizontalAdvance(label->text());
  label->setGeometry(box.right() + 1 - width, box.top(), width, box.height());
  return label;
}

// A borderless read-only memo on its group's background. Long words such as paths without blanks
// break anywhere, so that the whole text stays inside the memo.
QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, const QRect& box) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setObjectName(QString::fromLatin1(name));
  memo->setGeometry(box);
  memo->setReadOnly(true);
  memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  memo->setFocusPolicy(Qt::StrongFocus);
  memo->setFrameShape(QFrame::NoFrame);
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->document()->setDocumentMargin(1);
  memo->viewport()->setAutoFillBackground(false);
  memo->setAutoFillBackground(false);
  memo->setBackgroundVisible(false);
  return memo;
}

// The local file a drag brings (the first of several) in the file system's bytes, or an empty text.
std::string DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) return {};
  const QUrl& url = data->urls().first();
  return url.isLocalFile() ? LocalFileBytes(url) : std::string();
}

// The open-file dialog for S-record files over parent under title, preset to a file; the chosen path, or empty.
QString RunSrecFileDialog(QWidget* parent, const QString& preset, const QString& title) {
  QFileDialog dialog(parent, title);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The other usual extensions come before "All files", which stays the last entry.
  dialog.setNameFilters({QStringLiteral("Motorola S-Record (*.s)"), QStringLiteral("Motorola S-Record (*.mot)"),
                         QStringLiteral("S-Record files (*.s19 *.s28 *.s37 *.srec *.sx *.mhx)"),
                         QStringLiteral("All files (*)")});
  dialog.selectNameFilter(QStringLiteral("Motorola S-Record (*.s)"));
  dialog.setSizeGripEnabled(true);
  if (!preset.isEmpty()) dialog.selectFile(preset);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

}  // namespace

QString RunOpenFileDialog(QWidget* parent, const QString& preset) {
  return RunSrecFileDialog(parent, preset, QStringLiteral("Choose the s-record file to parse:"));
}

Tfrm_GUI::Tfrm_GUI()
    : Tfrm_GUI(settings::SettingsLocation(settings::ExecutablePath(), settings::CurrentEnvironment())) {}

Tfrm_GUI::Tfrm_GUI(std::string settings_path)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      btn_Open(MakeButton(this, "btn_Open", {8, 11, 105, 25}, "Choose s-record file")),
      btn_Parse(MakeButton(this, "btn_Parse", {120, 11, 81, 25}, "Start parsing...")),
      btn_About(MakeButton(this, "btn_About", {208, 11, 57, 25}, "About")),
      chk_GenMap(new QCheckBox(QStringLiteral("Generate graphical memory map"), this)),
      btn_Map(MakeButton(this, "btn_Map", {208, 49, 57, 20}, "Show!")),
      grp_File(MakeGroup(this, "grp_File", {8, 77, 257, 86}, "Choosen file:")),
      grp_Status(MakeGroup(this, "grp_Status", {8, 166, 257, 41}, "Analyser status:")),
      grp_S0(MakeGroup(this, "grp_S0", {8, 209, 257, 88}, "Information extracted from S0-Record:")),
      grp_Summary(MakeGroup(this, "grp_Summary", {8, 299, 257, 113}, "Information summary:")),
      lbl_Name(MakeLabel(grp_File, "lbl_Name", {64, 24, 185, 13}, "No file selected yet...", Qt::AlignLeft)),
      mem_Path(MakeMemo(grp_File, "mem_Path", {64, 40, 185, 41})),
      lbl_Stat(MakeLabel(grp_Status, "lbl_Stat", {8, 18, 241, 13}, "...idle...", Qt::AlignHCenter)),
      btn_Warnings(new QToolButton(grp_Status)),
      lbl_Module(MakeLabel(grp_S0, "lbl_Module", {104, 24, 145, 13}, "", Qt::AlignLeft)),
      lbl_Version(MakeLabel(grp_S0, "lbl_Version", {104, 40, 145, 13}, "", Qt::AlignLeft)),
      mem_Description(MakeMemo(grp_S0, "mem_Description", {104, 56, 145, 29})),
      lbl_RecordLines(MakeLabel(grp_Summary, "lbl_RecordLines", {104, 24, 145, 13}, "", Qt::AlignLeft)),
      lbl_TotalDatabytes(MakeLabel(grp_Summary, "lbl_TotalDatabytes", {104, 40, 145, 13}, "", Qt::AlignLeft)),
      lbl_Highest(MakeLabel(grp_Summary, "lbl_Highest", {104, 56, 145, 13}, "", Qt::AlignLeft)),
      lbl_Lowest(MakeLabel(grp_Summary, "lbl_Lowest", {104, 72, 145, 13}, "", Qt::AlignLeft)),
      lbl_Exec(MakeLabel(grp_Summary, "lbl_Exec", {104, 88, 145, 13}, "", Qt::AlignLeft)),
      settings_path_(std::move(settings_path)),
      open_file_dialog_(RunOpenFileDialog),
      slot_(std::make_unique<JobSlot>()) {
  setObjectName(QStringLiteral("frm_GUI"));
  setWindowTitle(QStringLiteral("Varnok"));
  setAcceptDrops(true);
  // Every control inherits the window's font, so it is set before the captions are measured.
  setFont(ui::DesignFont());
  setFixedSize(kClientWidth, kClientHeight);
  move(kDesignedLeft, kDesignedTop);

  // The values of a run can be selected and copied with the mouse; a click gives no tab focus, so that the designed
  // focus order stays.
  for (DisplayField field : kAllDisplayFields) {
    if (QLabel* label = FieldLabel(field)) label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }

  chk_GenMap->setObjectName(QStringLiteral("chk_GenMap"));
  chk_GenMap->setGeometry(8, 51, 185, 17);

  MakeAutoSizeCaption(grp_File, {12, 24, 45, 13}, "Filename:");
  MakeAutoSizeCaption(grp_File, {32, 40, 25, 13}, "Path:");
  MakeLabel(grp_S0, nullptr, {8, 24, 89, 13}, "Module name:", Qt::AlignRight);
  MakeLabel(grp_S0, nullptr, {8, 40, 89, 13}, "Version.Revision:", Qt::AlignRight);
  MakeLabel(grp_S0, nullptr, {8, 56, 89, 13}, "Description:", Qt::AlignRight);
  MakeLabel(grp_Summary, nullptr, {8, 24, 89, 13}, "Total records:", Qt::AlignRight);
  MakeLabel(grp_Summary, nullptr, {8, 40, 89, 13}, "Total databytes:", Qt::AlignRight);
  MakeLabel(grp_Summary, nullptr, {8, 56, 89, 13}, "Highest address:", Qt::AlignRight);
  MakeLabel(grp_Summary, nullptr, {8, 72, 89, 13}, "Lowest address:", Qt::AlignRight);
  MakeLabel(grp_Summary, nullptr, {8, 88, 89, 13}, "Execution address:", Qt::AlignRight);

  setTabOrder(btn_Open, mem_Description);
  setTabOrder(mem_Description, mem_Path);
  setTabOrder(mem_Path, btn_Parse);
  setTabOrder(btn_Parse, btn_About);
  setTabOrder(btn_About, chk_GenMap);
  setTabOrder(chk_GenMap, btn_Map);

  connect(btn_Open, &QPushButton::clicked, this, &Tfrm_GUI::btn_OpenClick);
  connect(btn_Parse, &QPushButton::clicked, this, &Tfrm_GUI::btn_ParseClick);
  connect(btn_About, &QPushButton::clicked, this, &Tfrm_GUI::btn_AboutClick);
  connect(btn_Map, &QPushButton::clicked, this, &Tfrm_GUI::btn_MapClick);

  // The sign sits at the status line's right end, clear of the centred text; it takes no focus, so that the
  // designed focus order stays.
  btn_Warnings->setObjectName(QStringLiteral("btn_Warnings"));
  btn_Warnings->setGeometry(233, 14, 18, 18);
  btn_Warnings->setAutoRaise(true);
  btn_Warnings->setFocusPolicy(Qt::NoFocus);
  btn_Warnings->setIconSize(QSize(14, 14));
  btn_Warnings->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, btn_Warnings));
  btn_Warnings->hide();
  connect(btn_Warnings, &QToolButton::clicked, this, &Tfrm_GUI::btn_WarningsClick);
  connect(slot_.get(), &JobSlot::busyChanged, this, &Tfrm_GUI::SlotBusyChanged);
  // A job that starts after a close was asked for (the regions of a map that came in the same moment) stops at once.
  connect(slot_.get(), &JobSlot::started, this, [this] {
    if (close_pending_) slot_->Cancel();
  });

  LoadSettings();
}

Tfrm_GUI::~Tfrm_GUI() = default;

void Tfrm_GUI::SetOpenFileDialog(OpenFileDialog dialog) { open_file_dialog_ = std::move(dialog); }

void Tfrm_GUI::SetBlockAllocator(BlockAllocator allocate, BlockDeallocator deallocate) {
  allocate_ = allocate;
  deallocate_ = deallocate;
}

void Tfrm_GUI::btn_OpenClick() {
  const QString chosen = open_file_dialog_(this, last_chosen_);
  if (chosen.isEmpty()) return;
  ChooseFile(PathBytes(chosen));
}

void Tfrm_GUI::ChooseFile(const std::string& chosen) {
  last_chosen_ = ShownName(chosen);
  // The folder keeps its trailing "/", so a file in the root folder gives "/" and not "//".
  const std::size_t slash = chosen.rfind('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  std::string folder = chosen.substr(0, name_start);
  if (!folder.ends_with('/')) folder += '/';
  ShowFile(chosen.substr(name_start), folder);
  // The fields and the map of the last run would read as the new file's.
  KeepMapPlacement();
  delete frm_Data;
  ClearResultFields();
  ShowWarnings({});
  lbl_Name->setToolTip(ui::PlainToolTip(lbl_Name->text()));
  mem_Path->setToolTip(ui::PlainToolTip(mem_Path->toPlainText()));
  struct stat info {};
  if (::stat(chosen.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    ShowStatusText(QStringLiteral("Valid file. Click \"") + btn_Parse->text() + QStringLiteral("\""));
  } else {
    ShowStatusText(QStringLiteral("File selected does not exist!"));
  }
}

void Tfrm_GUI::TickMapOption() { chk_GenMap->setChecked(true); }

std::string Tfrm_GUI::AbsolutePathOf(const std::string& path) { return AbsolutePath(path, CurrentFolder()); }

void Tfrm_GUI::OpenFileAndCompare(const std::string& file, const std::string& other) {
  if (busy_) return;
  TickMapOption();
  compare_next_ = AbsolutePath(other, CurrentFolder());
  OpenFile(file);
}

void Tfrm_GUI::SetRegionsScript(const std::string& path) {
  script_ = AbsolutePathOf(path);
  script_folder_ = CurrentFolder();
  script_removed_ = false;
}

void Tfrm_GUI::SlotBusyChanged(bool busy) {
  SetBusy(busy);
  if (busy || !close_pending_) return;
  close_pending_ = false;
  close();
}

void Tfrm_GUI::OpenFile(const std::string& file) {
  // The command line and a drop come here without the greyed buttons.
  if (busy_) return;
  // The dialog hands over a clean absolute path; a path from outside becomes one.
  ChooseFile(AbsolutePath(file, CurrentFolder()));
  btn_ParseClick();
}

void Tfrm_GUI::btn_ParseClick() {
  RunRequest request;
  request.path = InputPath();
  request.regular_only = true;
  request.parallel.threads = UsableCores();
  KeepMapPlacement();
  delete frm_Data;
  ClearResultFields();
  ShowWarnings({});
  SetStatusColour(StatusColour::Black);
  auto job = std::make_unique<RunJob>(std::move(request), chk_GenMap->isChecked(), allocate_, deallocate_);
  connect(job.get(), &RunJob::progressed, this, &Tfrm_GUI::RunProgressed);
  connect(job.get(), &RunJob::fillStarted, this, &Tfrm_GUI::RunFillStarted);
  try {
    // The commands that start a run are greyed while a job goes on; a run that cannot start is dropped.
    if (!slot_->Start(std::move(job), &RunJob::finished, this,
                      std::function<void(RunOutcome)>([this](RunOutcome outcome) { RunFinished(outcome); }))) {
      return;
    }
  } catch (const std::system_error&) {
    // A thread that cannot be made is a resource that ran out, told as memory is; the run never began.
    ShowResult(RunResult{RunKind::OutOfMemory, 0, {}, {}, {}});
    ReportOutOfMemory(this);
    return;
  }
  wait_cursor_ = std::make_unique<ui::BusyCursor>();
  phase_clock_.start();
}

void Tfrm_GUI::SetBusy(bool busy) {
  busy_ = busy;
  const std::initializer_list<QWidget*> commands = {btn_Open, btn_Parse, chk_GenMap, btn_Map};
  // A greyed command hands the keyboard focus on to the next control; it takes it back once the window is idle. A
  // window that has not been active yet has no focus, which its activation gives to "Choose s-record file".
  if (busy) focus_before_busy_ = focusWidget() != nullptr ? focusWidget() : btn_Open;
  // Greyed rather than ignored, so that a user sees why a click does nothing; "About" stays, as the run has a thread
  // of its own.
  for (QWidget* command : commands) command->setEnabled(!busy);
  if (!busy && std::find(commands.begin(), commands.end(), focus_before_busy_) != commands.end()) {
    focus_before_busy_->setFocus();
  }
}

void Tfrm_GUI::RunProgressed(RunJob::Phase phase, quint64 done, quint64 total) {
  if (phase_clock_.elapsed() < progress_delay_.count()) return;
  const QString text = (phase == RunJob::Phase::Reading ? QStringLiteral("Parsing... %1 %")
                                                        : QStringLiteral("Building memory map... %1 %"))
                           .arg(ProgressPercent(done, total));
  if (lbl_Stat->text() != text) ShowStatusText(text);
}

void Tfrm_GUI::RunFillStarted(const RunResult& reading) {
  for (DisplayField field : kAllDisplayFields) SetField(field, FieldText(reading, field));
  phase_clock_.start();
}

void Tfrm_GUI::RunFinished(const RunOutcome& outcome) {
  bool out_of_memory = outcome.result.kind == RunKind::OutOfMemory;
  try {
    const std::vector<std::string> warnings = WarningTexts(outcome.warnings);
    if (outcome.map_cancelled) {
      SetStatusColour(StatusColour::Maroon);
      ShowStatusText(QStringLiteral("Memory map cancelled"));
    } else if (!outcome.failure) {
      if (outcome.map != nullptr) OpenMapWindow(std::move(*outcome.map), outcome.result, warnings);
      ShowResult(outcome.result);
    }
    if (!outcome.failure) ShowWarnings(warnings);
  } catch (const std::bad_alloc&) {
    // Memory ran out outside the run (the map window, a text): the window and the map go first, so that the dialog
    // has memory to show.
    delete frm_Data;
    if (outcome.map != nullptr) *outcome.map = MapGrid();
    ShowResult(RunResult{RunKind::OutOfMemory, 0, {}, outcome.result.header, {}});
    out_of_memory = true;
  }
  wait_cursor_.reset();
  if (outcome.failure) ui::ShowExceptionReport(this, *outcome.failure);
  if (out_of_memory) ReportOutOfMemory(this);
  // The comparison that the command line asks for follows once this run is over.
  if (std::optional<std::string> other = std::exchange(compare_next_, std::nullopt); other && frm_Data) {
    frm_Data->CompareWith(*other);
  }
}

void Tfrm_GUI::OpenMapWindow(MapGrid&& map, const RunResult& result, const std::vector<std::string>& warnings) {
  auto window = std::make_unique<Tfrm_Data>(this, ui::FromQt(lbl_Name->text()));
  window->SetMap(std::move(map));
  if (map_placement_) window->SetPlacement(*map_placement_);
  // The saved map reads as varnok-scan --map prints it.
  window->SetReportHead(SummaryText(result) + WarningLines(warnings) + '\n');
  window->SetWarnings(warnings);
  window->SetExecutionAddress(result.totals.exec);
  window->SetCompareFileDialog([](QWidget* parent) {
    return PathBytes(RunSrecFileDialog(parent, QString(), QStringLiteral("Choose the s-record file to compare with:")));
  });
  window->SetJobSlot(slot_.get());
  window->SetBlockAllocator(allocate_, deallocate_);
  // The map window read the script from the current folder, which its INCLUDEs keep from now on.
  connect(window.get(), &Tfrm_Data::scriptChosen, this, [this](const QString& path) {
    script_ = PathBytes(path);
    script_folder_ = CurrentFolder();
    script_removed_ = false;
  });
  connect(window.get(), &Tfrm_Data::regionsRemoved, this, [this] {
    script_.clear();
    script_folder_.clear();
    script_removed_ = true;
  });
  // A save of the map keeps the commands greyed as a run does; a close that came during it follows its end.
  connect(window.get(), &Tfrm_Data::savingChanged, this, [this](bool saving) {
    SetBusy(saving);
    if (saving || !close_pending_) return;
    close_pending_ = false;
    // The close deletes the map window, which is still inside the call that told of the save's end.
    QTimer::singleShot(0, this, [this] { close(); });
  });
  frm_Data = window.release();
  frm_Data->ShowMap();
  // The script chosen last is read again for every new map; one that cannot be read now is told over the map.
  if (!script_.empty()) frm_Data->ReadRegions(script_, script_folder_);
  // A dialog opened while the run went on ("About") holds every window modal, so it stays in front of the new map.
  if (QWidget* modal = QApplication::activeModalWidget()) modal->raise();
}

void Tfrm_GUI::ShowResult(const RunResult& result) {
  // A reading cut short tells nothing whole of the file, so its S0 texts go with its counts.
  if (result.kind == RunKind::Cancelled) {
    ClearResultFields();
  } else {
    for (DisplayField field : kAllDisplayFields) SetField(field, FieldText(result, field));
  }
  SetStatusColour(StatusColourOf(result));
  ShowStatusText(ui::ToQt(StatusText(result)));
}

void Tfrm_GUI::ClearResultFields() {
  for (DisplayField field : kAllDisplayFields) SetField(field, {});
}

void Tfrm_GUI::ShowWarnings(const std::vector<std::string>& warnings) {
  warnings_ = warnings;
  std::string lines = WarningLines(warnings);
  if (!lines.empty()) lines.pop_back();
  btn_Warnings->setToolTip(ui::PlainToolTip(ui::ToQt(lines)));
  btn_Warnings->setVisible(!warnings.empty());
}

void Tfrm_GUI::btn_WarningsClick() {
  std::string lines = WarningLines(warnings_);
  if (!lines.empty()) lines.pop_back();
  ui::ShowMessage(this, ui::ToQt(lines));
}

void Tfrm_GUI::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && slot_->Busy()) {
    slot_->Cancel();
    return;
  }
  QWidget::keyPressEvent(event);
}

void Tfrm_GUI::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy_ && !DroppedFile(event->mimeData()).empty()) event->acceptProposedAction();
}

void Tfrm_GUI::dropEvent(QDropEvent* event) {
  const std::string file = DroppedFile(event->mimeData());
  if (file.empty()) return;
  event->acceptProposedAction();
  // The run starts once the drop is over, so that the program that dragged the file is not kept waiting.
  QTimer::singleShot(0, this, [this, file] { OpenFile(file); });
}

void Tfrm_GUI::btn_AboutClick() { btn_AboutClickFor(this); }

void Tfrm_GUI::btn_MapClick() {
  if (frm_Data) {
    frm_Data->ShowMap();
  } else {
    ui::ShowMessage(this, QStringLiteral("No data available. Start parsing with memory map option enabled!"));
  }
}

void Tfrm_GUI::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (slot_->Busy()) {
    // The run or the read stops at its next progress report or file; its end closes the window.
    close_pending_ = true;
    slot_->Cancel();
    return;
  }
  // A close asked for while the write error of the first one is on the screen waits for that one to finish.
  if (closing_) return;
  if (frm_Data && frm_Data->Saving()) {
    // The file the user asked for is written to its end, which closes the window without telling of it. The
    // settings go now, so that a kill while the disk is busy loses nothing.
    if (!close_pending_) {
      close_pending_ = true;
      frm_Data->QuietSaveEnd();
      const QScopedValueRollback<bool> guard(closing_, true);
      WriteSettingsOnce();
    }
    return;
  }
  if (!closed_) {
    const QScopedValueRollback<bool> guard(closing_, true);
    FormClose();
    closed_ = true;
  }
  event->accept();
}

void Tfrm_GUI::WriteSettingsOnce() {
  if (settings_written_) return;
  settings_written_ = true;
  // A window that cannot be closed would be worse than settings that are not kept: the write error is reported once
  // and the close goes on.
  try {
    SaveSettings();
  } catch (const settings::EIniFileException& error) {
    ui::ShowExceptionReport(this, error.what());
  }
}

void Tfrm_GUI::FormClose() {
  WriteSettingsOnce();
  // The memory map is a window of its own; it goes with its owner so that the program ends, and stops a save first.
  delete frm_Data;
}

void Tfrm_GUI::ShowFile(std::string name, std::string folder) {
  lbl_Name->setText(ShownName(name));
  mem_Path->setPlainText(ShownName(folder));
  file_name_ = std::move(name);
  file_folder_ = std::move(folder);
}

void Tfrm_GUI::KeepMapPlacement() {
  if (!frm_Data) return;
  if (const std::optional<QRect> placement = frm_Data->Placement()) map_placement_ = placement;
}

std::string Tfrm_GUI::InputPath() const { return file_folder_ + file_name_; }

QLabel* Tfrm_GUI::FieldLabel(DisplayField field) const {
  switch (field) {
    case DisplayField::Module: return lbl_Module;
    case DisplayField::Version: return lbl_Version;
    case DisplayField::RecordLines: return lbl_RecordLines;
    case DisplayField::TotalDatabytes: return lbl_TotalDatabytes;
    case DisplayField::Highest: return lbl_Highest;
    case DisplayField::Lowest: return lbl_Lowest;
    case DisplayField::Exec: return lbl_Exec;
    case DisplayField::Description: break;
  }
  return nullptr;
}

void Tfrm_GUI::SetField(DisplayField field, const std::string& text) {
  if (field == DisplayField::Description) {
    mem_Description->setPlainText(ui::ToQt(text));
  } else {
    FieldLabel(field)->setText(ui::ToQt(text));
  }
}

void Tfrm_GUI::ShowStatusText(const QString& text) {
  lbl_Stat->setText(text);
  qCInfo(lcStatus).noquote() << text;
}

void Tfrm_GUI::SetStatusColour(StatusColour colour) {
  QPalette palette = lbl_Stat->palette();
  palette.setColor(QPalette::WindowText, colour == StatusColour::Maroon ? QColor(128, 0, 0) : QColor(0, 0, 0));
  lbl_Stat->setPalette(palette);
}


}  // namespace varnok
