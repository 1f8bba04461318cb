#include "ui/CMyStatic.h"

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

CMyStatic::CMyStatic(QWidget* parent)
    : QLabel(parent), m_crText(ui::kDefaultCtrlTextColour), m_crBk(ui::kDefaultCtrlBkColour) {
  // Given in points, so it follows the screen's DPI; unlike the fonts a page
  // sets, it does not follow the layout scale.
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(11);
  setFont(font);
  setAutoFillBackground(true);
  ApplyColours();
}

void CMyStatic::SetCtrlFont(int height, int width, int weight, const QString& faceName) {
  setFont(ScaledFont(height, width, weight, faceName));
}

void CMyStatic::SetCtrlTextColor(const QColor& color) {
  m_crText = color;
  ApplyColours();
  update();
}

void CMyStatic::SetCtrlBkColor(const QColor& color) {
  m_crBk = color;
  ApplyColours();
  update();
}

void CMyStatic::ApplyColours() {
  ui::ApplyCtrlColours(this, m_crText, QPalette::WindowText, m_crBk, QPalette::Window);
}
