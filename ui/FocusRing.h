// Where the keyboard focus is, drawn for every control of every window: a
// ring around the control that Tab (or a shortcut) moved the focus to. The
// owner-drawn controls draw no focus of their own, and the style's focus
// marks are faint on a white page; one ring for all shows it alike. A click
// does not show it: the pointer already says where the person is.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class FocusRing final : public QObject {
  Q_OBJECT
 public:
  // Watches the whole application while it lives.
  FocusRing();
  ~FocusRing() override;

  // The control the ring is around now, or null while none is shown.
  QWidget* Around() const;
  // The ring itself (a child of the control's window), for tests.
  QWidget* Ring() const { return m_ring; }

  static constexpr QRgb kColour = qRgb(0, 84, 196);
  static constexpr int kWidth = 2;
  static constexpr int kGap = 2;  // between the control and the ring

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowAround(QWidget* control);
  void Hide();
  void Place();

  QPointer<QWidget> m_ring;
  QPointer<QWidget> m_control;
};
