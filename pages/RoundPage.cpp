#include "pages/RoundPage.h"

#include <QCheckBox>
#include <QDateTime>
#include <QVBoxLayout>
#include <QGroupBox>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <map>

#include "setup/Setup.h"
#include "pages/BoardGlobals.h"
#include "pages/BlinkMode.h"
#include "pages/BrightnessDial.h"
#include "pages/InterruptLogView.h"
#include "pages/FadeMode.h"
#include "pages/GpioPins.h"
#include "pages/LedLayoutPage.h"
#include "chip/BoardSummary.h"
#include "chip/ChipAccess.h"
#include "chip/PinLevels.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "link/BoardIds.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/QVCommunication.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "ui/BitmapButton.h"
#include "ui/Bitmaps.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStatic.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"
#include "ui/StatusSink.h"
#include "ui/TextControlColours.h"

using namespace dialogs;

namespace {

constexpr const char* kPins16 =
    "GPIO Realtionship Table\n  0---P1_0      1---P1_1       2---P1_2      3---P1_3\n  4---P1_4      5---P1_5       "
    "6---P1_6      7---P1_7\n  8---P0_0      9---P0_1     10---P0_2    11---P0_3\n12---P0_4    13---P0_5     "
    "14---P0_6    15---P0_7\n";
constexpr const char* kOutputs10 =
    "GPIO Realtionship Table\n0---OUT0    1---OUT1    2---OUT2    3---OUT3\n4---OUT4    5---OUT5    6---OUT6    "
    "7---OUT7\n8---OUT8    9---OUT9";
constexpr const char* kOutputs6 =
    "GPIO Realtionship Table\n0---OUT0    1---OUT1    2---OUT2    3---OUT3\n4---OUT4    5---OUT5";

constexpr CRound::ChipBoard kBoardButtons[] = {
    {IDC_BOARD_QV6031, "A line pattern board with 3 RGB's LEDs", 0, kPins16},
    {IDC_BOARD_QV6032, "A line pattern board with 4 RGB's LEDs", 3, kOutputs10},
    {IDC_BOARD_QV6033, "A line pattern board with 6 RGB's LEDs", 1, kOutputs6},
    {IDC_BOARD_QV6035, nullptr, 5, kPins16},
    {IDC_BOARD_QV6034, "A line pattern board with 16 LED or GPIO", 128, nullptr},
};

constexpr int kCurrentMax = 40;
constexpr int kCurrentSliderMin = 10;

}  // namespace

std::map<CRound::SubPage, CRound::SubPageFactory>& CRound::Factories() {
  static std::map<SubPage, SubPageFactory> factories = DefaultSubPageFactories();
  return factories;
}

void CRound::SetSubPageFactory(SubPage which, SubPageFactory factory) { Factories()[which] = std::move(factory); }

int CRound::ChipBoard::LedCount() const {
  const ChipBoardEntry* entry = FindChipBoard(boardId);
  return entry ? entry->ledCount : 0;
}

const CRound::ChipBoard* CRound::FindBoardByButton(int button) {
  for (const auto& b : kBoardButtons)
    if (b.button == button) return &b;
  return nullptr;
}

const CRound::ChipBoard* CRound::FindBoardById(std::uint8_t id) {
  for (const auto& b : kBoardButtons)
    if (b.boardId == id) return &b;
  return nullptr;
}

CRound::CRound(QWidget* parent, StatusSink* status) : CPage(parent), m_status(status) {
  BuildStandardDialog(this, kRoundPageDialog);
  m_address = platform::Control<CMyComboBox>(this, IDC_I2C_ADDRESS);
  m_speed = platform::Control<CMyComboBox>(this, IDC_I2C_SPEED);
  m_speedLabel = platform::Control<CMyStaticFont>(this, IDC_I2C_SPEED_LABEL);
  m_current = platform::Control<CMyEdit>(this, IDC_CURRENT_EDIT);
  m_slider = platform::Control<QSlider>(this, IDC_CURRENT_SLIDER);
  m_reset = platform::Control<CBitmapButton>(this, IDC_RESET);
  m_interrupt = platform::Control<CBitmapButton>(this, IDC_INTERRUPT);
  m_relationship = platform::Control<CMyStatic>(this, IDC_RELATIONSHIP);
  m_interrupt->setCursor(Qt::ArrowCursor);
  m_interrupt->setFocusPolicy(Qt::NoFocus);
  m_interruptCount = platform::Control<CMyStaticFont>(this, IDC_INTERRUPT_COUNT);
  m_interruptClear = platform::Control<CMyRectButton>(this, IDC_INTERRUPT_CLEAR);
  m_boardSummary = platform::Control<CMyStaticFont>(this, IDC_BOARD_SUMMARY);
  m_interruptList = new InterruptLogView(m_interruptLog, Host(IDC_HOST_INTERRUPT_LOG));
  auto* listLayout = new QVBoxLayout(Host(IDC_HOST_INTERRUPT_LOG));
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->addWidget(m_interruptList);
  connect(m_interrupt, &QAbstractButton::clicked, this, &CRound::MarkInterruptsSeen);
  connect(m_interruptList, &InterruptLogView::clicked, this, &CRound::MarkInterruptsSeen);
  connect(m_interruptClear, &QAbstractButton::clicked, this, &CRound::ClearInterrupts);

  for (const auto& b : kBoardButtons) {
    if (auto* button = BoardButton(b.button))
      connect(button, &QAbstractButton::clicked, this, [this, id = b.button] { SelectChipBoard(id); });
  }
  connect(ModeBox(IDC_MODE_LED), &QAbstractButton::clicked, this, &CRound::OnModeLed);
  connect(ModeBox(IDC_MODE_GPIO), &QAbstractButton::clicked, this, &CRound::OnModeGpio);
  connect(ModeBox(IDC_DIR_INPUT), &QAbstractButton::clicked, this, &CRound::OnDirectionInput);
  connect(ModeBox(IDC_DIR_OUTPUT), &QAbstractButton::clicked, this, &CRound::OnDirectionOutput);
  connect(m_reset, &QAbstractButton::clicked, this, &CRound::OnSoftwareReset);
  ForgetSubPages();
}

