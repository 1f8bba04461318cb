// Colours shared by the four text controls (static texts, edit, combo box).
#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

namespace ui {

// Grey body text on a white page: what every text control shows until its
// page says otherwise.
constexpr QRgb kDefaultCtrlTextColour = qRgb(85, 85, 85);
constexpr QRgb kDefaultCtrlBkColour = qRgb(255, 255, 255);

// Puts the text and background colours into the widget's palette under the
// given roles. The background goes into every colour group; the text only
// into the active and inactive ones, so that a disabled control still greys
// its text out the way the platform draws disabled text.
void ApplyCtrlColours(QWidget* widget, const QColor& text, QPalette::ColorRole textRole,
                      const QColor& background, QPalette::ColorRole backgroundRole);

}  // namespace ui
