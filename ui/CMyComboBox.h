// Drop-down list on a white face. The member text colour (grey at start)
// draws the chosen entry on the face and the entries of the open list; the
// list itself is always white.
#pragma once

#include <QComboBox>

#include "ui/TextControl.h"

class CMyComboBox : public CTextControl<QComboBox> {
  Q_OBJECT

 public:
  explicit CMyComboBox(QWidget* parent = nullptr);

  // Drops the list down below the box, as a desktop list box does, rather
  // than over it with the current entry on the box; above it only when the
  // screen has no room below.
  void showPopup() override;

 protected:
  void ApplyColours() override;
  bool event(QEvent* event) override;
};
