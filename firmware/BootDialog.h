// The firmware-update dialog: asks the board to restart into its bootloader,
// connects to it, loads and checks a .qvbin image and runs the transfer
// worker, showing its progress and result. Modeless; at most one exists.
#pragma once

#include <QElapsedTimer>

#include <QString>
#include <functional>
#include <memory>

#include "firmware/ImageFile.h"
#include "ui/Page.h"
#include "ui/WindowShadow.h"

class BootTransferContext;
class CMyRectButton;
class CMyStaticFont;
class QProgressBar;
class CQV48XXX_Boot;
class StatusSink;

// The one update dialog, null while none is open.
extern CQV48XXX_Boot* g_pBootDialog;

class CQV48XXX_Boot : public CPage {
  Q_OBJECT
 public:
  // Ended: a transfer ended with the board still in its bootloader (Open
  // File and DownLoad may try again). Finished: the transfer is over and the
  // board has gone or is going; its outcome stays in view.
  // Headlines that say how the update came out.
  static constexpr const char* kHeadlineDone = "Update done! The board restarts with its new firmware.";
  static constexpr const char* kHeadlineUnfinished =
      "Disconnect! The update did not finish. Plug the board in: it comes back in its bootloader.";
  static constexpr const char* kTextFinishFromBootloader =
      "The board is in its bootloader: DownLoad finishes the update.";
  // The board went away under the update: nobody stopped it, and whatever
  // the worker reports after that (a stop, a timeout) is only the removal.
  static constexpr const char* kTextGoneWhileErasing =
      "The board went away while its flash was being erased. Plug it in again: it comes back in its bootloader, "
      "and DownLoad finishes the update.";
  static constexpr const char* kTextGoneWhileWriting =
      "The board went away while the new firmware was being written. Plug it in again: it comes back in its "
      "bootloader, and DownLoad finishes the update.";
  enum class Look { Idle, Waiting, Connected, ImageReady, Transferring, Stopped, Ended, Finished };

  // Timer that sends the connect record again while the bootloader has not
  // answered it.
  static constexpr std::uint32_t kConnectRetryTimer = 1;
  // While the flash erases: the message line counts the seconds.
  static constexpr std::uint32_t kEraseTimer = 2;
  static constexpr std::uint32_t kEraseTickMs = 1000;

  // `parent` owns the dialog and is the window it stays above; the dialog is
  // a window of its own and modeless. `status` hears "not connected" when
  // Connect finds no board; null: nobody is told.
  CQV48XXX_Boot(BootTransferContext& context, QWidget* parent = nullptr, StatusSink* status = nullptr);
  ~CQV48XXX_Boot() override;

  void InitDialog();
  // How the board the update is for is named ("QV6033 · QVSIM0001"); empty:
  // none is linked. Asked when the dialog opens and on Connect.
  void SetBoardNameSource(std::function<QString()> source);
  CMyStaticFont* BoardLine() const { return m_boardLine; }

  void OnBnClickedConnect();
  void OnBnClickedOpenFile();
  void OnBnClickedDownload();
  void OnBnClickedStop();
  void OnBnClickedOk();
  void OnBootStatus(std::uintptr_t status, std::intptr_t value);
  void OnBootCommandFailed();

  void OnMessage(const platform::Message& message) override;
  void OnTimer(std::uint32_t id) override;

  void ApplyLook(Look look);
  Look CurrentLook() const { return m_look; }
  bool Connected() const { return m_bConnected; }
  std::uint32_t ImageLength() const { return m_nImageLength; }

  CMyRectButton* Button(int id) const;
  CMyStaticFont* StatusLine() const { return m_statusLine; }
  CMyStaticFont* FileName() const { return m_fileName; }
  CMyStaticFont* MessageLine() const { return m_messageLine; }
  CMyStaticFont* Percent() const { return m_percent; }
  QProgressBar* Progress() const { return m_progress; }
  const WindowShadow& Shadow() const { return m_shadow; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void SetLine(CMyStaticFont* line, const QString& text, bool red);
  void StartConnectAttempts();
  void ShowEraseProgress();
  void OnTransferEnded(std::uintptr_t status);

  // What the last transfer since connecting left in the flash.
  enum class Flash { kUntouched, kWriting, kWritten, kIncomplete };

  BootTransferContext& m_context;
  StatusSink* m_status;
  QString m_strPath;
  QString m_strImageName;  // the file the loaded image came from
  Flash m_flash = Flash::kUntouched;
  int m_connectAttempts = 0;
  std::uint32_t m_nImageLength = 0;
  std::uint32_t m_nCheckWord = 0;
  std::unique_ptr<ImageBuffer> m_pImage;
  bool m_bConnected = false;
  bool m_removedMidUpdate = false;
  QElapsedTimer m_eraseClock;  // since the worker asked for the erase  // the board went while its flash was being written
  Look m_look = Look::Idle;

  CMyStaticFont* m_statusLine = nullptr;
  CMyStaticFont* m_fileName = nullptr;
  CMyStaticFont* m_messageLine = nullptr;
  CMyStaticFont* m_percent = nullptr;
  CMyStaticFont* m_boardLine = nullptr;
  std::function<QString()> m_boardName;
  void ShowBoardName();
  QProgressBar* m_progress = nullptr;
  WindowShadow m_shadow;
};
