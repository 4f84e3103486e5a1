#include "ui/text.h"

#include <QByteArray>
#include <QTextDocument>

namespace varnok::ui {

QString ToQt(std::string_view text) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQt(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString PlainToolTip(const QString& hint) {
  // A tooltip is read as rich text whenever it looks like markup; such a hint is escaped instead,
  // inside a paragraph that keeps its blanks and does not wrap, as plain text would show it.
  if (!Qt::mightBeRichText(hint)) return hint;
  return QStringLiteral("<p style='white-space:pre'>") + hint.toHtmlEscaped() + QStringLiteral("</p>");
}

}  // namespace varnok::ui
