#include "ui/placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace varnok::ui {

QMargins FrameMargins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect client = window.geometry();
  return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
          frame.bottom() - client.bottom()};
}

QSize FramedSize(const QWidget& window, const QWidget& owner) {
  QMargins margins = FrameMargins(window);
  if (margins.isNull()) margins = FrameMargins(owner);
  return window.size().grownBy(margins);
}

QRect CentredFrame(const QWidget& owner, const QWidget& window) {
  const QSize size = FramedSize(window, owner);
  const QRect outer = owner.frameGeometry();
  return {QPoint(outer.x() + (outer.width() - size.width()) / 2, outer.y() + (outer.height() - size.height()) / 2),
          size};
}

QRect KeptInside(const QRect& frame, const QRect& area) {
  // The right and bottom edges are pulled in first, so that a frame larger than the area ends at its top left.
  const int x = std::max(std::min(frame.x(), area.x() + area.width() - frame.width()), area.x());
  const int y = std::max(std::min(frame.y(), area.y() + area.height() - frame.height()), area.y());
  return {QPoint(x, y), frame.size()};
}

QRect FrameBeside(const QRect& owner, const QSize& size, const QRect& area) {
  const QPoint right(owner.right() + 1, owner.top());
  const QPoint left(owner.left() - size.width(), owner.top());
  for (const QPoint corner : {right, left}) {
    if (area.contains(QRect(corner, size))) return {corner, size};
  }
  return KeptInside(QRect(QPoint(owner.left(), owner.bottom() + 1), size), area);
}

QRect AvailableAreaAt(const QRect& frame) {
  const QScreen* screen = QGuiApplication::screenAt(frame.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : frame;
}

QPoint TitleBarOnScreen(const QRect& frame, const QList<QRect>& areas) {
  const QRect title(frame.topLeft(), QSize(frame.width(), std::min(frame.height(), kTitleBarHeight)));
  const QRect* nearest = nullptr;
  qint64 nearest_distance = 0;
  for (const QRect& area : areas) {
    if (area.intersects(title)) return frame.topLeft();
    // The gaps between the title bar and the area, across and down; zero where they overlap.
    const qint64 dx = std::max({0, area.left() - title.right(), title.left() - area.right()});
    const qint64 dy = std::max({0, area.top() - title.bottom(), title.top() - area.bottom()});
    const qint64 distance = dx * dx + dy * dy;
    if (nearest == nullptr || distance < nearest_distance) {
      nearest = &area;
      nearest_distance = distance;
    }
  }
  return nearest == nullptr ? frame.topLeft() : KeptInside(frame, *nearest).topLeft();
}

QList<QRect> AvailableAreas() {
  QList<QRect> areas;
  for (const QScreen* screen : QGuiApplication::screens()) areas.push_back(screen->availableGeometry());
  return areas;
}

FramePlacement::FramePlacement(QWidget& window, Place place)
    : QObject(&window), window_(window), place_(std::move(place)) {}

void FramePlacement::Apply() {
  window_.move(place_());
  if (pending_) return;
  pending_ = true;
  // The native window exists from here on, so its exposure can be watched.
  window_.winId();
  window_.windowHandle()->installEventFilter(this);
}

bool FramePlacement::eventFilter(QObject* watched, QEvent* event) {
  if (pending_ && event->type() == QEvent::Expose && window_.windowHandle()->isExposed()) {
    pending_ = false;
    watched->removeEventFilter(this);
    const QPoint wanted = place_();
    if (wanted != window_.frameGeometry().topLeft()) window_.move(wanted);
  }
  return false;
}

}  // namespace varnok::ui
