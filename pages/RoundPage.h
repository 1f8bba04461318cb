// The LED board page: which lamp board is attached, LED or GPIO use of the
// chip's pins, the chip's I2C address and bus speed, the global maximum
// current, the chip's software reset and the interrupt indicator. It hosts
// the sub-pages (LED layout, brightness dial, blink and fade, GPIO input and
// output) and every 100 ms writes changed LED brightness to the chip. It is
// the host of those pages: it makes them, connects their requests and marks
// pins on its drawing for them.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <span>

#include "chip/InterruptLog.h"
#include "chip/ChipClaims.h"
#include "pages/PageHost.h"
#include "ui/Page.h"

class CMyRectButton;
class CMyComboBox;
class CMyEdit;
class CMyStatic;
class CMyStaticFont;
class CBitmapButton;
class CRound_LED_Layout;
namespace setup {
struct Setup;
}
class CSetBrightnessLevel;
class QCheckBox;
class QSlider;
class InterruptLogView;
class StatusSink;

class CRound : public CPage, public PageHost {
  Q_OBJECT
 public:
  static constexpr std::uint32_t kBrightnessTimer = 3;
  static constexpr std::uint32_t kBrightnessPeriodMs = 100;
  static constexpr std::uint32_t kInterruptTimer = 17;
  static constexpr std::uint32_t kInterruptPeriodMs = 200;

  // Brings the register-backed controls of the page in line with what the
  // chip holds (chip::Journal()); also run by the brightness timer.
  void ShowChipModel();
  // Shows a setup the chip has just taken (see RoundPage.cpp).
  void ShowSetup(const setup::Setup& s);
  // What the page's own controls say the chip holds (mode and direction
  // boxes, maximum current); for checks, never called while the page works.
  chip::ChipClaims Claims() const;

  // The pages that come and go with the board and its mode (blink and fade,
  // GPIO). A factory makes and initialises its page as a child of `parent`
  // (the host control it sits in), connects the page's requests to `host`,
  // and returns it, or null; a kind without a factory has no page. The
  // factories are in SubPageFactories.cpp; a test may put its own in place.
  enum class SubPage { kFade, kBlink, kGpioInput, kGpioOutput };
  using SubPageFactory = std::function<CPage*(QWidget* parent, PageHost& host)>;
  static void SetSubPageFactory(SubPage which, SubPageFactory factory);
  // The factories the page starts with.
  static std::map<SubPage, SubPageFactory> DefaultSubPageFactories();

  // `status` hears "not connected" when the page cannot reach the chip; null:
  // nobody is told.
  explicit CRound(QWidget* parent = nullptr, StatusSink* status = nullptr);
  ~CRound() override;

  void InitDialog();
  void SelectChipBoard(int button);
  void SendI2cAddress();
  // 0x00 to the effect control, then the brightness of every LED of the board.
  void ApplyLedBrightness();
  // PageHost: the page as after a reset of the chip, without resetting the
  // chip; pins marked on the drawing; the effect times shown on fresh pages.
  void ResetPages() override;
  void MarkPins(std::span<const std::uint8_t, chip::kMaxPins> marks, gpio::Redraw redraw) override;
  void ShowEffectTimes(std::uint8_t ramp, std::uint8_t keep) override;
  void OnSoftwareReset();
  // Enter with the pointer over the page: write the brightness now.
  void OnEnterKey();
  void RelayoutPage();
  // Centres every sub-page that exists in its host.
  void RelayoutSubPages();
  void UpdateModeTexts();

  // The mode boxes.
  void OnModeLed();
  void OnModeGpio();
  void OnDirectionInput();
  void OnDirectionOutput();
  // The main window's board query found the board selected here.
  void OnBoardMatched();
  // The board went: nothing of its chip is known any more.
  void OnChipForgotten();

  void OnMessage(const platform::Message& message) override;
  void OnTimer(std::uint32_t id) override;

  // Sub-pages.
  void CreateLayoutPage();
  void CreateBrightnessPage();
  void CreateFadePage();
  void CreateBlinkPage();
  void CreateGpioInputPage();
  void CreateGpioOutputPage();
  void DestroyBrightnessPage();
  void DestroyFadePage();
  void DestroyBlinkPage();
  void DestroyGpioPages();

  CMyRectButton* BoardButton(int id) const;
  CMyComboBox* AddressCombo() const { return m_address; }
  CMyComboBox* SpeedCombo() const { return m_speed; }
  QCheckBox* ModeBox(int id) const;
  CMyEdit* CurrentEdit() const { return m_current; }
  QSlider* CurrentSlider() const { return m_slider; }
  CBitmapButton* ResetButton() const { return m_reset; }
  CBitmapButton* InterruptIndicator() const { return m_interrupt; }
  CMyStatic* RelationshipText() const { return m_relationship; }
  CSetBrightnessLevel* BrightnessPage() const;
  bool InterruptLit() const { return m_interruptLit; }

