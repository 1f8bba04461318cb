// The register page: every register of the chip's register map with its
// address, name and access, the value the chip last returned, the value the
// program last wrote (from any page), and what the newer of the two means.
// "Read all" reads every readable register; a written value can be edited
// and is written to the chip at once (the software reset asks first).
//
// It reads and writes through chip/ like every page, only while a board is
// identified, and acts only on the replies to its own requests: the other
// pages do the same, so its reads change nothing for them.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "chip/ChipAccess.h"
#include "ui/Page.h"

class CMyRectButton;
class CMyStaticFont;
class QTableWidget;
class StatusSink;

class CRegisterPage : public CPage {
  Q_OBJECT
 public:
  static constexpr std::uint32_t kRefreshTimer = 1;  // redraw from the journal while shown
  static constexpr std::uint32_t kRefreshPeriodMs = 100;
  static constexpr std::uint32_t kReadTimer = 2;  // a read unanswered by then is given up
  static constexpr std::uint32_t kReadTimeoutMs = 2000;

  enum Column { kAddress, kName, kAccess, kRead, kWritten, kFields, kColumnCount };

  // `status` hears "not connected" when a request finds no board; null:
  // nobody is told.
  explicit CRegisterPage(QWidget* parent, StatusSink* status = nullptr);

  void InitDialog();
  void RelayoutPage();

  // "Read all": every readable register, one block of neighbours at a time.
  void ReadAll();
  // Also while a read that the main window gave up on (failure, timeout,
  // lost link) has not been reported here yet.
  bool Reading() const { return m_readWait.Waiting() || m_readWait.Ended(); }
  // Writes one register as the table's editor does. False when nothing was
  // sent (no board, refused, the reset not confirmed).
  bool WriteRegister(std::uint8_t reg, std::uint8_t value);
  // An edited cell's text: "0x5A", "5a" or "90".
  bool WriteRegisterText(std::uint8_t reg, const QString& text);
  // Redraws the values from the journal.
  void Refresh();

  QTableWidget* Table() const { return m_table; }
  int RowOf(std::uint8_t reg) const;
  CMyStaticFont* StatusText() const { return m_status; }
  CMyRectButton* ReadAllButton() const { return m_readAll; }

  // A register reply of the board (read, read failed, written), as its host
  // receives them all: passed on to this page under the page's own message
  // number. Other replies are not its business.
  void RelayRegisterReply(const platform::Message& reply);

  void OnMessage(const platform::Message& message) override;
  void OnTimer(std::uint32_t id) override;

 signals:
  // 0xA5 to 0x7F confirmed: the chip is to be reset the way the LED board
  // page's own reset button does it, so that its pages start over along with
  // the chip. Whoever connects this writes the reset; with nobody connected
  // the page writes it itself.
  void SoftwareResetRequested();

 protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;

 private:
  struct Block {
    std::uint8_t first;
    std::uint8_t count;
  };
  bool RequireBoard();
  void SendNextRead();
  void SetStatus(const QString& text, bool failure = false);

  StatusSink* m_statusSink;
  QTableWidget* m_table = nullptr;
  CMyRectButton* m_readAll = nullptr;
  CMyStaticFont* m_status = nullptr;

  std::vector<Block> m_toRead;  // blocks of "Read all" still to send
  chip::ReplyWait m_readWait{"Registers page: a register's value"};
  std::uint8_t m_readCount = 0;
  int m_registersRead = 0;
  chip::ReplyWait m_writeWait{"Registers page: the acknowledgement of a write"};
  std::uint8_t m_writtenValue = 0;
  std::uint64_t m_shownVersion = ~0ull;
};
