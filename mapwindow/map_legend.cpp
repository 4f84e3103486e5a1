#include "map_legend.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>

namespace varnok {

QLabel* NewPanelLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(geometry);
  label->setText(text);
  return label;
}

QLabel* NewLegendPanel(QWidget* parent, const char* name, const QRect& geometry, const QString& caption,
                       const QColor& colour) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setTextFormat(Qt::PlainText);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  panel->setAlignment(Qt::AlignCenter);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, colour);
  panel->setPalette(pal);
  panel->setAutoFillBackground(true);
  panel->setGeometry(geometry);
  panel->setText(caption);
  return panel;
}

}  // namespace varnok
