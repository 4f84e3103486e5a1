#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace varnok {

namespace ui {
class FramePlacement;
}

// The memo text of the about window for a file version: six lines separated by "\r\n".
std::string AboutText(const std::string& file_version);

// The about window: the program's file version and the contact text, shown modally centred over its owner and kept
// on the screen; Escape closes it.
class Tfrm_About : public QDialog {
  Q_OBJECT

 public:
  // Builds the window over owner (the main window) with the running executable's version.
  explicit Tfrm_About(QWidget* owner);

  // Builds the window over owner with the version of the executable file at executable.
  Tfrm_About(QWidget* owner, const std::string& executable);

  // The memo that fills the client area.
  QPlainTextEdit* const Memo;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  ui::FramePlacement* placement_ = nullptr;  // places the window over its owner when it is shown
};

// The about window while it is shown.
extern Tfrm_About* frm_About;

// What the main window's "About" button does: builds the about window over owner, shows it modally until the
// user closes it, and destroys it.
void btn_AboutClickFor(QWidget* owner);

}  // namespace varnok