CRound::~CRound() {
  // The sub-pages are children of their hosts and go with the page; their
  // pointers must not outlive them.
  if (g_pLayoutPage) g_pLayoutPage->m_bActive = false;
  ForgetSubPages();
}

void CRound::ForgetSubPages() {
  g_pLayoutPage = nullptr;
  g_pBrightnessPage = nullptr;
  g_pFadeMode = nullptr;
  g_pBlinkMode = nullptr;
  g_pGpioInputPage = nullptr;
  g_pGpioOutputPage = nullptr;
}

CMyRectButton* CRound::BoardButton(int id) const { return platform::Control<CMyRectButton>(this, id); }
QCheckBox* CRound::ModeBox(int id) const { return platform::Control<QCheckBox>(this, id); }
QWidget* CRound::Host(int id) const { return platform::FindControl(this, id); }
CSetBrightnessLevel* CRound::BrightnessPage() const { return qobject_cast<CSetBrightnessLevel*>(g_pBrightnessPage); }

void CRound::InitDialog() {
  CreateLayoutPage();
  if (g_pLayoutPage) g_pLayoutPage->m_bActive = true;
  CreateBrightnessPage();
  CreateFadePage();
  CreateBlinkPage();

  for (int id : {IDC_I2C_ADDRESS_LABEL, IDC_I2C_SPEED_LABEL, IDC_RESET_LABEL, IDC_INTERRUPT_LABEL, IDC_CURRENT_LABEL,
                 IDC_MODE_LED_LABEL, IDC_MODE_GPIO_LABEL, IDC_DIR_INPUT_LABEL, IDC_DIR_OUTPUT_LABEL})
    if (auto* label = platform::Control<CMyStaticFont>(this, id)) label->SetCtrlFont(20, 7, 400, "Arial");
  m_address->SetCtrlFont(20, 7, 400, "Arial");
  m_speed->SetCtrlFont(20, 7, 400, "Arial");
  for (std::uint8_t a : kI2cAddresses) m_address->addItem(QStringLiteral("0x") + QString::number(a, 16).toUpper());
  m_address->setCurrentIndex(g_i2cAddressIndex);
  m_speed->addItem(QStringLiteral("400K"));
  m_speed->addItem(QStringLiteral("1M"));
  m_speed->setCurrentIndex(0);
  // Only a new selection counts: picking the address already chosen sends nothing.
  connect(m_address, &QComboBox::currentIndexChanged, this, &CRound::OnAddressChanged);
  connect(m_speed, &QComboBox::currentIndexChanged, this, &CRound::OnSpeedChanged);
  m_relationship->hide();
  m_relationship->setWordWrap(false);
  // The mode boxes and their labels sit on their group boxes without a
  // background of their own.
  for (int id : {IDC_MODE_LED_LABEL, IDC_MODE_GPIO_LABEL, IDC_DIR_INPUT_LABEL, IDC_DIR_OUTPUT_LABEL})
    platform::FindControl(this, id)->setAutoFillBackground(false);

  m_reset->SetBitmaps(bitmaps::Bitmap(bitmaps::IDB_RESET), bitmaps::Bitmap(bitmaps::IDB_RESET_PRESSED));
  m_interrupt->SetBitmaps(bitmaps::Bitmap(bitmaps::IDB_INTERRUPT_IDLE));

  m_interruptCount->SetCtrlFont(20, 7, 700, "Arial");
  m_interruptClear->SetButtonFont(18, 7, 400, "Arial");
  m_boardSummary->SetCtrlFont(18, 7, 400, "Arial");
  m_boardSummary->setWordWrap(false);
  m_boardSummary->setTextFormat(Qt::PlainText);
  ShowBoardSummary();

  m_current->SetCtrlFont(18, 7, 400, "Arial");
  m_current->setMaxLength(3);
  // Digits only: a minus sign or letters have no meaning as a current.
  m_current->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), m_current));
  m_slider->setRange(kCurrentSliderMin, kCurrentMax);
  m_slider->setPageStep(10);
  m_slider->setValue(kCurrentMax);
  {
    const QSignalBlocker quiet(m_current);
    m_current->setText(QString::number(kCurrentMax));
  }
  connect(m_current, &QLineEdit::textChanged, this, &CRound::OnCurrentTextChanged);
  connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
    if (!m_settingCurrent) SetCurrentText(QString::number(position));
  });

  for (int id : {IDC_MODE_LED, IDC_MODE_GPIO, IDC_DIR_INPUT, IDC_DIR_OUTPUT}) ModeBox(id)->setEnabled(false);

  ResetLedState();
  // The start brightness and colour are the page's, not a change anybody
  // made: nothing is written until the person sets one.
  g_lastColor = g_currentColor;
  g_lastBrightness = g_currentBrightness;
  g_bBrightnessPending = 0;
  if (auto* b = BoardButton(IDC_BOARD_QV6033)) b->SetChecked(true);
  g_boardKind = kBoardKindPage;
  g_ledCount = 6;
  if (g_pLayoutPage) g_pLayoutPage->ShowLeds();

  setCursor(Qt::ArrowCursor);
  for (const auto& b : kBoardButtons)
    if (b.tooltip)
      if (auto* button = BoardButton(b.button)) button->setToolTip(QString::fromUtf8(b.tooltip));

  RelayoutPage();
  SetTimer(kBrightnessTimer, kBrightnessPeriodMs);
}

