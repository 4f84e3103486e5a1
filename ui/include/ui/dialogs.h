#pragma once

#include <QString>
#include <string>

class QWidget;

namespace varnok::ui {

// A modal message box: the application title as caption, the text, one OK button, no icon.
void ShowMessage(QWidget* parent, const QString& text);

// The class library's modal error dialog: caption "Fehler", error icon, one OK button.
void ShowErrorDialog(QWidget* parent, const QString& text);

// "Out of memory!!" in the class library's error dialog.
void ShowOutOfMemory(QWidget* parent);

// The text of the standard exception report: the message, with a "." appended when the message is not
// empty and its last character comes after "." in code order.
QString ExceptionReportText(const std::string& message);

// The standard exception report: the application title as caption, a stop icon, one OK button.
void ShowExceptionReport(QWidget* parent, const std::string& message);

}  // namespace varnok::ui
