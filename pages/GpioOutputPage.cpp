#include "pages/GpioOutputPage.h"

#include <QPainter>
#include <QSignalBlocker>

#include <algorithm>
#include <cstdio>

#include "pages/BoardGlobals.h"
#include "pages/GpioPins.h"
#include "pages/LedLayoutPage.h"
#include "ui/CMyRoundButton.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "link/LinkHost.h"
#include "platform/Messages.h"
#include "resources/dialogs/GpioOutputDialog.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyStatic.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

using namespace dialogs;

CQV512XX_Gpio_Output::CQV512XX_Gpio_Output(QWidget* parent, PageHost& host) : CPage(parent), m_host(host) {
  BuildStandardDialog(this, kGpioOutputDialog);
  m_mode = platform::Control<CMyComboBox>(this, IDC_GPIO_OUTPUT_MODE);
  m_level = platform::Control<CMyComboBox>(this, IDC_GPIO_OUTPUT_LEVEL);
  m_noMapping = platform::Control<CMyStaticFont>(this, IDC_GPIO_NO_MAPPING);
  // Every pick counts, the entry already shown too: the level box is shared
  // by all pins, and the driver type may have been changed by someone else.
  connect(m_mode, &QComboBox::activated, this, &CQV512XX_Gpio_Output::OnOutputModeChanged);
  connect(m_level, &QComboBox::activated, this, &CQV512XX_Gpio_Output::OnOutputLevelChanged);
  new gpio::LeftPressWatcher(m_level, [this] { m_host.MarkPins(g_outputHigh, gpio::Redraw::kPlain); });
  // The driver type is not kept per pin, but the marks stay while it is
  // chosen: they show which pins are high, and taking them away would say
  // that none is.
}

CQV512XX_Gpio_Output::~CQV512XX_Gpio_Output() {
  if (g_pGpioOutputPage == this) g_pGpioOutputPage = nullptr;
}

void CQV512XX_Gpio_Output::InitDialog() {
  ScaleDialogLayout(this, g_baseRatioX, g_baseRatioX, false);
  for (int id : {IDC_GPIO_MODE_LABEL, IDC_GPIO_LEVEL_LABEL, IDC_GPIO_NO_MAPPING})
    platform::Control<CMyStaticFont>(this, id)->SetCtrlFont(20, 7, 400, QStringLiteral("Arial"));
  for (CMyComboBox* box : {m_mode, m_level}) box->SetCtrlFont(20, 7, 400, QStringLiteral("Arial"));
  m_mode->addItem(QStringLiteral("open drain"));
  m_mode->addItem(QStringLiteral("push_pull"));
  m_mode->setCurrentIndex(kPushPull);
  m_level->addItem(QStringLiteral("low-level"));
  m_level->addItem(QStringLiteral("high-level"));
  m_level->setCurrentIndex(kLowLevel);
  for (CMyComboBox* box : {m_mode, m_level}) box->setPlaceholderText(QStringLiteral("not known"));
  g_outputHigh.fill(0);
  // Marks left by the other page (or an earlier one) would mean something
  // else here: the drawing shows this page's choices, none yet.
  m_host.MarkPins(g_outputHigh, gpio::Redraw::kPlain);
  // A board without an output-level mapping gets 0x00, 0x00 whatever is
  // chosen; the note says so instead of letting a marked pin suggest a level.
  m_noMapping->setVisible(!chip::HasOutputLevelMapping(g_selectedBoardId));
  ShowChipModel();
  SetTimer(kModelTimer, kModelPeriodMs);
}

void CQV512XX_Gpio_Output::ShowChipModel() {
  // A driver type on its way to the chip stays shown until it is written or
  // given up; then the model is shown again, changed or not.
  if (m_wait.Waiting()) {
    m_modelVersion = ~std::uint64_t{0};
    return;
  }
  const chip::RegisterJournal& journal = chip::Journal();
  const int pin = gpio::SelectedPin();
  if (journal.Version() == m_modelVersion && pin == m_modelPin) return;
  m_modelVersion = journal.Version();
  m_modelPin = pin;
  const QSignalBlocker quietMode(m_mode);
  const QSignalBlocker quietLevel(m_level);
  const auto control = journal.Known(chip::kRegGlobalControl);
  m_mode->setCurrentIndex(!control ? -1 : (*control & chip::kDriverPushPull) ? kPushPull : kOpenDrain);
  const auto low = journal.Known(chip::kRegOutputLevels);
  const auto high = journal.Known(chip::kRegOutputLevels + 1);
  if (!low || !high || !chip::HasOutputLevelMapping(g_selectedBoardId)) {
    m_level->setCurrentIndex(-1);
    // No level is known: no pin is marked as high.
    if (std::any_of(g_outputHigh.begin(), g_outputHigh.end(), [](std::uint8_t v) { return v != 0; })) {
      g_outputHigh.fill(0);
      m_host.MarkPins(g_outputHigh, gpio::Redraw::kPlain);
    }
    m_marked = false;
    return;
  }
  const auto high_pins = chip::OutputLevelPins({*low, *high}, g_ledCount, g_selectedBoardId);
  // The marks show the levels the chip holds, whoever set them (the fade
  // chain, a setup, the register page).
  if (high_pins != g_outputHigh || !m_marked) {
    g_outputHigh = high_pins;
    m_marked = true;
    m_host.MarkPins(g_outputHigh, pin >= 0 ? gpio::Redraw::kMarkSelected : gpio::Redraw::kPlain);
  }
  if (pin >= 0) m_level->setCurrentIndex(g_outputHigh[static_cast<std::size_t>(pin)] ? kHighLevel : kLowLevel);
}

