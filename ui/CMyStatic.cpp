#include "ui/CMyStatic.h"

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

CMyStatic::CMyStatic(QWidget* parent)
    : CTextControl<QLabel>(parent) {
  // Arial 11 points (a cell of 16 pixels at the reference work area),
  // scaled like every font a page sets: titles keep their size among the
  // texts around them on every screen.
  setFont(ScaledFont(kTitleCellHeight, 0, 400));
  setAutoFillBackground(true);
  ApplyColours();
}

void CMyStatic::ApplyColours() {
  ui::ApplyCtrlColours(this, m_crText, QPalette::WindowText, m_crBk, QPalette::Window);
}
