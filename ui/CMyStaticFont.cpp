#include "ui/CMyStaticFont.h"

#include "ui/TextControlColours.h"

CMyStaticFont::CMyStaticFont(QWidget* parent)
    : CTextControl<QLabel>(parent) {
  setAutoFillBackground(true);
  ApplyColours();
}

void CMyStaticFont::ApplyColours() {
  ui::ApplyCtrlColours(this, m_crText, QPalette::WindowText, m_crBk, QPalette::Window);
}
