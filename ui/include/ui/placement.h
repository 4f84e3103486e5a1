#pragma once

#include <QList>
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <functional>

class QEvent;
class QWidget;

namespace varnok::ui {

// What the window manager's frame adds around a top-level window's client area on each side.
QMargins FrameMargins(const QWidget& window);

// The size of window's outer frame. Until the window manager has framed window, owner's frame margins stand for its
// own.
QSize FramedSize(const QWidget& window, const QWidget& owner);

// The outer frame of window centred over owner's outer frame, each half rounded toward zero. Until the window
// manager has framed window, the owner's frame margins stand for its own.
QRect CentredFrame(const QWidget& owner, const QWidget& window);

// frame moved by the least distance that brings it inside area; a frame larger than the area keeps its top-left
// corner in it.
QRect KeptInside(const QRect& frame, const QRect& area);

// The outer frame of a window of `size` beside owner (an outer frame) in area: to its right, else to its left, top
// edges level; else below it, left edges level. Where none of these fits, the one below is kept inside the area.
QRect FrameBeside(const QRect& owner, const QSize& size, const QRect& area);

// The available area of the screen that holds the centre of frame, or of the primary screen when none does.
QRect AvailableAreaAt(const QRect& frame);

// How much of a window's outer frame, from its top, counts as its title bar: what a window manager draws there is
// seldom taller.
inline constexpr int kTitleBarHeight = 24;

// The top-left corner for a window whose outer frame is frame: its own while the title bar (the top kTitleBarHeight
// pixels of the frame) meets one of the areas, else the corner that brings the frame inside the area nearest to the
// title bar (KeptInside). Without areas the frame stays where it is.
QPoint TitleBarOnScreen(const QRect& frame, const QList<QRect>& areas);

// The available area of every screen.
QList<QRect> AvailableAreas();

// Places a top-level window by its outer frame: where place says when Apply is called (before the window is
// shown), and once more when the window is first exposed, since only then does the window manager tell the size
// of the frame it drew around it.
class FramePlacement : public QObject {
 public:
  // Returns the wanted top-left corner of the window's outer frame.
  using Place = std::function<QPoint()>;

  FramePlacement(QWidget& window, Place place);

  void Apply();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& window_;
  Place place_;
  bool pending_ = false;
};

}  // namespace varnok::ui