// ---- sub-pages -----------------------------------------------------------------

void CRound::CentreInHost(QWidget* page, int hostId) { ::CentreInHost(page, Host(hostId)); }

// A page leaves at once for everyone else (pointer cleared, hidden, its
// timers stopped) but is deleted only when control is back in the event
// loop: the handler that asked may belong to the page itself.
void CRound::Retire(CPage* page) {
  if (!page) return;
  page->Timers().Silence();
  page->hide();
  page->deleteLater();
}

CPage* CRound::MakeSubPage(SubPage which, int hostId) {
  const auto it = Factories().find(which);
  if (it == Factories().end() || !it->second) return nullptr;
  QWidget* host = Host(hostId);
  CPage* page = host ? it->second(host, *this) : nullptr;
  if (!page) return nullptr;
  CentreInHost(page, hostId);
  page->show();
  host->show();
  return page;
}

void CRound::CreateLayoutPage() {
  if (g_pLayoutPage) return;
  auto* page = new CRound_LED_Layout(Host(IDC_HOST_LAYOUT));
  g_pLayoutPage = page;
  connect(page, &CRound_LED_Layout::BrightnessPending, this, &CRound::OnBrightnessPending);
  page->InitDialog();
  CentreInHost(page, IDC_HOST_LAYOUT);
  page->show();
  Host(IDC_HOST_LAYOUT)->show();
}

void CRound::CreateBrightnessPage() {
  auto* page = new CSetBrightnessLevel(Host(IDC_HOST_BRIGHTNESS));
  g_pBrightnessPage = page;
  page->InitDialog();
  // The new dial starts on the brightness of the LED it acts on, and hands
  // nothing on: making a page is not a change of any LED.
  if (g_selectedLed >= 0 && g_selectedLed < kMaxLeds)
    g_currentBrightness = g_ledBrightness[static_cast<std::size_t>(g_selectedLed)];
  g_lastBrightness = g_currentBrightness;
  CentreInHost(page, IDC_HOST_BRIGHTNESS);
  page->show();
  Host(IDC_HOST_BRIGHTNESS)->show();
  chip::WriteChipRegisters(chip::kRegEffectControl, std::array{chip::kEffectStop});
}

void CRound::CreateFadePage() {
  Host(IDC_HOST_GPIO_INPUT)->hide();
  Host(IDC_HOST_GPIO_OUTPUT)->hide();
  g_pFadeMode = MakeSubPage(SubPage::kFade, IDC_HOST_FADE);
}

void CRound::CreateBlinkPage() { g_pBlinkMode = MakeSubPage(SubPage::kBlink, IDC_HOST_BLINK); }

void CRound::CreateGpioInputPage() {
  Host(IDC_HOST_GPIO_OUTPUT)->hide();
  Host(IDC_HOST_FADE)->hide();
  g_pGpioInputPage = MakeSubPage(SubPage::kGpioInput, IDC_HOST_GPIO_INPUT);
}

void CRound::CreateGpioOutputPage() {
  Host(IDC_HOST_GPIO_INPUT)->hide();
  Host(IDC_HOST_FADE)->hide();
  g_pGpioOutputPage = MakeSubPage(SubPage::kGpioOutput, IDC_HOST_GPIO_OUTPUT);
}

void CRound::DestroyBrightnessPage() {
  if (!g_pBrightnessPage) return;
  CPage* page = g_pBrightnessPage;
  g_pBrightnessPage = nullptr;
  Retire(page);
  Host(IDC_HOST_BRIGHTNESS)->hide();
  // Without the dial the pins go back to GPIO use.
  chip::WriteChipRegisters(chip::kRegMode, chip::kModeGpio);
}

void CRound::DestroyFadePage() {
  CPage* page = std::exchange(g_pFadeMode, nullptr);
  Retire(page);
  Host(IDC_HOST_FADE)->hide();
}

void CRound::DestroyBlinkPage() {
  CPage* page = std::exchange(g_pBlinkMode, nullptr);
  Retire(page);
  Host(IDC_HOST_BLINK)->hide();
}

void CRound::DestroyGpioPages() {
  Retire(std::exchange(g_pGpioInputPage, nullptr));
  Retire(std::exchange(g_pGpioOutputPage, nullptr));
  Host(IDC_HOST_GPIO_INPUT)->hide();
  Host(IDC_HOST_GPIO_OUTPUT)->hide();
}

// ---- board selection -------------------------------------------------------------

void CRound::ResetLedData() {
  g_selectedLed = 0;
  // The whole selection goes, the Shift-built list with it: the drawing shows
  // none selected, and a value typed next must not reach LEDs chosen before.
  g_selectionList.fill(0);
  g_selectionCount = 1;
  g_bMultiSelection = 0;
  g_anchorLed = 0;
  g_ledBrightnessSent.fill(0xFF);
  // What the chip holds stays what the page edits: the next brightness write
  // must not put back 255 on LEDs nobody touched. Not known: 255.
  const chip::RegisterJournal& journal = chip::Journal();
  for (int i = 0; i < g_ledCount && i < kMaxLeds; ++i) {
    const auto known =
        i < chip::kMaxChipLeds ? journal.Known(static_cast<std::uint8_t>(chip::kRegBrightness + i)) : std::nullopt;
    g_ledBrightness[static_cast<std::size_t>(i)] = known.value_or(0xFF);
    if (static_cast<std::size_t>(i) < g_ledBrightnessSent.size())
      g_ledBrightnessSent[static_cast<std::size_t>(i)] = known.value_or(0xFF);
    g_ledColors[static_cast<std::size_t>(i)] = QColor(0, 0, 0);
  }
  // LED 0 is the one the dial acts on: the drawing shows it selected, and
  // the dial shows its brightness without handing it on.
  g_currentBrightness = g_lastBrightness = g_ledBrightness[0];
  if (g_pLayoutPage) g_pLayoutPage->RefreshLedsMarkSelected();
}

