#include "pages/GpioInputPage.h"

#include <QPainter>
#include <QSignalBlocker>

#include "pages/BoardGlobals.h"
#include "pages/GpioPins.h"
#include "chip/PinLevels.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "platform/Messages.h"
#include "resources/dialogs/GpioInputDialog.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStatic.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

using namespace dialogs;

CQV512XX_Gpio_Input::CQV512XX_Gpio_Input(QWidget* parent, PageHost& host) : CPage(parent), m_host(host) {
  BuildStandardDialog(this, kGpioInputDialog);
  m_interrupt = platform::Control<CMyComboBox>(this, IDC_GPIO_INTERRUPT);
  m_read = platform::Control<CMyRectButton>(this, IDC_GPIO_READ_INPUT);
  m_port0 = platform::Control<CMyStaticFont>(this, IDC_GPIO_PORT0_TEXT);
  m_port1 = platform::Control<CMyStaticFont>(this, IDC_GPIO_PORT1_TEXT);
  connect(m_read, &QAbstractButton::clicked, this, &CQV512XX_Gpio_Input::OnReadInputState);
  // Every pick counts, the entry already shown too: the box is shared by all
  // pins, so it may show another pin's choice.
  connect(m_interrupt, &QComboBox::activated, this, &CQV512XX_Gpio_Input::OnInterruptChanged);
  // Before the list opens, the drawing shows which pins are disabled.
  new gpio::LeftPressWatcher(m_interrupt, [this] { m_host.MarkPins(g_interruptDisabled, gpio::Redraw::kPlain); });
  m_interrupt->setCursor(Qt::ArrowCursor);
}

CQV512XX_Gpio_Input::~CQV512XX_Gpio_Input() {
  if (g_pGpioInputPage == this) g_pGpioInputPage = nullptr;
}

void CQV512XX_Gpio_Input::InitDialog() {
  ScaleDialogLayout(this, g_baseRatioX, g_baseRatioX, false);
  for (int id : {IDC_GPIO_INTERRUPT_LABEL, IDC_GPIO_PORT0_TEXT, IDC_GPIO_PORT1_TEXT})
    platform::Control<CMyStaticFont>(this, id)->SetCtrlFont(20, 7, 400, QStringLiteral("Arial"));
  m_interrupt->SetCtrlFont(20, 7, 400, QStringLiteral("Arial"));
  m_interrupt->addItem(QStringLiteral("Enable"));
  m_interrupt->addItem(QStringLiteral("Disable"));
  m_interrupt->setCurrentIndex(kEnable);
  m_interrupt->setPlaceholderText(QStringLiteral("not known"));
  g_interruptDisabled.fill(0);
  // Marks left by the other page (or an earlier one) would mean something
  // else here: the drawing shows this page's choices, none yet.
  m_host.MarkPins(g_interruptDisabled, gpio::Redraw::kPlain);
  ShowChipModel();
  SetTimer(kModelTimer, kModelPeriodMs);
  // The switch to GPIO input must not be followed by a brightness write.
  g_bBrightnessPending = 0;
}

void CQV512XX_Gpio_Input::ShowChipModel() {
  const chip::RegisterJournal& journal = chip::Journal();
  const int pin = gpio::SelectedPin();
  if (journal.Version() == m_modelVersion && pin == m_modelPin) return;
  m_modelVersion = journal.Version();
  m_modelPin = pin;
  ShowPortAge(journal);
  const auto low = journal.Known(chip::kRegInterruptDisable);
  const auto high = journal.Known(chip::kRegInterruptDisable + 1);
  const QSignalBlocker quiet(m_interrupt);
  if (!low || !high) {
    m_interrupt->setCurrentIndex(-1);
    return;
  }
  // What the chip holds is what the next write starts from.
  g_interruptDisabled = chip::InterruptDisabledPins({*low, *high}, g_ledCount, g_selectedBoardId);
  if (pin >= 0) m_interrupt->setCurrentIndex(g_interruptDisabled[static_cast<std::size_t>(pin)] ? kDisable : kEnable);
}

