// Static text with its own Arial 11-point font and page colours.
#pragma once

#include <QLabel>

#include "ui/TextControl.h"

class CMyStatic : public CTextControl<QLabel> {
  Q_OBJECT

 public:
  explicit CMyStatic(QWidget* parent = nullptr);
  static constexpr int kTitleCellHeight = 16;

 protected:
  void ApplyColours() override;
};