void CRound::ResetLedState() {
  for (const auto& b : kBoardButtons)
    if (auto* button = BoardButton(b.button)) button->SetChecked(false);
  m_speedLabel->hide();
  m_speed->hide();
  ResetLedData();
}

void CRound::SetModeBoxes(bool led, bool gpio, bool input, bool output) {
  ModeBox(IDC_MODE_LED)->setChecked(led);
  ModeBox(IDC_MODE_GPIO)->setChecked(gpio);
  ModeBox(IDC_DIR_INPUT)->setChecked(input);
  ModeBox(IDC_DIR_OUTPUT)->setChecked(output);
}

void CRound::EnableDirectionBoxes(bool enabled) {
  ModeBox(IDC_DIR_INPUT)->setEnabled(enabled);
  ModeBox(IDC_DIR_OUTPUT)->setEnabled(enabled);
}

void CRound::SelectChipBoard(int button) {
  const ChipBoard* board = FindBoardByButton(button);
  if (!board || g_bBoardMatched == 1) return;
  KillTimer(kBrightnessTimer);
  ResetLedState();  // with the previous board's LED count
  if (auto* b = BoardButton(button)) b->SetChecked(true);
  // The 16-pin board has no button of its own to choose it by; once it is the
  // board, its button shows beside the others so that its chip is named too.
  if (auto* hidden = BoardButton(IDC_BOARD_QV6034)) hidden->setVisible(board->boardId == 128);
  if (button == IDC_BOARD_QV6035) {
    m_speedLabel->show();
    m_speed->show();
  }
  g_boardKind = kBoardKindSelected;
  g_selectedBoardId = board->boardId;
  g_ledCount = board->LedCount();

  QWidget* layoutHost = Host(IDC_HOST_LAYOUT);
  layoutHost->hide();
  if (board->relationship) {
    m_relationship->setText(QString::fromUtf8(board->relationship));
    m_relationship->hide();
  }
  if (g_pLayoutPage) g_pLayoutPage->ShowLeds();
  layoutHost->show();

  if (board->boardId == 128) {
    StartGpioOnly();
  } else {
    ModeBox(IDC_MODE_LED)->setEnabled(true);
    ModeBox(IDC_MODE_GPIO)->setEnabled(true);
    ShowPinModel();
    EnableDirectionBoxes(false);
    UpdateModeTexts();
    if (board->boardId == 0) {
      if (!g_pBrightnessPage) CreateBrightnessPage();
      DestroyBlinkPage();
      DestroyFadePage();
      Host(IDC_HOST_GPIO_INPUT)->hide();
      Host(IDC_HOST_GPIO_OUTPUT)->hide();
    } else {
      DestroyGpioPages();
      if (!g_pBrightnessPage) CreateBrightnessPage();
      if (!g_pFadeMode) CreateFadePage();
      if (!g_pBlinkMode) CreateBlinkPage();
    }
  }

  SetTimer(kBrightnessTimer, kBrightnessPeriodMs);
  if (g_bDevicePresent == 1) {
    emit BoardQueryRequested();
  } else if (m_status) {
    m_status->ShowNotConnected();
  }
}

// ---- mode boxes ------------------------------------------------------------------------

void CRound::UpdateModeTexts() {
  if (!g_pLayoutPage) return;
  if (ModeBox(IDC_MODE_LED)->isChecked()) g_pLayoutPage->SetGpioMode(false);
  else if (ModeBox(IDC_MODE_GPIO)->isChecked()) g_pLayoutPage->SetGpioMode(true);
}

// The board with 16 LED or GPIO pins works in GPIO mode only: the LED box
// cannot be chosen. Nothing is written until the person chooses GPIO (which
// writes the mode with inputs): the chip is not set up behind anyone's back,
// and the boxes show nothing the chip is not known to hold.
void CRound::StartGpioOnly() {
  ModeBox(IDC_MODE_LED)->setEnabled(false);
  ModeBox(IDC_MODE_GPIO)->setEnabled(true);
  EnableDirectionBoxes(false);
  DestroyBrightnessPage();
  DestroyFadePage();
  DestroyBlinkPage();
  DestroyGpioPages();
  ShowPinModel();
}

void CRound::OnModeLed() {
  m_relationship->hide();
  SetModeBoxes(true, false, true, false);
  EnableDirectionBoxes(false);
  Host(IDC_HOST_BLINK)->show();
  Host(IDC_HOST_FADE)->show();
  Host(IDC_HOST_BRIGHTNESS)->show();
  UpdateModeTexts();
  DestroyGpioPages();
  if (!g_pBrightnessPage) CreateBrightnessPage();
  if (g_selectedBoardId != 0) {
    if (!g_pFadeMode) CreateFadePage();
    if (!g_pBlinkMode) CreateBlinkPage();
  }
  ResetLedData();
  chip::WriteChipRegisters(chip::kRegMode, chip::kModeLed);
  ShowPinModel();
}

void CRound::OnModeGpio() {
  m_relationship->show();
  SetModeBoxes(false, true, ModeBox(IDC_DIR_INPUT)->isChecked(), ModeBox(IDC_DIR_OUTPUT)->isChecked());
  EnableDirectionBoxes(true);
  UpdateModeTexts();
  DestroyBrightnessPage();
  DestroyFadePage();
  DestroyBlinkPage();
  // The page of the direction the boxes show (the one that is written with
  // the mode): the output page when OUTPUT is checked, else the input page.
  const bool output = ModeBox(IDC_DIR_OUTPUT)->isChecked();
  if (output ? !g_pGpioOutputPage : !g_pGpioInputPage) {
    DestroyGpioPages();
    if (output) CreateGpioOutputPage();
    else CreateGpioInputPage();
  }
  WritePinSetup();
  ShowPinModel();
}