// A port text read before the pins could have changed says so: it shows what
// the port held then, not now.
void CQV512XX_Gpio_Input::ShowPortAge(const chip::RegisterJournal& journal) {
  const QString earlier = QStringLiteral(" (earlier)");
  for (int port = 0; port < 2; ++port) {
    CMyStaticFont* label = PortText(port);
    QString text = label->text();
    if (text.endsWith(earlier)) text.chop(earlier.size());
    const QString prefix = QString::fromStdString(chip::PortInputText(port, 0)).chopped(1);
    if (!text.startsWith(prefix)) continue;
    if (!chip::CurrentPortValue(journal, static_cast<std::uint8_t>(port))) text += earlier;
    if (text != label->text()) label->setText(text);
  }
}

void CQV512XX_Gpio_Input::OnTimer(std::uint32_t id) {
  if (id == kModelTimer) ShowChipModel();
}

void CQV512XX_Gpio_Input::Read(std::uint8_t port) {
  // Only a read that went out is waited for: otherwise a later reply to
  // someone else's read would pass for it.
  if (chip::ReadChipRegisters(port, 1)) m_wait.Expect(port);
}

void CQV512XX_Gpio_Input::OnReadInputState() { Read(chip::kRegPort0Input); }

void CQV512XX_Gpio_Input::OnInterruptChanged(int index) {
  const int pin = gpio::SelectedPin();
  if (pin < 0 || index < 0) return;
  // Pins whose setting is not known go out enabled, as on a fresh page.
  if (!chip::Journal().Known(chip::kRegInterruptDisable) || !chip::Journal().Known(chip::kRegInterruptDisable + 1))
    g_interruptDisabled.fill(0);
  g_interruptDisabled[static_cast<std::size_t>(pin)] = static_cast<std::uint8_t>(index);
  m_host.MarkPins(g_interruptDisabled, gpio::Redraw::kMarkSelected);
  chip::WriteChipRegisters(chip::kRegInterruptDisable, chip::InterruptDisableBytes(g_interruptDisabled, g_ledCount, g_selectedBoardId));
}

void CQV512XX_Gpio_Input::OnMessage(const platform::Message& message) {
  if (message.id == platform::kMsgGpioInputRead) OnRegisterRead(message);
}

void CQV512XX_Gpio_Input::OnRegisterRead(const platform::Message& message) {
  const auto* bytes = message.Bytes();
  const auto reply = bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
  // Replies to reads the page did not make (the main window hands it every
  // one) change nothing.
  if (!reply || !m_wait.Take(*reply)) return;
  if (reply->first == chip::kRegPort0Input) {
    m_port0->setText(QString::fromStdString(chip::PortInputText(0, reply->Value())));
    update();
    Read(chip::kRegPort1Input);
  } else if (reply->first == chip::kRegPort1Input) {
    m_port1->setText(QString::fromStdString(chip::PortInputText(1, reply->Value())));
    update();
  }
}

void CQV512XX_Gpio_Input::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintFramedBackground(this, painter);
}

chip::ChipClaims CQV512XX_Gpio_Input::Claims() const {
  chip::ChipClaims claims;
  const int pin = gpio::SelectedPin();
  if (pin >= 0 && pin < g_ledCount)
    if (const auto bit = chip::InterruptDisableBit(pin, g_selectedBoardId)) {
      const auto mask = static_cast<std::uint8_t>(1u << bit->bit);
      const int index = m_interrupt->currentIndex();
      claims.push_back({"Interrupt box of pin " + std::to_string(pin),
                        static_cast<std::uint8_t>(chip::kRegInterruptDisable + bit->byte), mask,
                        index < 0 ? std::nullopt : std::optional<std::uint8_t>(index == kDisable ? mask : 0)});
    }
  // A port text that reads "P0D1: 0x.." says what the port holds now.
  for (int port = 0; port < 2; ++port) {
    const QString text = PortText(port)->text();
    const QString prefix = QString::fromStdString(chip::PortInputText(port, 0)).chopped(1);
    if (!text.startsWith(prefix)) continue;
    bool ok = false;
    const uint value = text.mid(prefix.size()).toUInt(&ok, 16);
    if (ok) claims.push_back({port == 0 ? "P0 text" : "P1 text", static_cast<std::uint8_t>(port), 0xFF,
                              static_cast<std::uint8_t>(value)});
  }
  return claims;
}
