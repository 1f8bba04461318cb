// Single-line edit in page colours whose font the page chooses.
#pragma once

#include <QColor>
#include <QLineEdit>
#include <QString>

class CMyEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit CMyEdit(QWidget* parent = nullptr);

  void SetCtrlFont(int height, int width, int weight, const QString& faceName = QStringLiteral("Arial"));
  void SetCtrlTextColor(const QColor& color);
  // The colour of the field behind the text.
  void SetCtrlBkColor(const QColor& color);

  QColor CtrlTextColor() const { return m_crText; }
  QColor CtrlBkColor() const { return m_crBk; }

 private:
  void ApplyColours();

  QColor m_crText;
  QColor m_crBk;
};
