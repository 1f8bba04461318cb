// The brightness dial: a round scale with a knob, the value 0..255 in the
// middle and its percentage beside it. The user drags the knob, turns the
// wheel or types a value; the page only sets g_currentBrightness. The LED
// layout page hands that value to the selected LEDs, and when another LED is
// clicked it puts that LED's value here and the knob glides to it.
#pragma once

#include "chip/ChipClaims.h"
#include <QPixmap>
#include <cstdint>

#include "pages/DialGeometry.h"
#include "ui/Page.h"

class CMyEdit;
class CMyStaticFont;
class QLabel;

// The value the knob shows now, and whether it is being dragged.
extern std::uint8_t g_dialDisplayed;
extern int g_bDialDragging;

class CSetBrightnessLevel : public CPage {
  Q_OBJECT
 public:
  // What this page shows of the chip, for checks (see chip/ChipClaims.h).
  chip::ChipClaims Claims() const;
  static constexpr std::uint32_t kGlideTimer = 8;
  static constexpr std::uint32_t kGlidePeriodMs = 30;

  explicit CSetBrightnessLevel(QWidget* parent = nullptr);
  ~CSetBrightnessLevel() override;

  void InitDialog();

  // Moves the knob's top-left corner and shows the value and percentage.
  void PlaceKnob(int x, int y);
  // Takes the typed value: above 255 is 255; text that is not a number
  // changes nothing.
  void CommitEditValue();

  void OnTimer(std::uint32_t id) override;
  // Whether the selected LED's brightness is known to be what the chip holds
  // (chip::Journal()); run by the glide timer.
  void ShowChipModel();
  bool ValueKnown() const { return !m_unknown; }

  const dial::Geometry& Geometry() const { return m_geometry; }
  int Percent() const { return m_percent; }
  CMyEdit* ValueEdit() const { return m_edit; }
  QLabel* Knob() const { return m_knob; }
  QLabel* Face() const { return m_face; }
  CMyStaticFont* PercentText() const { return m_percentText; }

  // The pictures: the face for a geometry (scale, gap and knob size follow
  // from it) and the knob.
  static QPixmap DrawFace(const dial::Geometry& g, int size, int knobSize);
  static QPixmap DrawKnob(int size);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void TakeValueOverUnknown();
  void LayOut();
  void DragTo(const QPoint& pagePos);
  void ShowValue();

  dial::Geometry m_geometry;
  int m_percent = 100;
  int m_wheelRest = 0;
  bool m_unknown = false;
  std::uint64_t m_modelVersion = ~std::uint64_t{0};
  int m_modelLed = -1;  // part of a notch a touchpad has turned so far
  QLabel* m_face = nullptr;
  QLabel* m_knob = nullptr;
  CMyEdit* m_edit = nullptr;
  CMyStaticFont* m_percentText = nullptr;
};
