#include "ui/CMyEdit.h"

#include "ui/TextControlColours.h"

CMyEdit::CMyEdit(QWidget* parent)
    : CTextControl<QLineEdit>(parent) {
  ApplyColours();
}

void CMyEdit::ApplyColours() {
  // A line edit paints its field with Base and its text with Text.
  ui::ApplyCtrlColours(this, m_crText, QPalette::Text, m_crBk, QPalette::Base);
}