// The direction goes with the GPIO mode: the INPUT or OUTPUT box shows one,
// and a chip left with the other (from its reset, or an earlier OUTPUT) would
// have the input page read its own output levels.
void CRound::WritePinSetup() {
  if (ModeBox(IDC_MODE_LED)->isChecked()) {
    chip::WriteChipRegisters(chip::kRegMode, chip::kModeLed);
  } else if (ModeBox(IDC_MODE_GPIO)->isChecked()) {
    chip::WriteChipRegisters(chip::kRegMode, chip::kModeGpio);
    const bool output = ModeBox(IDC_DIR_OUTPUT)->isChecked();
    chip::WriteChipRegisters(chip::kRegDirection, output ? chip::kDirectionOutput : chip::kDirectionInput);
  }
}

// Identification writes nothing: what the page starts with is written when
// the person chooses it. The boxes show what is known of the chip (nothing,
// on a board just plugged in).
void CRound::OnBoardMatched() { ShowPinModel(); }

// The board went (or another was linked): the chip that comes next starts
// from its reset, and the page shows it as after a reset of its own, with
// nothing written (there is no board to write to).
void CRound::OnChipForgotten() {
  ResetPages();
  ShowChipModel();
}

void CRound::ShowPinModel() {
  const chip::RegisterJournal& journal = chip::Journal();
  const auto both = [&journal](std::uint8_t reg, std::uint8_t value) {
    const auto a = journal.Known(reg);
    const auto b = journal.Known(static_cast<std::uint8_t>(reg + 1));
    return a == value && b == value;
  };
  const bool inputs = both(chip::kRegDirection, chip::kDirectionInput[0]);
  const bool outputs = both(chip::kRegDirection, chip::kDirectionOutput[0]);
  SetModeBoxes(both(chip::kRegMode, chip::kModeLed[0]), both(chip::kRegMode, chip::kModeGpio[0]), inputs, outputs);
  // A GPIO page says which way the pins go; when the chip is known to have
  // them go another way (the Registers page wrote it), the page goes, and the
  // page of that way shows if there is one.
  const bool directionKnown = journal.Known(chip::kRegDirection) && journal.Known(chip::kRegDirection + 1);
  if (!directionKnown) return;
  if ((g_pGpioInputPage && !inputs) || (g_pGpioOutputPage && !outputs)) {
    DestroyGpioPages();
    if (inputs) CreateGpioInputPage();
    if (outputs) CreateGpioOutputPage();
  }
}

void CRound::OnDirectionInput() { SelectDirection(true); }
void CRound::OnDirectionOutput() { SelectDirection(false); }

void CRound::SelectDirection(bool input) {
  ModeBox(IDC_DIR_INPUT)->setChecked(input);
  ModeBox(IDC_DIR_OUTPUT)->setChecked(!input);
  DestroyGpioPages();
  if (input) CreateGpioInputPage();
  else CreateGpioOutputPage();
  chip::WriteChipRegisters(chip::kRegDirection, input ? chip::kDirectionInput : chip::kDirectionOutput);
  ShowPinModel();
}

// ---- I2C settings ------------------------------------------------------------------------

void CRound::SendI2cAddress() {
  if (!g_pCommunication.load()) return;
  const int index = std::clamp(g_i2cAddressIndex, 0, static_cast<int>(kI2cAddresses.size()) - 1);
  const std::uint8_t address = kI2cAddresses[static_cast<std::size_t>(index)];
  g_i2cAddress = address;
  SendChipCommand(kCmdSetChipAddress, &address, 1);
}

void CRound::OnAddressChanged(int index) {
  if (index < 0) return;
  g_i2cAddressIndex = index;
  SendI2cAddress();
}

void CRound::OnSpeedChanged(int index) {
  const QString text = m_speed->itemText(index);
  if (text == QLatin1String("400K")) g_i2cSpeed = kI2cSpeed400K;
  else if (text == QLatin1String("1M")) g_i2cSpeed = kI2cSpeed1M;
}

// ---- maximum current -------------------------------------------------------------------

void CRound::SetCurrentText(const QString& text) {
  if (m_current->text() == text) {
    OnCurrentTextChanged(text);  // the same text is still a change made by the program
  } else {
    m_current->setText(text);  // runs the handler
  }
}

void CRound::OnCurrentTextChanged(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok, 10);
  // Half-typed or empty text is no value yet.
  if (!ok || v < 0) return;
  if (v > kCurrentMax) {
    // The whole number counts: "260" is too much, not 4.
    platform::MessageBox("error data!!!", "err", platform::MessageIcon::Warning);
    SetCurrentText(QString::number(kCurrentMax));
    return;
  }
  m_settingCurrent = true;
  m_slider->setValue(v);  // below the slider's range it stays at its minimum
  m_settingCurrent = false;
  chip::WriteChipRegisters(chip::kRegGlobalControl, std::array{chip::CurrentRangeCode(v)});
}

// ---- reset ---------------------------------------------------------------------------------

