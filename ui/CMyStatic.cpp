#include "ui/CMyStatic.h"

#include "ui/TextControlColours.h"

CMyStatic::CMyStatic(QWidget* parent)
    : CTextControl<QLabel>(parent) {
  // Given in points, so it follows the screen's DPI; unlike the fonts a page
  // sets, it does not follow the layout scale.
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(11);
  setFont(font);
  setAutoFillBackground(true);
  ApplyColours();
}

void CMyStatic::ApplyColours() {
  ui::ApplyCtrlColours(this, m_crText, QPalette::WindowText, m_crBk, QPalette::Window);
}
