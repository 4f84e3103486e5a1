#include "ui/fonts.h"

#include <QStringList>

namespace varnok::ui {

namespace {

// The designed height is given in pixels (character height 11 at 96 dots per inch), so the fonts are
// sized in pixels: the layout is in pixels too and must not grow with the screen's logical dpi.
constexpr int kCharacterHeight = 11;

}  // namespace

QFont DesignFont() {
  QFont font;
  // Liberation Sans at 94 % of its width sets the captions as wide as the face the layout was measured
  // with ("Filename:" 45 pixels, "Execution address:" within its 89), so every caption fits its box.
  // The others are fallbacks of similar width when it is not installed.
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial"),
                    QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setStretch(94);
  font.setPixelSize(kCharacterHeight);
  return font;
}

QFont FixedFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Mono"), QStringLiteral("Cousine"), QStringLiteral("Courier New"),
                    QStringLiteral("Nimbus Mono PS"), QStringLiteral("DejaVu Sans Mono")});
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  font.setPixelSize(kCharacterHeight);
  return font;
}

}  // namespace varnok::ui