void CRound::ResetPages() {
  // Whatever effect ran is gone with the reset (and its pages with it), and
  // no reply that comes now answers a question asked before it.
  g_bBlinkActive = 0;
  g_bFadeActive = 0;
  // A brightness change still waiting for the page's tick was meant for the
  // chip before the reset; sent after it, it would light every LED of the
  // fresh chip at the reset page's 255.
  g_bBrightnessPending = 0;
  chip::EndReplyWaits();
  // The LEDs go back to the page's 255, as edited and as last sent alike: no
  // LED counts as changed by the person (the next block would write it).
  for (int i = 0; i < g_ledCount && i < kMaxLeds; ++i) {
    g_ledBrightness[static_cast<std::size_t>(i)] = 0xFF;
    if (static_cast<std::size_t>(i) < g_ledBrightnessSent.size()) g_ledBrightnessSent[static_cast<std::size_t>(i)] = 0xFF;
  }
  if (g_pBrightnessPage) {
    DestroyBrightnessPage();
    CreateBrightnessPage();
    // The fresh dial's 255 is its start, not a value the person chose: the
    // layout page does not hand it on (and no write follows the reset).
    g_lastBrightness = g_currentBrightness;
  }
  if (g_pFadeMode) {
    DestroyFadePage();
    CreateFadePage();
  }
  if (g_pBlinkMode) {
    DestroyBlinkPage();
    CreateBlinkPage();
  }
  // The reset leaves the chip's pins in a mode the page does not claim to
  // know: both mode boxes are cleared below, and the GPIO pages and the
  // relationship table, which would say GPIO, go until a mode is chosen.
  if (g_pGpioInputPage || g_pGpioOutputPage) {
    DestroyGpioPages();
    ResetLedData();  // the pins' marks were the GPIO pages'
  }
  m_relationship->hide();
  RelayoutSubPages();
  SetCurrentText(QString::number(kCurrentMax));
  // Nothing is known of the pins' mode and direction after a reset: no box
  // is checked; the GPIO box writes inputs with the mode when it is chosen.
  SetModeBoxes(false, false, false, false);
  EnableDirectionBoxes(false);
}

void CRound::MarkPins(std::span<const std::uint8_t, chip::kMaxPins> marks, gpio::Redraw redraw) {
  gpio::ColourPins(g_pLayoutPage, marks, redraw);
}

void CRound::ShowEffectTimes(std::uint8_t ramp, std::uint8_t keep) {
  if (auto* blink = qobject_cast<BlinkMode*>(g_pBlinkMode)) blink->ShowTimes(ramp, keep);
  if (auto* fade = qobject_cast<FadeMode*>(g_pFadeMode)) fade->ShowTimes(ramp);
}

void CRound::OnSoftwareReset() {
  ResetPages();
  chip::WriteChipRegisters(chip::kRegSoftwareReset, std::array{chip::kSoftwareResetValue});
  ShowPinModel();
}

// ---- brightness ---------------------------------------------------------------------------

void CRound::ApplyLedBrightness() { WriteLedBrightness(); }

// "Global Max Current" shows the range the chip holds in 0x11 (written by
// this field, the fade chain, the GPIO output page or the register page), or
// plainly nothing when that is not known (after a reset or a re-plug, before
// anyone wrote it). A typed value in the same range is left as typed.
void CRound::ShowChipModel() {
  const chip::RegisterJournal& journal = chip::Journal();
  if (journal.Version() == m_modelVersion) return;
  m_modelVersion = journal.Version();
  ShowPinModel();
  const auto control = journal.Known(chip::kRegGlobalControl);
  const QSignalBlocker quietEdit(m_current);
  const QSignalBlocker quietSlider(m_slider);
  m_current->setPlaceholderText(QStringLiteral("?"));
  m_current->setToolTip(control ? QString() : QStringLiteral("Not known: the chip was reset or not written yet"));
  ShowSliderKnown(control.has_value());
  if (!control) {
    // Half-typed text that is no value yet stays; a value (typed and written
    // before the reset or the re-plug, or shown from the chip) is stale.
    bool typedValue = false;
    m_current->text().trimmed().toInt(&typedValue, 10);
    if (!m_current->isModified() || typedValue) {
      m_current->clear();
      m_current->setModified(false);
    }
    return;
  }
  const std::uint8_t code = *control & chip::kCurrentRangeMask;
  bool ok = false;
  const int shown = m_current->text().trimmed().toInt(&ok, 10);
  if (ok && shown >= 0 && shown <= kCurrentMax && chip::CurrentRangeCode(shown) == code) return;
  const int milliamps = chip::CurrentRangeMilliamps(code);
  m_current->setText(QString::number(milliamps));
  m_slider->setValue(milliamps);
}

// A slider always has a position; while the current is not known it shows
// none (an empty dashed track, no handle) rather than one that looks like a
// value. Dragging it still sets the current, which then shows again.
void CRound::ShowSliderKnown(bool known) {
  static const QString kNotKnown = QStringLiteral(
      "QSlider::groove:horizontal { border: 1px dashed #a0a0a0; height: 4px; background: transparent; }"
      "QSlider::handle:horizontal { background: transparent; border: none; width: 12px; margin: -6px 0; }");
  const QString sheet = known ? QString() : kNotKnown;
  if (m_slider->styleSheet() != sheet) m_slider->setStyleSheet(sheet);
  m_slider->setToolTip(known ? QString() : QStringLiteral("Not known: the chip was reset or not written yet"));
}

void CRound::OnTimer(std::uint32_t id) {
  if (id == kBrightnessTimer) {
    ShowChipModel();
    ShowInterrupts();
    ShowBoardSummary();
  }
  if (id == kInterruptTimer) {
    KillTimer(kInterruptTimer);
    m_interrupt->SetBitmaps(bitmaps::Bitmap(bitmaps::IDB_INTERRUPT_IDLE));
    m_interruptLit = false;
    return;
  }
  if (id != kBrightnessTimer || !g_bBrightnessPending) return;
  // The flag stays set while no board is identified, so the notice repeats;
  // not while a board that was just opened is being identified.
  if (WriteBrightnessNow(m_status && m_status->LinkComingUp())) {
    g_bBrightnessPending = 0;
    m_lastBrightnessWrite.start();
  }
}

