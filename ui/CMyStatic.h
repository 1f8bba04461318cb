// Static text with its own Arial 11-point font and page colours.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

class CMyStatic : public QLabel {
  Q_OBJECT

 public:
  explicit CMyStatic(QWidget* parent = nullptr);

  // Replaces the control's font by the scaled font height/width, weight.
  void SetCtrlFont(int height, int width, int weight, const QString& faceName = QStringLiteral("Arial"));
  void SetCtrlTextColor(const QColor& color);
  // Also the colour painted behind the text, over the whole control.
  void SetCtrlBkColor(const QColor& color);

  QColor CtrlTextColor() const { return m_crText; }
  QColor CtrlBkColor() const { return m_crBk; }

 private:
  void ApplyColours();

  QColor m_crText;
  QColor m_crBk;
};
