// Owner-drawn round button: one LED cell of the board pages.
//
// A disc in the button colour with the first two characters of the caption in
// the inverse colour; a selected cell gets a bold, larger caption and a soft
// grey shadow that shows mostly below the disc.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QRectF>
#include <QString>

class CMyRoundButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CMyRoundButton(QWidget* parent = nullptr);
  explicit CMyRoundButton(const QString& caption, QWidget* parent = nullptr);

  void SetButtonColor(const QColor& color);
  // Stores the flag only: the page repaints the cells it changed, usually
  // several at once.
  void SetSelected(bool selected);

  // What the chip holds for the LED, drawn in the rim of the disc: a warm
  // glow whose strength follows a brightness 0..255 (0 stays dark), a dashed
  // grey rim when the value is not known, nothing for a pin (kNoGlow).
  static constexpr int kNoGlow = -1;
  static constexpr int kGlowUnknown = -2;
  // Repaints only on a change: the page hands every cell its value often.
  void SetGlow(int glow);
  int Glow() const { return m_glow; }
  static constexpr QRgb kGlowColour = qRgb(255, 170, 40);
  static constexpr QRgb kUnknownRimColour = qRgb(150, 150, 150);
  // The glow's opacity for a brightness: none at 0, then from faint to full.
  static int GlowAlpha(int brightness);

  bool Selected() const { return m_bSelected; }
  QColor ButtonColor() const { return m_crButton; }

  // What the cell shows for a caption: its first two characters.
  static QString DisplayedCaption(const QString& caption);
  // Caption size in points. It grows with the layout only on the boards with
  // many LEDs (8, 12, 16 or 18), whose cells are laid out by g_ratioX.
  static double CaptionPointSize(bool selected);
  // The disc and the shadow for a button of the given size.
  static QRectF DiscRect(int width, int height);
  static QRectF ShadowRect(int width, int height);

  static constexpr QRgb kShadowColour = qRgb(80, 80, 80);
  // How much of the shadow ellipse, from its centre, is solid grey before it
  // fades out to its edge.
  static constexpr double kShadowFocusX = 0.75;
  static constexpr double kShadowFocusY = 0.8;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor m_crButton{Qt::black};
  bool m_bSelected = false;
  int m_glow = kNoGlow;
};
