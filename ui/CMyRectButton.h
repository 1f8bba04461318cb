// Owner-drawn rounded button used for the pages' commands.
//
// It looks after its own colours: a pale face until the page gives it one
// (teal while "checked"), light grey with white text once disabled, and an
// optional hover look (white face, hover text colour) while the pointer is
// well inside it. Clicks reach the page through the usual clicked() signal.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QString>

class CMyRectButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CMyRectButton(QWidget* parent = nullptr);
  explicit CMyRectButton(const QString& caption, QWidget* parent = nullptr);

  // The caption font, scaled like every font (height/width, weight).
  void SetButtonFont(int height, int width, int weight, const QString& faceName = QStringLiteral("Arial"));
  void SetButtonTextColor(const QColor& color);
  // Fixes the face colour; from then on the checked look no longer applies.
  void SetButtonColor(const QColor& color);
  // Turns the hover look on. Takes effect at the next pointer move.
  void SetButtonHoverTextColor(const QColor& color);
  // The teal "selected" look of a button that has no face colour of its own.
  // Independent of QAbstractButton's checkable state.
  void SetChecked(bool checked);

  bool Checked() const { return m_bChecked; }
  bool ColorSet() const { return m_bColorSet; }
  bool HoverEnabled() const { return m_bHoverEnabled; }
  bool FontSet() const { return m_bFontSet; }
  QColor TextColor() const { return m_crText; }
  QColor TextColorNow() const { return m_crTextNow; }
  QColor HoverTextColor() const { return m_crHoverText; }
  QColor FaceColor() const { return m_crFace; }
  QColor FaceColorNow() const { return m_crFaceNow; }
  // The font the caption is drawn with: the one set, or the default.
  QFont CaptionFont() const;

  static constexpr QRgb kUncheckedFace = qRgb(224, 238, 238);
  static constexpr QRgb kCheckedFace = qRgb(32, 200, 200);
  static constexpr QRgb kDisabledFace = qRgb(232, 232, 232);
  // How far inside the edge the pointer must be for the hover look.
  static constexpr int kHoverInset = 10;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  bool m_bChecked = false;
  bool m_bColorSet = false;
  bool m_bHoverEnabled = false;
  bool m_bFontSet = false;
  QColor m_crText{Qt::black};
  QColor m_crTextNow{Qt::black};
  QColor m_crHoverText{Qt::black};
  QColor m_crFace{Qt::black};
  QColor m_crFaceNow{Qt::black};
  QFont m_font;
};
