#include "ui/CMyEdit.h"

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

CMyEdit::CMyEdit(QWidget* parent)
    : QLineEdit(parent), m_crText(ui::kDefaultCtrlTextColour), m_crBk(ui::kDefaultCtrlBkColour) {
  ApplyColours();
}

void CMyEdit::SetCtrlFont(int height, int width, int weight, const QString& faceName) {
  setFont(ScaledFont(height, width, weight, faceName));
}

void CMyEdit::SetCtrlTextColor(const QColor& color) {
  m_crText = color;
  ApplyColours();
  update();
}

void CMyEdit::SetCtrlBkColor(const QColor& color) {
  m_crBk = color;
  ApplyColours();
  update();
}

void CMyEdit::ApplyColours() {
  // A line edit paints its field with Base and its text with Text.
  ui::ApplyCtrlColours(this, m_crText, QPalette::Text, m_crBk, QPalette::Base);
}
