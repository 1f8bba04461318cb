// Single-line edit in page colours whose font the page chooses.
#pragma once

#include <QLineEdit>

#include "ui/TextControl.h"

class CMyEdit : public CTextControl<QLineEdit> {
  Q_OBJECT

 public:
  explicit CMyEdit(QWidget* parent = nullptr);

 protected:
  void ApplyColours() override;
};
