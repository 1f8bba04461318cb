// What the four text controls share: a scaled font, and a text and a
// background colour that each control applies to itself in its own way.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

template <typename Base>
class CTextControl : public Base {
 public:
  explicit CTextControl(QWidget* parent) : Base(parent) {}

  // Replaces the control's font by the scaled font height/width, weight.
  void SetCtrlFont(int height, int width, int weight, const QString& faceName = QStringLiteral("Arial")) {
    this->setFont(ScaledFont(height, width, weight, faceName));
  }
  void SetCtrlTextColor(const QColor& color) {
    m_crText = color;
    ApplyColours();
    this->update();
  }
  void SetCtrlBkColor(const QColor& color) {
    m_crBk = color;
    ApplyColours();
    this->update();
  }

  QColor CtrlTextColor() const { return m_crText; }
  QColor CtrlBkColor() const { return m_crBk; }

 protected:
  // Each control calls it once from its constructor, too.
  virtual void ApplyColours() = 0;

  QColor m_crText{ui::kDefaultCtrlTextColour};
  QColor m_crBk{ui::kDefaultCtrlBkColour};
};
