// Drop-down list with a fixed black-on-white face. The member colours reach
// only the entries of the open list (and an edit part, should a page ever make
// the box editable); the list itself is always white.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QString>

class CMyComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit CMyComboBox(QWidget* parent = nullptr);

  void SetCtrlFont(int height, int width, int weight, const QString& faceName = QStringLiteral("Arial"));
  void SetCtrlTextColor(const QColor& color);
  void SetCtrlBkColor(const QColor& color);

  QColor CtrlTextColor() const { return m_crText; }
  QColor CtrlBkColor() const { return m_crBk; }

 protected:
  bool event(QEvent* event) override;

 private:
  void ApplyColours();

  QColor m_crText;
  QColor m_crBk;
};
