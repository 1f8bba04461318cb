// The drawing of the lamp board: one round cell per LED (or, in GPIO mode,
// per pin), in one or two rows. A click selects one LED, Shift-clicks build a
// selection of several, a Ctrl-click copies the LED clicked last onto another.
// The page never talks to the board: every 10 ms it hands the dial's value to
// the selected LEDs and raises g_bBrightnessPending; the LED board page writes
// them to the chip. The GPIO pages colour the cells to show pin states.
#pragma once

#include "chip/ChipClaims.h"
#include <QCursor>
#include <QRect>
#include <array>
#include <cstdint>

#include "chip/PinLevels.h"
#include "ui/Page.h"

class CMyRoundButton;
class CMyStaticFont;

class CRound_LED_Layout : public CPage {
  Q_OBJECT
 public:
  // What this page shows of the chip, for checks (see chip/ChipClaims.h).
  chip::ChipClaims Claims() const;
  static constexpr std::uint32_t kTickTimer = 10;
  static constexpr std::uint32_t kTickPeriodMs = 10;

  explicit CRound_LED_Layout(QWidget* parent = nullptr);
  ~CRound_LED_Layout() override;

  void InitDialog();

  // Shows the cells 0 .. g_ledCount - 1, hides the rest, places them.
  void ShowLeds();
  // Every shown cell unselected in its colour.
  void RefreshLeds();
  // RefreshLeds, then the current LED selected.
  void RefreshLedsMarkSelected();
  // Cell `led` selected in its colour.
  void MarkLed(int led);
  // Scales the page with the layout ratios (maximise and restore).
  void RelayoutPage();
  // Caption and hints for LED mode or GPIO mode.
  void SetGpioMode(bool gpio);

  // Top-left corner and size of each cell for `count` LEDs on a page `width`
  // pixels wide; the rows sit at fixed heights.
  static QRect LedRect(int led, int count, int width);
  void PlaceLeds();

  CMyRoundButton* LedButton(int led) const;
  // Which shown cell is under a point of the page, or -1.
  int LedAt(const QPoint& pagePos) const;

  // Set while the page is in use; the LED board page clears it before it
  // deletes the page, so that a last tick changes no LED colour.
  bool m_bActive = false;

  void OnTimer(std::uint32_t id) override;

 signals:
  // The tick gave the selection a new brightness or colour (or a click
  // picked another LED): the LED board page has brightness to write.
  void BrightnessPending();

 public:
  // What the chip holds, on the drawing: in LED mode each cell glows with
  // the LED's brightness (or shows that it is not known); in GPIO mode each
  // pin carries the level the input ports last read. Run by the tick, it
  // does something only when the chip model or the mode moved.
  void ShowChipModel();
  bool GpioMode() const { return m_gpioMode; }
  const chip::PinLevelArray& PinLevels() const { return m_levels; }
  // The text under a pin for its level, and the box it goes in.
  static QString LevelText(bool high);
  QRect LevelRect(int pin) const;

  // The tooltip a shown cell carries now.
  QString LedToolTip(int led) const;
  static QCursor CopyCursor();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnPointerOverLed(Qt::KeyboardModifiers modifiers);
  // Runs the tick's work once, soon, on the page's own thread; a burst of
  // dial values asks once.
  void QueueTick();
  bool m_tickQueued = false;
  void OnPointerAway();
  void SetAllToolTips(const QString& text);
  void SetPageCursor(const QCursor& cursor);
  bool InSelection(int led) const;

  std::array<CMyRoundButton*, 36> m_leds{};
  CMyStaticFont* m_caption = nullptr;
  bool m_gpioMode = false;
  chip::PinLevelArray m_levels{};
  struct ModelSeen {
    std::uint64_t version = ~std::uint64_t{0};
    bool gpio = false;
    int count = -1;
    int board = -1;
    bool operator==(const ModelSeen&) const = default;
  } m_modelSeen;
};
