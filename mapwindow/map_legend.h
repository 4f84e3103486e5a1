#pragma once

#include <QColor>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace varnok {

// The colours of the map's cells, as the legend names them.
namespace map_colours {
inline const QColor kUnused(0, 255, 0);
inline const QColor kFilled(255, 255, 0);
inline const QColor kStartVector(255, 0, 255);
// The comparison's cells: three colours that readers with any common colour blindness tell apart, unlike the ones above.
inline const QColor kOnlyInA(86, 180, 233);
inline const QColor kOnlyInB(230, 159, 0);
inline const QColor kDifferent(213, 94, 0);
// Filled cells outside every region of the target, and the bands of the regions in the address column, one colour
// per region in turn; from the same colour-blind-safe set.
inline const QColor kOutside(0, 158, 115);
inline const QColor kRegionBands[] = {{0, 114, 178}, {230, 159, 0}, {204, 121, 167}, {86, 180, 233},
                                      {213, 94, 0},  {240, 228, 66}, {0, 0, 0}};
}  // namespace map_colours

// The height of one row of the map window's panels: the legend, the compare and the regions rows.
inline constexpr int kPanelHeight = 27;

// A plain-text label at geometry: the caption and the address read-out of the map window's panel.
QLabel* NewPanelLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text);

// A raised legend panel at geometry: the caption centred on the colour of the cells it names.
QLabel* NewLegendPanel(QWidget* parent, const char* name, const QRect& geometry, const QString& caption,
                       const QColor& colour);

}  // namespace varnok
