// A flat button that shows a picture (and, if it has one, a second picture
// while pressed).
#pragma once

#include <QAbstractButton>
#include <QPixmap>

class CBitmapButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit CBitmapButton(QWidget* parent = nullptr);

  void SetBitmaps(const QPixmap& normal, const QPixmap& pressed = QPixmap());
  const QPixmap& Normal() const { return m_normal; }
  void SizeToContent();  // the button takes its picture's size

 protected:
  void paintEvent(QPaintEvent*) override;
  QSize sizeHint() const override;

 private:
  QPixmap m_normal;
  QPixmap m_pressed;
};