void CQV512XX_Gpio_Output::OnTimer(std::uint32_t id) {
  if (id == kModelTimer) ShowChipModel();
}

void CQV512XX_Gpio_Output::OnOutputModeChanged(int index) {
  // Only a read that went out is waited for: otherwise a later reply to
  // someone else's read of 0x11 would be written back.
  if (!chip::ReadChipRegisters(chip::kRegGlobalControl, 1)) return;
  m_wait.Expect(chip::kRegGlobalControl);
  m_chosenMode = index;
}

void CQV512XX_Gpio_Output::OnMessage(const platform::Message& message) {
  if (message.id == platform::kMsgGpioOutputRead) OnRegisterRead(message);
}

void CQV512XX_Gpio_Output::OnRegisterRead(const platform::Message& message) {
  const auto* bytes = message.Bytes();
  const auto reply = bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
  // Only the answer to this page's own read: the blink and fade chains read
  // 0x11 too, and their answers must not rewrite the driver type.
  if (!reply || !m_wait.Take(*reply)) return;
  std::uint8_t value = reply->Value();
  if (m_chosenMode == kOpenDrain || m_chosenMode == kPushPull)
    value = chip::WithDriverType(value, m_chosenMode == kPushPull);
  char line[32];
  std::snprintf(line, sizeof line, "0x11 = %x\n", value);
  corvel::TraceLine(line);
  chip::WriteChipRegisters(chip::kRegGlobalControl, std::array{value});
}

void CQV512XX_Gpio_Output::OnOutputLevelChanged(int index) {
  const int pin = gpio::SelectedPin();
  if (pin < 0 || index < 0) return;
  if (!chip::Journal().Known(chip::kRegOutputLevels) || !chip::Journal().Known(chip::kRegOutputLevels + 1))
    g_outputHigh.fill(0);  // pins whose level is not known go out low, as on a fresh page
  g_outputHigh[static_cast<std::size_t>(pin)] = static_cast<std::uint8_t>(index);
  m_host.MarkPins(g_outputHigh, gpio::Redraw::kMarkSelected);
  const auto levels = chip::OutputLevelBytes(g_outputHigh, g_ledCount, g_selectedBoardId);
  char line[48];
  std::snprintf(line, sizeof line, "0x02 = %x, 0x03 =  %x\n", levels[0], levels[1]);
  corvel::TraceLine(line);
  chip::WriteChipRegisters(chip::kRegOutputLevels, levels);
}

void CQV512XX_Gpio_Output::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintFramedBackground(this, painter);
}

chip::ChipClaims CQV512XX_Gpio_Output::Claims() const {
  chip::ChipClaims claims;
  const int mode = m_mode->currentIndex();
  claims.push_back({"Output Mode", chip::kRegGlobalControl, chip::kDriverPushPull,
                    mode < 0 ? std::nullopt
                             : std::optional<std::uint8_t>(mode == kPushPull ? chip::kDriverPushPull : 0)});
  const auto& journal = chip::Journal();
  const bool levelsKnown = journal.Known(chip::kRegOutputLevels) && journal.Known(chip::kRegOutputLevels + 1);
  const int selected = gpio::SelectedPin();
  for (int pin = 0; pin < g_ledCount && pin < chip::kMaxPins; ++pin) {
    const auto bit = chip::OutputLevelBit(pin, g_selectedBoardId);
    if (!bit) continue;
    const auto reg = static_cast<std::uint8_t>(chip::kRegOutputLevels + bit->byte);
    const auto mask = static_cast<std::uint8_t>(1u << bit->bit);
    if (pin == selected) {
      const int level = m_level->currentIndex();
      claims.push_back({"level box of pin " + std::to_string(pin), reg, mask,
                        level < 0 ? std::nullopt : std::optional<std::uint8_t>(level == kHighLevel ? mask : 0)});
    }
    // A red mark says high; no mark says low where the levels are known.
    const bool marked = g_pLayoutPage && g_pLayoutPage->LedButton(pin)->ButtonColor() == QColor(gpio::kMarkedPin);
    claims.push_back({"mark of pin " + std::to_string(pin), reg, mask,
                      marked ? std::optional<std::uint8_t>(mask)
                             : levelsKnown ? std::optional<std::uint8_t>(0) : std::nullopt});
  }
  return claims;
}
