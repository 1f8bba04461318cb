#include "pages/RegisterPage.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

#include <array>

#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "link/LinkHost.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "resources/dialogs/RegisterPageDialog.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/PageTable.h"
#include "ui/Scaling.h"
#include "ui/StatusSink.h"
#include "ui/TextControlColours.h"

using namespace dialogs;

namespace {

constexpr QRgb kMutedText = qRgb(165, 165, 165);
constexpr QRgb kFailureText = qRgb(210, 0, 0);
// Reference widths (pixels at 1920 x 1040) of every column but the last.
constexpr int kColumnWidths[CRegisterPage::kColumnCount - 1] = {90, 250, 100, 130, 130};

constexpr const char* kNotReadable = "The register map has this register write-only: it is not read.";
constexpr const char* kNotWritable = "The register map has this register read-only.";
constexpr const char* kBeforeReset =
    "Noted before the last software reset: the chip may hold its reset value now.";

QString Hex2(unsigned v) { return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper(); }

QString ValueText(std::uint8_t v) { return Hex2(v) + QStringLiteral("  (%1)").arg(v); }

bool Readable(chip::Access a) { return a != chip::Access::kWrite; }
bool Writable(chip::Access a) { return a != chip::Access::kRead; }

// The written value's editor: hex or decimal, and the write goes through the
// page rather than into the cell, which shows what the journal holds.
class RegisterValueDelegate final : public CPageCellDelegate {
 public:
  explicit RegisterValueDelegate(CRegisterPage* page) : CPageCellDelegate(page), m_page(page) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
    auto* edit = new QLineEdit(parent);
    edit->setFont(m_page->Table()->font());
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("(0[xX][0-9A-Fa-f]{0,2}|[0-9]{0,3}|[0-9A-Fa-f]{1,2}[hH]?)")), edit));
    return edit;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    // The hex part of "0x5A  (90)", ready to be typed over.
    static_cast<QLineEdit*>(editor)->setText(index.data(Qt::DisplayRole).toString().section(QLatin1Char(' '), 0, 0));
    static_cast<QLineEdit*>(editor)->selectAll();
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    const auto address = index.siblingAtColumn(CRegisterPage::kAddress).data(Qt::UserRole);
    if (!address.isValid()) return;
    m_page->WriteRegisterText(static_cast<std::uint8_t>(address.toUInt()), static_cast<QLineEdit*>(editor)->text());
  }

 private:
  CRegisterPage* m_page;
};

}  // namespace

CRegisterPage::CRegisterPage(QWidget* parent, StatusSink* status) : CPage(parent), m_statusSink(status) {
  BuildStandardDialog(this, kRegisterPageDialog);
  m_readAll = platform::Control<CMyRectButton>(this, IDC_REGISTERS_READ_ALL);
  m_status = platform::Control<CMyStaticFont>(this, IDC_REGISTERS_STATUS);

  const auto registers = chip::RegisterTable();
  QWidget* host = platform::FindControl(this, IDC_REGISTERS_TABLE);
  auto* layout = new QVBoxLayout(host);
  layout->setContentsMargins(0, 0, 0, 0);
  m_table = new QTableWidget(static_cast<int>(registers.size()), kColumnCount, host);
  layout->addWidget(m_table);
  m_table->setHorizontalHeaderLabels({QStringLiteral("Register"), QStringLiteral("Name"), QStringLiteral("Access"),
                                      QStringLiteral("Read"), QStringLiteral("Written"), QStringLiteral("Fields")});
  for (int row = 0; row < static_cast<int>(registers.size()); ++row) {
    const chip::RegisterInfo& r = registers[static_cast<std::size_t>(row)];
    for (int column = 0; column < kColumnCount; ++column) {
      auto* item = new QTableWidgetItem();
      Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
      if (column == kWritten && Writable(r.access)) flags |= Qt::ItemIsEditable;
      item->setFlags(flags);
      m_table->setItem(row, column, item);
    }
    m_table->item(row, kAddress)->setText(Hex2(r.address));
    m_table->item(row, kAddress)->setData(Qt::UserRole, r.address);
    m_table->item(row, kName)->setText(QString::fromUtf8(r.name));
    m_table->item(row, kAccess)->setText(QString::fromUtf8(chip::AccessText(r.access)));
  }
  connect(m_readAll, &QAbstractButton::clicked, this, &CRegisterPage::ReadAll);
}

void CRegisterPage::InitDialog() {
  platform::Control<CMyStaticFont>(this, IDC_REGISTERS_TITLE)->SetCtrlFont(26, 10, 700, "Arial");
  for (int id : {IDC_REGISTERS_NOTE, IDC_REGISTERS_STATUS})
    platform::Control<CMyStaticFont>(this, id)->SetCtrlFont(18, 7, 400, "Arial");
  m_readAll->SetButtonFont(18, 7, 500, "Arial");
  m_readAll->setToolTip(QStringLiteral("Read every readable register from the chip"));

  SetUpPageTable(m_table);
  m_table->setItemDelegateForColumn(kWritten, new RegisterValueDelegate(this));
  m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  for (int c = 0; c < kColumnCount - 1; ++c) m_table->setColumnWidth(c, static_cast<int>(kColumnWidths[c] * g_scaleX));

  RelayoutPage();
  Refresh();
}

