#include "ui/CMyStaticFont.h"

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

CMyStaticFont::CMyStaticFont(QWidget* parent)
    : QLabel(parent), m_crText(ui::kDefaultCtrlTextColour), m_crBk(ui::kDefaultCtrlBkColour) {
  setAutoFillBackground(true);
  ApplyColours();
}

void CMyStaticFont::SetCtrlFont(int height, int width, int weight, const QString& faceName) {
  setFont(ScaledFont(height, width, weight, faceName));
}

void CMyStaticFont::SetCtrlTextColor(const QColor& color) {
  m_crText = color;
  ApplyColours();
  update();
}

void CMyStaticFont::SetCtrlBkColor(const QColor& color) {
  m_crBk = color;
  ApplyColours();
  update();
}

void CMyStaticFont::ApplyColours() {
  ui::ApplyCtrlColours(this, m_crText, QPalette::WindowText, m_crBk, QPalette::Window);
}