  // The interrupts the board reported: the count beside the indicator stays
  // red until someone looks (a click on the indicator or the list) or
  // clears them; the list names the pins that changed once the input ports
  // were read after an interrupt.
  const chip::InterruptLog& Interrupts() const { return m_interruptLog; }
  void MarkInterruptsSeen();
  void ClearInterrupts();
  CMyStaticFont* InterruptCount() const { return m_interruptCount; }
  CMyRectButton* InterruptClearButton() const { return m_interruptClear; }
  InterruptLogView* InterruptList() const { return m_interruptList; }
  // The attached board, its chip address and speed, the bridge firmware and
  // the device; run by the brightness timer, repaints only on a change.
  void ShowBoardSummary();
  // How the attached board is reached, as far as the host knows: the bridge
  // firmware's version, the device path and serial number (empty when not
  // known). The main window hands the page where to ask, before InitDialog.
  struct BoardLink {
    QString firmware;
    QString devicePath;
    QString serialNumber;
  };
  void SetBoardLinkSource(std::function<BoardLink()> source) { m_boardLink = std::move(source); }
  CMyStaticFont* BoardSummary() const { return m_boardSummary; }

  // A chip-board button and the board it selects (name and LED count come
  // from the board table the link knows).
  struct ChipBoard {
    int button;
    const char* tooltip;       // null: none
    std::uint8_t boardId;
    const char* relationship;  // null: the text is left as it is
    int LedCount() const;
  };
  static const ChipBoard* FindBoardByButton(int button);
  static const ChipBoard* FindBoardById(std::uint8_t id);

  // The layout page has brightness to write (a new dial value, colour or
  // LED): written at once unless a write went out less than a tick ago.
  void OnBrightnessPending();

 signals:
  // A chip board was chosen while a board is attached: the main window asks
  // the board which one it is.
  void BoardQueryRequested();

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void ResetLedState();
  void ResetLedData();
  // false: no board identified, nothing written (and, unless quiet, the
  // not-connected notice shown).
  bool WriteBrightnessNow(bool quiet = false);
  void OnAddressChanged(int index);
  void OnSpeedChanged(int index);
  void OnCurrentTextChanged(const QString& text);
  void SetCurrentText(const QString& text);
  void ShowSliderKnown(bool known);
  void SetModeBoxes(bool led, bool gpio, bool input, bool output);
  void SelectDirection(bool input);
  void EnableDirectionBoxes(bool enabled);
  // 0x12 (and in GPIO mode 0x04) as the mode boxes show them.
  void WritePinSetup();
  void StartGpioOnly();  // board 128
  // The mode and direction boxes show what the chip holds (0x12/0x13 and
  // 0x04/0x05 as far as known): checked only when it is known.
  void ShowPinModel();
  void CentreInHost(QWidget* page, int hostId);
  QWidget* Host(int id) const;
  CPage* MakeSubPage(SubPage which, int hostId);
  void Retire(CPage* page);
  static void ForgetSubPages();
  static std::map<SubPage, SubPageFactory>& Factories();

  StatusSink* m_status;
  CMyComboBox* m_address = nullptr;
  CMyComboBox* m_speed = nullptr;
  CMyStaticFont* m_speedLabel = nullptr;
  CMyEdit* m_current = nullptr;
  QSlider* m_slider = nullptr;
  CBitmapButton* m_reset = nullptr;
  CBitmapButton* m_interrupt = nullptr;
  CMyStatic* m_relationship = nullptr;
  bool m_settingCurrent = false;
  bool m_interruptLit = false;
  std::uint64_t m_modelVersion = ~std::uint64_t{0};

  void NoteInterrupt();
  void ShowInterrupts();
  chip::InterruptLog m_interruptLog;
  InterruptLogView* m_interruptList = nullptr;
  CMyStaticFont* m_interruptCount = nullptr;
  CMyRectButton* m_interruptClear = nullptr;
  CMyStaticFont* m_boardSummary = nullptr;
  std::function<BoardLink()> m_boardLink;
  // Journal stamps: the last interrupt, and the last complete reading of
  // both input ports handed to the log.
  std::uint64_t m_interruptStamp = 0;
  QElapsedTimer m_lastBrightnessWrite;  // when brightness last went to the chip
  std::uint64_t m_portsReadStamp = 0;
  std::uint64_t m_interruptsShown = ~std::uint64_t{0};
};