void CRound::OnBrightnessPending() {
  // A change after a quiet spell goes out at once; those within the next
  // 100 ms gather and the tick at its end writes the last of them. So the
  // chip still sees at most ten brightness writes a second, and the tick,
  // started afresh here, keeps that spacing.
  if (!g_bBrightnessPending || g_bBoardMatched != 1) return;
  if (m_lastBrightnessWrite.isValid() && m_lastBrightnessWrite.elapsed() < kBrightnessPeriodMs) return;
  if (!WriteBrightnessNow(true)) return;
  g_bBrightnessPending = 0;
  m_lastBrightnessWrite.start();
  SetTimer(kBrightnessTimer, kBrightnessPeriodMs);
}

void CRound::OnEnterKey() { WriteBrightnessNow(); }

bool CRound::WriteBrightnessNow(bool quiet) {
  const int count = std::clamp(g_ledCount, 0, static_cast<int>(g_ledBrightnessSent.size()));
  // The whole block goes out: it must not undo what someone else set.
  TakeChipBrightness();
  std::copy_n(g_ledBrightness.begin(), count, g_ledBrightnessSent.begin());
  if (g_bBoardMatched == 1) {
    ApplyLedBrightness();
    return true;
  }
  if (m_status && !quiet) m_status->ShowNotConnected();
  return false;
}

void CRound::OnMessage(const platform::Message& message) {
  const auto* bytes = message.Bytes();
  if (message.id == platform::kMsgPageWriteAck) {
    // The pins' mode was written: any effect stops. Not when a reset came
    // after that write: the acknowledgement is the old chip's, and nothing is
    // written after a reset that the person did not set.
    const chip::RegisterJournal& journal = chip::Journal();
    const std::uint64_t written = journal.Get(chip::kRegMode).writeStamp;
    const bool beforeReset = written != 0 && journal.ResetStamp() >= written;
    if (bytes && bytes->size() > kI2cFirstRegister && (*bytes)[kI2cFirstRegister] == chip::kRegMode && !beforeReset)
      chip::WriteChipRegisters(chip::kRegEffectControl, std::array{chip::kEffectStop});
  } else if (message.id == platform::kMsgPageInterrupt) {
    if (bytes && !bytes->empty() && (*bytes)[0] == 1) {
      m_interrupt->SetBitmaps(bitmaps::Bitmap(bitmaps::IDB_INTERRUPT_ACTIVE));
      m_interruptLit = true;
      SetTimer(kInterruptTimer, kInterruptPeriodMs);
      NoteInterrupt();
    }
  }
}

// ---- interrupt log and board summary -------------------------------------------------------

namespace {
chip::PinLevelArray KnownPinLevels() {
  const chip::RegisterJournal& journal = chip::Journal();
  return chip::InputPinLevels(journal.Known(chip::kRegPort0Input), journal.Known(chip::kRegPort1Input), g_ledCount,
                              g_selectedBoardId);
}
}  // namespace

void CRound::NoteInterrupt() {
  // What was read of the ports before it is not current any more.
  chip::Journal().NoteInterrupt();
  m_interruptLog.Add(QDateTime::currentMSecsSinceEpoch(), KnownPinLevels());
  m_interruptStamp = chip::Journal().Version();
  ShowInterrupts();
}

void CRound::MarkInterruptsSeen() {
  m_interruptLog.MarkSeen();
  ShowInterrupts();
}

void CRound::ClearInterrupts() {
  m_interruptLog.Clear();
  ShowInterrupts();
}

void CRound::ShowInterrupts() {
  // Both ports read after the last interrupt: the log learns which pins
  // changed. Reads by anyone count (the input page, the register page).
  const chip::RegisterJournal& journal = chip::Journal();
  const std::uint64_t bothRead =
      std::min(journal.Get(chip::kRegPort0Input).readStamp, journal.Get(chip::kRegPort1Input).readStamp);
  if (bothRead > m_interruptStamp && bothRead != m_portsReadStamp) {
    m_portsReadStamp = bothRead;
    m_interruptLog.PortsRead(KnownPinLevels());
  }
  m_interruptList->Refresh();
  if (m_interruptLog.Version() == m_interruptsShown) return;
  m_interruptsShown = m_interruptLog.Version();
  const auto unseen = m_interruptLog.Unseen();
  const auto count = m_interruptLog.Count();
  // The indicator's 200 ms flash is easy to miss; the count is not.
  if (unseen > 0) {
    m_interruptCount->SetCtrlTextColor(QColor(210, 0, 0));
    m_interruptCount->setText(QStringLiteral("%1 new").arg(unseen));
  } else {
    m_interruptCount->SetCtrlTextColor(QColor(ui::kDefaultCtrlTextColour));
    m_interruptCount->setText(count > 0 ? QStringLiteral("%1 in all").arg(count) : QString());
  }
  m_interruptCount->setToolTip(unseen > 0 ? QStringLiteral("Click the indicator or the list to mark them seen")
                                          : QString());
  m_interruptClear->setVisible(count > 0);
}

void CRound::ShowBoardSummary() {
  chip::BoardFacts facts;
  if (g_bBoardMatched == 1) facts.boardId = g_selectedBoardId;
  facts.i2cAddress = g_i2cAddress.load();
  facts.i2cSpeed = g_i2cSpeed.load();
  if (m_boardLink) {
    const BoardLink link = m_boardLink();
    facts.firmware = link.firmware.toStdString();
    facts.devicePath = link.devicePath.toStdString();
    facts.serialNumber = link.serialNumber.toStdString();
  }
  QStringList lines;
  for (const auto& line : chip::BoardSummaryLines(facts)) lines << QString::fromStdString(line);
  const QString text = lines.join(QLatin1Char('\n'));
  if (text != m_boardSummary->text()) m_boardSummary->setText(text);
}

// ---- layout -----------------------------------------------------------------------------------

