#include "board/RoundPage.h"

#include <QPainter>

#include "board/BoardGlobals.h"
#include "link/CommandSet.h"
#include "link/BoardIds.h"
#include "link/LinkHost.h"
#include "link/QVCommunication.h"
#include "platform/Messages.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/Scaling.h"

using namespace dialogs;

namespace {

constexpr CRound::ChipBoard kBoardButtons[] = {
    {IDC_BOARD_QV6031, "A line pattern board with 3 RGB's LEDs", 0},
    {IDC_BOARD_QV6032, "A line pattern board with 4 RGB's LEDs", 3},
    {IDC_BOARD_QV6033, "A line pattern board with 6 RGB's LEDs", 1},
    {IDC_BOARD_QV6035, nullptr, 5},
    {IDC_BOARD_QV6034, "A line pattern board with 16 LED or GPIO", 128},
};

constexpr std::uint8_t kRegEffectControl = 0x14;
constexpr std::uint8_t kRegBrightness = 0x20;
constexpr std::uint8_t kRegMode = 0x12;

}  // namespace

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

CRound::CRound(QWidget* parent) : CPage(parent) {
  BuildStandardDialog(this, kRoundPageDialog);
  m_address = platform::Control<CMyComboBox>(this, IDC_I2C_ADDRESS);
  m_speed = platform::Control<CMyComboBox>(this, IDC_I2C_SPEED);
  m_speedLabel = platform::Control<CMyStaticFont>(this, IDC_I2C_SPEED_LABEL);
  for (const auto& b : kBoardButtons) {
    if (auto* button = BoardButton(b.button))
      connect(button, &QAbstractButton::clicked, this, [this, id = b.button] { SelectChipBoard(id); });
  }
}

CRound::~CRound() = default;

CMyRectButton* CRound::BoardButton(int id) const { return platform::Control<CMyRectButton>(this, id); }

void CRound::InitDialog() {
  for (int id : {IDC_I2C_ADDRESS_LABEL, IDC_I2C_SPEED_LABEL})
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

  ResetLedState();
  if (auto* b = BoardButton(IDC_BOARD_QV6033)) b->SetChecked(true);
  g_boardKind = kBoardKindPage;
  g_ledCount = 6;

  for (const auto& b : kBoardButtons)
    if (b.tooltip)
      if (auto* button = BoardButton(b.button)) button->setToolTip(QString::fromUtf8(b.tooltip));

  RelayoutPage();
  SetTimer(kBrightnessTimer, kBrightnessPeriodMs);
}

void CRound::ResetLedState() {
  for (const auto& b : kBoardButtons)
    if (auto* button = BoardButton(b.button)) button->SetChecked(false);
  m_speedLabel->hide();
  m_speed->hide();
  g_selectedLed = 0;
  g_ledBrightnessSent.fill(0xFF);
  for (int i = 0; i < g_ledCount && i < kMaxLeds; ++i) {
    g_ledBrightness[static_cast<std::size_t>(i)] = 0xFF;
    g_ledColors[static_cast<std::size_t>(i)] = QColor(0, 0, 0);
  }
}

void CRound::SelectChipBoard(int button) {
  const ChipBoard* board = FindBoardByButton(button);
  if (!board || g_bBoardMatched == 1) return;
  KillTimer(kBrightnessTimer);
  ResetLedState();  // with the previous board's LED count
  if (auto* b = BoardButton(button)) b->SetChecked(true);
  if (button == IDC_BOARD_QV6035) {
    m_speedLabel->show();
    m_speed->show();
  }
  g_boardKind = kBoardKindSelected;
  g_selectedBoardId = board->boardId;
  g_ledCount = board->LedCount();
  if (auto* host = platform::FindControl(this, IDC_HOST_LAYOUT)) {
    host->hide();
    host->show();
  }
  SetTimer(kBrightnessTimer, kBrightnessPeriodMs);
  if (g_bDevicePresent == 1) {
    if (g_pMainServices) g_pMainServices->SendBoardQuery();
  } else if (g_pMainServices) {
    g_pMainServices->ShowNotConnected();
  }
}

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

void CRound::WriteChipRegisters(std::uint8_t reg, std::span<const std::uint8_t> data) {
  if (g_bBoardMatched != 1 || !g_pCommunication.load() || !ChipRegistryExists()) return;
  if (data.size() > kMaxI2cTransferData) return;
  std::uint8_t record[kI2cRecordSize] = {1, g_i2cAddress.load(), reg, static_cast<std::uint8_t>(data.size()), 0, 0};
  SendI2cTransfer(kCmdWriteRegisters, record, data.data());
}

void CRound::ApplyLedBrightness() {
  const std::uint8_t zero = 0x00;
  WriteChipRegisters(kRegEffectControl, std::span(&zero, 1));
  const auto count = static_cast<std::size_t>(std::clamp(g_ledCount, 0, static_cast<int>(g_ledBrightnessSent.size())));
  WriteChipRegisters(kRegBrightness, std::span(g_ledBrightnessSent.data(), count));
}

void CRound::OnTimer(std::uint32_t id) {
  if (id != kBrightnessTimer || !g_bBrightnessPending) return;
  // The flag stays set while no board is identified, so the notice repeats.
  if (WriteBrightnessNow()) g_bBrightnessPending = 0;
}

void CRound::OnEnterKey() { WriteBrightnessNow(); }

bool CRound::WriteBrightnessNow() {
  const int count = std::clamp(g_ledCount, 0, static_cast<int>(g_ledBrightnessSent.size()));
  std::copy_n(g_ledBrightness.begin(), count, g_ledBrightnessSent.begin());
  if (g_bBoardMatched == 1) {
    ApplyLedBrightness();
    return true;
  }
  if (g_pMainServices) g_pMainServices->ShowNotConnected();
  return false;
}

void CRound::OnMessage(const platform::Message& message) {
  if (message.id == platform::kMsgPageWriteAck) {
    const auto* bytes = message.Bytes();
    if (bytes && bytes->size() > kI2cFirstRegister && (*bytes)[kI2cFirstRegister] == kRegMode) {
      const std::uint8_t zero = 0x00;
      WriteChipRegisters(kRegEffectControl, std::span(&zero, 1));
    }
  }
}

void CRound::RelayoutPage() { ScaleDialogLayout(this, g_ratioX, g_ratioY, false); }

void CRound::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
}