void CRegisterPage::RelayoutPage() { ScaleDialogLayout(this, g_ratioX, g_ratioY, false); }

int CRegisterPage::RowOf(std::uint8_t reg) const {
  const auto registers = chip::RegisterTable();
  for (std::size_t i = 0; i < registers.size(); ++i)
    if (registers[i].address == reg) return static_cast<int>(i);
  return -1;
}

void CRegisterPage::SetStatus(const QString& text, bool failure) {
  m_status->setText(text);
  m_status->SetCtrlTextColor(failure ? QColor(kFailureText) : QColor(ui::kDefaultCtrlTextColour));
}

void CRegisterPage::Refresh() {
  const chip::RegisterJournal& journal = chip::Journal();
  m_shownVersion = journal.Version();
  const std::uint64_t reset = journal.ResetStamp();
  QFont muted = m_table->font();
  muted.setItalic(true);
  const auto registers = chip::RegisterTable();
  for (int row = 0; row < static_cast<int>(registers.size()); ++row) {
    const chip::RegisterInfo& info = registers[static_cast<std::size_t>(row)];
    const chip::RegisterRecord record = journal.Get(info.address);
    // One cell: its text, and whether it is greyed with a reason.
    auto show = [&](int column, const QString& text, const char* why, bool italic) {
      QTableWidgetItem* item = m_table->item(row, column);
      if (item->text() != text) item->setText(text);
      item->setData(Qt::ForegroundRole, why ? QVariant(QColor(kMutedText)) : QVariant());
      item->setData(Qt::FontRole, italic ? QVariant(muted) : QVariant());
      item->setToolTip(why ? QString::fromUtf8(why) : QString());
    };
    // A value the map rules out is still shown if the program saw one.
    auto value = [&](int column, const std::optional<std::uint8_t>& v, std::uint64_t stamp, bool allowed,
                     const char* notAllowed) {
      if (!v) return show(column, allowed ? QString() : QStringLiteral("\u2014"), allowed ? nullptr : notAllowed, false);
      const bool stale = stamp < reset;
      show(column, ValueText(*v), stale ? kBeforeReset : nullptr, stale);
    };
    value(kRead, record.read, record.readStamp, Readable(info.access), kNotReadable);
    value(kWritten, record.written, record.writeStamp, Writable(info.access), kNotWritable);

    const auto latest = record.Latest();
    const std::uint64_t latestStamp = std::max(record.readStamp, record.writeStamp);
    if (!latest) {
      show(kFields, QString(), nullptr, false);
    } else {
      const bool stale = latestStamp < reset;
      show(kFields, QString::fromStdString(chip::DescribeValue(info.address, *latest)), stale ? kBeforeReset : nullptr,
           stale);
    }
  }
}

// ---- requests ---------------------------------------------------------------

bool CRegisterPage::RequireBoard() {
  if (chip::AccessAllowed()) return true;
  if (m_statusSink) m_statusSink->ShowNotConnected();
  SetStatus(QStringLiteral("No lamp board identified: registers are read and written once a board is connected "
                           "and identified."),
            true);
  return false;
}

void CRegisterPage::ReadAll() {
  if (Reading()) return;  // the one in progress goes on
  if (!RequireBoard()) return;
  // Neighbouring readable registers go in one request.
  m_toRead.clear();
  for (const chip::RegisterInfo& r : chip::RegisterTable()) {
    if (!Readable(r.access)) continue;
    if (!m_toRead.empty() && m_toRead.back().first + m_toRead.back().count == r.address)
      ++m_toRead.back().count;
    else
      m_toRead.push_back({r.address, 1});
  }
  m_registersRead = 0;
  SendNextRead();
}

void CRegisterPage::SendNextRead() {
  if (m_toRead.empty()) {
    Refresh();
    SetStatus(QStringLiteral("Read %1 registers at %2.")
                  .arg(m_registersRead)
                  .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
    return;
  }
  const Block block = m_toRead.front();
  m_toRead.erase(m_toRead.begin());
  if (!chip::ReadChipRegisters(block.first, block.count)) {
    m_toRead.clear();
    if (RequireBoard())
      SetStatus(QStringLiteral("The link refused the read (too many commands waiting for an answer); try again."),
                true);
    return;
  }
  m_readWait.Expect(block.first);
  m_readCount = block.count;
  SetTimer(kReadTimer, kReadTimeoutMs);
  SetStatus(QStringLiteral("Reading from register %1\u2026").arg(Hex2(block.first)));
}

bool CRegisterPage::WriteRegisterText(std::uint8_t reg, const QString& typed) {
  QString text = typed.trimmed();
  bool ok = false;
  unsigned value = 0;
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    value = text.mid(2).toUInt(&ok, 16);
  } else if (text.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)) {
    value = text.chopped(1).toUInt(&ok, 16);
  } else {
    value = text.toUInt(&ok, 10);
  }
  if (!ok || value > 0xFF) {
    platform::MessageBox("Enter a value from 0 to 255, or 0x00 to 0xFF in hex.", "Write register",
                         platform::MessageIcon::Warning);
    return false;
  }
  return WriteRegister(reg, static_cast<std::uint8_t>(value));
}

