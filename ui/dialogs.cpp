#include "ui/dialogs.h"

#include <QMessageBox>

#include "ui/platform.h"
#include "ui/text.h"

namespace varnok::ui {

namespace {

// Texts in these boxes can carry file names and paths, so they are never read as rich text.
void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::NoIcon, ApplicationTitle(), text);
}

void ShowErrorDialog(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Critical, QStringLiteral("Fehler"), text);
}

void ShowOutOfMemory(QWidget* parent) { ShowErrorDialog(parent, QStringLiteral("Out of memory!!")); }

QString ExceptionReportText(const std::string& message) {
  std::string text = message;
  // The comparison is on the 8-bit code, so characters above 127 also get the full stop.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
  return ToQt(text);
}

void ShowExceptionReport(QWidget* parent, const std::string& message) {
  ShowBox(parent, QMessageBox::Critical, ApplicationTitle(), ExceptionReportText(message));
}

}  // namespace varnok::ui
