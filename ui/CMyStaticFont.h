// Static text in page colours whose font the page chooses (until then it
// inherits the page font).
#pragma once

#include <QLabel>

#include "ui/TextControl.h"

class CMyStaticFont : public CTextControl<QLabel> {
  Q_OBJECT

 public:
  explicit CMyStaticFont(QWidget* parent = nullptr);

 protected:
  void ApplyColours() override;
};
