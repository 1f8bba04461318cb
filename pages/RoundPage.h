// The LED board page: which lamp board is attached, LED or GPIO use of the
// chip's pins, the chip's I2C address and bus speed, the global maximum
// current, the chip's software reset and the interrupt indicator. It hosts
// the sub-pages (LED layout, brightness dial, blink and fade, GPIO input and
// output) and every 100 ms writes changed LED brightness to the chip.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "ui/Page.h"

class CMyRectButton;
class CMyComboBox;
class CMyEdit;
class CMyStatic;
class CMyStaticFont;
class CBitmapButton;
class CRound_LED_Layout;
class CSetBrightnessLevel;
class QCheckBox;
class QSlider;

class CRound : public CPage {
  Q_OBJECT
 public:
  static constexpr std::uint32_t kBrightnessTimer = 3;
  static constexpr std::uint32_t kBrightnessPeriodMs = 100;
  static constexpr std::uint32_t kInterruptTimer = 17;
  static constexpr std::uint32_t kInterruptPeriodMs = 200;

  // Brings the register-backed controls of the page in line with what the
  // chip holds (chip::Journal()); also run by the brightness timer.
  void ShowChipModel();

  // The pages made elsewhere (blink and fade, GPIO). A factory makes and
  // initialises its page as a child of the host it is given, or returns
  // null; a kind without a factory has no page.
  enum class SubPage { kFade, kBlink, kGpioInput, kGpioOutput };
  using SubPageFactory = std::function<CPage*(QWidget* host)>;
  static void SetSubPageFactory(SubPage which, SubPageFactory factory);

  explicit CRound(QWidget* parent = nullptr);
  ~CRound() override;

  void InitDialog();
  void SelectChipBoard(int button);
  void SendI2cAddress();
  // 0x00 to the effect control, then the brightness of every LED of the board.
  void ApplyLedBrightness();
  // The page as after a reset of the chip, without resetting the chip.
  void ResetPages();
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
  void SetModeBoxes(bool led, bool gpio, bool input, bool output);
  void SelectDirection(bool input);
  void EnableDirectionBoxes(bool enabled);
  // 0x12 (and in GPIO mode 0x04) as the mode boxes show them.
  void WritePinSetup();
  void StartGpioWithInputs();  // board 128
  void CentreInHost(QWidget* page, int hostId);
  QWidget* Host(int id) const;
  CPage* MakeSubPage(SubPage which, int hostId);
  void Retire(CPage* page);
  static void ForgetSubPages();

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
};