void CRound::RelayoutSubPages() {
  CentreInHost(g_pLayoutPage, IDC_HOST_LAYOUT);
  CentreInHost(g_pBrightnessPage, IDC_HOST_BRIGHTNESS);
  CentreInHost(g_pFadeMode, IDC_HOST_FADE);
  CentreInHost(g_pBlinkMode, IDC_HOST_BLINK);
  CentreInHost(g_pGpioInputPage, IDC_HOST_GPIO_INPUT);
  CentreInHost(g_pGpioOutputPage, IDC_HOST_GPIO_OUTPUT);
}

void CRound::RelayoutPage() {
  ScaleDialogLayout(this, g_ratioX, g_ratioY, false);
  RelayoutSubPages();
  // The "R" and the interrupt dot grow and shrink with the page (their
  // pictures are drawn to any size): square, in the place the layout gave.
  for (CBitmapButton* b : {m_reset, m_interrupt}) {
    const QRect r = b->geometry();
    const int side = std::min(r.width(), r.height());
    b->setGeometry(r.left(), r.top() + (r.height() - side) / 2, side, side);
  }
}

void CRound::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
}

// The pages show a setup the chip has just taken: the mode boxes and their
// sub-pages as the person's clicks would leave them (their writes repeat what the chip has
// just confirmed), the brightness the layout and the dial edit, and the
// current as given. The rest the pages read from the chip model themselves.
void CRound::ShowSetup(const setup::Setup& s) {
  // The boxes show the chip already; the pages follow the mode they show.
  ShowPinModel();
  const bool gpioPages = g_pGpioInputPage || g_pGpioOutputPage;
  if (s.mode == setup::PinMode::kLed && (gpioPages || !g_pBrightnessPage) && ModeBox(IDC_MODE_LED)->isEnabled())
    OnModeLed();
  if (s.mode == setup::PinMode::kGpio && !gpioPages) OnModeGpio();
  if (ModeBox(IDC_MODE_GPIO)->isChecked() && s.direction) {
    const bool input = *s.direction == setup::Direction::kInput;
    QCheckBox* box = ModeBox(input ? IDC_DIR_INPUT : IDC_DIR_OUTPUT);
    // The GPIO box leaves the direction boxes as they were and creates the
    // input page: the page that matches the setup is made anew.
    if (!box->isChecked() || (input ? !g_pGpioInputPage : !g_pGpioOutputPage)) {
      if (input) OnDirectionInput();
      else OnDirectionOutput();
    }
  }
  if (!s.brightness.empty()) {
    const auto n = std::min(s.brightness.size(), g_ledBrightnessSent.size());
    std::copy_n(s.brightness.begin(), n, g_ledBrightness.begin());
    std::copy_n(s.brightness.begin(), n, g_ledBrightnessSent.begin());
    g_bBrightnessPending = 0;
    const auto selected = static_cast<std::size_t>(std::clamp(g_selectedLed, 0, static_cast<int>(n) - 1));
    g_currentBrightness = g_lastBrightness = s.brightness[selected];
    // The selection stays as it was, and is drawn so (a Shift-built one
    // too: the dial acts on all of it).
    if (g_pLayoutPage) {
      g_pLayoutPage->RefreshLeds();
      if (g_bMultiSelection) {
        for (int i = 0; i < g_selectionCount && i < static_cast<int>(g_selectionList.size()); ++i)
          g_pLayoutPage->MarkLed(g_selectionList[static_cast<std::size_t>(i)]);
      } else {
        g_pLayoutPage->MarkLed(g_selectedLed);
      }
    }
  }
  if (s.maxCurrentMa && CurrentEdit()) {
    const QSignalBlocker quietEdit(CurrentEdit());
    const QSignalBlocker quietSlider(CurrentSlider());
    CurrentEdit()->setText(QString::number(*s.maxCurrentMa));
    CurrentSlider()->setValue(*s.maxCurrentMa);
  }
  ShowChipModel();
}

chip::ChipClaims CRound::Claims() const {
  chip::ChipClaims claims;
  auto pair = [&claims](const char* what, std::uint8_t reg, std::optional<std::uint8_t> value) {
    claims.push_back({what, reg, 0xFF, value});
    claims.push_back({what, static_cast<std::uint8_t>(reg + 1), 0xFF, value});
  };
  const bool led = ModeBox(IDC_MODE_LED)->isChecked();
  const bool gpio = ModeBox(IDC_MODE_GPIO)->isChecked();
  pair("LED/GPIO boxes", chip::kRegMode,
       led ? std::optional<std::uint8_t>(0x00) : gpio ? std::optional<std::uint8_t>(0xFF) : std::nullopt);
  const bool input = ModeBox(IDC_DIR_INPUT)->isChecked();
  const bool output = ModeBox(IDC_DIR_OUTPUT)->isChecked();
  pair("INPUT/OUTPUT boxes", chip::kRegDirection,
       input ? std::optional<std::uint8_t>(0xFF) : output ? std::optional<std::uint8_t>(0x00) : std::nullopt);
  // A GPIO page says which way the pins go: inputs or outputs.
  if (g_pGpioInputPage && g_pGpioInputPage->isVisible()) pair("input page shown", chip::kRegDirection, 0xFF);
  if (g_pGpioOutputPage && g_pGpioOutputPage->isVisible()) pair("output page shown", chip::kRegDirection, 0x00);
  bool ok = false;
  const int v = m_current->text().trimmed().toInt(&ok, 10);
  claims.push_back({"Global Max Current", chip::kRegGlobalControl, chip::kCurrentRangeMask,
                    ok && v >= 0 && v <= kCurrentMax ? std::optional<std::uint8_t>(chip::CurrentRangeCode(v))
                                                     : std::nullopt});
  return claims;
}