bool CRegisterPage::WriteRegister(std::uint8_t reg, std::uint8_t value) {
  const chip::RegisterInfo* info = chip::FindRegister(reg);
  if (!info || !Writable(info->access)) return false;
  if (reg == chip::kRegSoftwareReset &&
      platform::MessageBox("Writing register 0x7F resets the chip: every register goes back to its reset value. "
                           "Reset the chip?",
                           "Software reset", platform::MessageIcon::Question,
                           platform::MessageButtons::YesNo) != platform::MessageResult::Yes) {
    SetStatus(QStringLiteral("The chip was not reset."));
    return false;
  }
  if (!RequireBoard()) return false;
  if (reg == chip::kRegSoftwareReset && value == chip::kSoftwareResetValue &&
      isSignalConnected(QMetaMethod::fromSignal(&CRegisterPage::SoftwareResetRequested))) {
    emit SoftwareResetRequested();
  } else if (!chip::WriteChipRegisters(reg, std::array{value})) {
    SetStatus(QStringLiteral("The link refused the write (too many commands waiting for an answer); try again."),
              true);
    return false;
  }
  m_writeWait.Expect(reg);
  m_writtenValue = value;
  SetStatus(QStringLiteral("Writing %1 to register %2\u2026").arg(Hex2(value), Hex2(reg)));
  Refresh();
  return true;
}

// ---- replies ------------------------------------------------------------------

void CRegisterPage::RelayRegisterReply(const platform::Message& reply) {
  std::uint32_t relay = 0;
  switch (reply.id) {
    case platform::kMsgRegisterRead: relay = platform::kMsgRegisterPageRead; break;
    case platform::kMsgRegisterReadFailed: relay = platform::kMsgRegisterPageReadFailed; break;
    case platform::kMsgRegisterWritten: relay = platform::kMsgRegisterPageWritten; break;
    default: return;
  }
  platform::PostMessage(Handle(), relay, 0, reply.lParam);
}

void CRegisterPage::OnMessage(const platform::Message& message) {
  const auto* bytes = message.Bytes();
  switch (message.id) {
    case platform::kMsgRegisterPageRead: {
      const auto reply = bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
      if (!reply) return;
      // The main window noted the value in the journal when the reply came.
      if (reply->data.size() == m_readCount && m_readWait.Take(*reply)) {
        KillTimer(kReadTimer);
        m_registersRead += m_readCount;
        SendNextRead();
      }
      if (isVisible()) Refresh();
      return;
    }
    case platform::kMsgRegisterPageReadFailed: {
      // The main window ends every wait on a failure before this relay
      // arrives: the read it ended is the one that failed.
      const auto failed = m_readWait.Waiting() ? m_readWait.Register() : m_readWait.Ended();
      if (m_writeWait.Ended()) {
        SetStatus(QStringLiteral("The board could not write register %1: the write failed.")
                      .arg(Hex2(*m_writeWait.Ended())),
                  true);
        m_writeWait.Clear();
      }
      if (!failed) return;
      KillTimer(kReadTimer);
      SetStatus(QStringLiteral("The board could not read register %1 at chip address %2: reading stopped.")
                    .arg(Hex2(*failed), Hex2(g_i2cAddress.load())),
                true);
      m_readWait.Clear();
      m_toRead.clear();
      return;
    }
    case platform::kMsgRegisterPageWritten: {
      const auto reply = bytes ? chip::ParseRegisterReply(*bytes) : std::nullopt;
      if (reply && m_writeWait.Take(*reply))
        SetStatus(QStringLiteral("Register %1 written: %2.").arg(Hex2(reply->first), Hex2(m_writtenValue)));
      return;
    }
    default: return;
  }
}

void CRegisterPage::OnTimer(std::uint32_t id) {
  if (id == kRefreshTimer) {
    if (chip::Journal().Version() != m_shownVersion) Refresh();
  } else if (id == kReadTimer) {
    KillTimer(kReadTimer);
    const auto lost = m_readWait.Waiting() ? m_readWait.Register() : m_readWait.Ended();
    if (!lost) return;
    SetStatus(QStringLiteral("No answer to the read of register %1 within %2 s: reading stopped.")
                  .arg(Hex2(*lost))
                  .arg(kReadTimeoutMs / 1000),
              true);
    m_readWait.Clear();
    m_toRead.clear();
  }
}

void CRegisterPage::showEvent(QShowEvent* event) {
  Refresh();
  SetTimer(kRefreshTimer, kRefreshPeriodMs);
  CPage::showEvent(event);
}

void CRegisterPage::hideEvent(QHideEvent* event) {
  KillTimer(kRefreshTimer);
  CPage::hideEvent(event);
}

void CRegisterPage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
}
