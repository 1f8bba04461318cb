#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QWindow>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>

#include <atomic>

#include "firmware/BootDialog.h"
#include "firmware/BootRecord.h"
#include "firmware/BootTransfer.h"
#include "platform/FileDialog.h"
#include "platform/Messages.h"
#include "resources/dialogs/BootDialog.h"
#include <QTest>

#include "tests/app/AppFixture.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"

using namespace dialogs;
using Look = CQV48XXX_Boot::Look;

namespace {

// A valid image of `n` bytes whose check word the simulated bootloader takes.
QString WriteImage(const QTemporaryDir& dir, const QString& name, std::size_t n) {
  std::vector<std::uint8_t> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const auto file = BuildImageFile(data, ComputeImageChecksum(data));
  const QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(reinterpret_cast<const char*>(file.data()), static_cast<qint64>(file.size()));
  return path;
}

}  // namespace

class BootDialogTest : public AppFixture {
 protected:
  bool PluggedAtStart() const override { return false; }
  void SetUp() override {
    AppFixture::SetUp();
    platform::SetOpenFileDialogHook([this](const std::string& filter, const std::string& title) {
      dialogFilter = filter;
      dialogTitle = title;
      return nextFile;
    });
    QTest::mouseClick(window->BootButton(), Qt::LeftButton);
    dialog = g_pBootDialog;
    ASSERT_NE(dialog, nullptr);
  }
  void TearDown() override {
    platform::SetOpenFileDialogHook({});
    AppFixture::TearDown();
  }
  void Status(std::uintptr_t code, std::intptr_t value = 0) { dialog->OnBootStatus(code, value); }

  CQV48XXX_Boot* dialog = nullptr;
  std::optional<std::string> nextFile;
  std::string dialogFilter, dialogTitle;
  QTemporaryDir dir;
};

TEST_F(BootDialogTest, EachLookEnablesAndShowsItsControls) {
  struct Row {
    Look look;
    bool connect, open, download, stop, ok;
    bool progress, file, message;
  };
  const Row rows[] = {
      {Look::Idle, true, false, false, false, true, false, false, false},
      {Look::Waiting, false, false, false, false, true, false, false, false},
      {Look::Connected, false, true, false, false, true, false, true, false},
      {Look::ImageReady, false, true, true, false, true, false, true, false},
      {Look::Transferring, false, false, false, true, false, true, true, true},
      {Look::Stopped, false, false, false, false, true, true, true, true},  // after Transferring
      {Look::Ended, false, true, true, false, true, true, true, true},
      {Look::Finished, true, false, false, false, true, true, true, true},
  };
  const char* names[] = {"idle", "waiting", "connected", "image_ready", "transferring", "stopped", "ended", "finished"};
  dialog->show();
  int i = 0;
  for (const Row& r : rows) {
    dialog->ApplyLook(r.look);
    EXPECT_EQ(dialog->Button(IDC_BOOT_CONNECT)->isEnabled(), r.connect) << names[i];
    EXPECT_EQ(dialog->Button(IDC_BOOT_OPEN)->isEnabled(), r.open) << names[i];
    EXPECT_EQ(dialog->Button(IDC_BOOT_DOWNLOAD)->isEnabled(), r.download) << names[i];
    EXPECT_EQ(dialog->Button(IDC_BOOT_STOP)->isEnabled(), r.stop) << names[i];
    EXPECT_EQ(dialog->Button(IDC_BOOT_OK)->isEnabled(), r.ok) << names[i];
    EXPECT_EQ(dialog->Progress()->isVisible(), r.progress) << names[i];
    EXPECT_EQ(dialog->Percent()->isVisible(), r.progress) << names[i];
    EXPECT_EQ(dialog->FileName()->isVisible(), r.file) << names[i];
    EXPECT_EQ(dialog->MessageLine()->isVisible(), r.message) << names[i];
    // An enabled button shows its colour again; a disabled one is grey.
    EXPECT_EQ(dialog->Button(IDC_BOOT_CONNECT)->FaceColor(),
              r.connect ? QColor(229, 190, 157) : QColor(232, 232, 232)) << names[i];
    uitest::GrabAndSave(dialog, QStringLiteral("boot_dialog_%1").arg(names[i]));
    ++i;
  }
  // Stop leaves Connect and DownLoad as they were.
  dialog->ApplyLook(Look::ImageReady);
  dialog->ApplyLook(Look::Stopped);
  EXPECT_FALSE(dialog->Button(IDC_BOOT_CONNECT)->isEnabled());
  EXPECT_TRUE(dialog->Button(IDC_BOOT_DOWNLOAD)->isEnabled());
  EXPECT_FALSE(dialog->Button(IDC_BOOT_OPEN)->isEnabled());
  EXPECT_EQ(dialog->Button(IDC_BOOT_OK)->FaceColor(), QColor(254, 67, 101));
}

TEST_F(BootDialogTest, ConnectNeedsAnIdentifiedBoard) {
  g_bBoardMatched = 0;
  dialog->OnBnClickedConnect();
  EXPECT_EQ(dialog->CurrentLook(), Look::Idle);
  EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kNotConnectedAbsent));
  EXPECT_EQ(g_pCommunication.load()->FirmwareUpdate(), 0);
}

TEST_F(BootDialogTest, StatusesDriveTheLooksAndTexts) {
  Status(kBootStatusDeviceRemoved);  // not connected: nothing
  EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Not Connect"));

  dialog->ApplyLook(Look::Waiting);
  Status(kBootStatusConnected, (1 << 24) | (2 << 16) | (0 << 8) | 7);
  EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Connected! Boot version is 1.2.0.7"));
  EXPECT_EQ(dialog->CurrentLook(), Look::Connected);
  EXPECT_TRUE(dialog->Connected());

  dialog->ApplyLook(Look::Transferring);
  Status(kBootStatusProgress, 96);
  EXPECT_EQ(dialog->Progress()->value(), 96);
  EXPECT_EQ(dialog->Percent()->text(), QStringLiteral("96%"));
  Status(kBootStatusProgress, 193);  // the last, partial block of a 33-byte image
  EXPECT_EQ(dialog->Progress()->value(), 100);
  EXPECT_EQ(dialog->Percent()->text(), QStringLiteral("100%"));
  struct Message {
    std::uintptr_t status;
    const char* text;
    bool red;
    Look after;  // a transfer that ended in the bootloader may be tried again
  };
  for (const Message& m :
       {Message{2, "Erasing flash pages... 0 s of about 1 s", false, Look::Transferring},
        Message{3, "Flash pages erase succeed! Downloading firmware...", false, Look::Transferring},
        Message{1, "Timeout, Please plug the USB device to reset!", true, Look::Ended},
        Message{4, "Flash pages erase failed! Please plug the USB device to reset!", true, Look::Ended},
        Message{6, "Update error! The board stays in its bootloader, ready for another try.", true, Look::Ended},
        Message{10, "Update stop! The board stays in its bootloader, ready for another try.", true, Look::Ended},
        Message{7, "Update ended and execute new firmware!", false, Look::Finished}}) {
    dialog->ApplyLook(Look::Transferring);
    Status(m.status);
    EXPECT_EQ(dialog->MessageLine()->text(), QString::fromUtf8(m.text));
    EXPECT_EQ(dialog->MessageLine()->CtrlTextColor() == QColor(255, 0, 0), m.red) << m.status;
    EXPECT_EQ(dialog->CurrentLook(), m.after) << m.status;
    // The seconds of the erase are counted only while it runs.
    EXPECT_EQ(dialog->Timers().IsTimerArmed(CQV48XXX_Boot::kEraseTimer), m.status == kBootStatusStarted) << m.status;
  }
  Status(42);  // unknown: ignored
  EXPECT_EQ(dialog->MessageLine()->text(), QStringLiteral("Update ended and execute new firmware!"));

  // The bootloader goes as the new firmware starts: the outcome stays in
  // view, the headline says it, and its going is no error.
  dialog->show();
  Status(kBootStatusDeviceRemoved);
  EXPECT_EQ(dialog->StatusLine()->text(), QString::fromUtf8(CQV48XXX_Boot::kHeadlineDone));
  EXPECT_NE(dialog->StatusLine()->CtrlTextColor(), QColor(255, 0, 0));
  EXPECT_EQ(dialog->CurrentLook(), Look::Finished);
  EXPECT_TRUE(dialog->MessageLine()->isVisible());
  EXPECT_EQ(dialog->MessageLine()->text(), QStringLiteral("Update ended and execute new firmware!"));
  EXPECT_TRUE(dialog->Button(IDC_BOOT_OK)->isEnabled());
  EXPECT_FALSE(dialog->Connected());
  uitest::GrabAndSave(dialog, QStringLiteral("boot_dialog_finished"));

  // The restart may be reported before the worker's last word.
  Status(kBootStatusConnected, 0x01020007);
  dialog->ApplyLook(Look::Transferring);
  Status(kBootStatusStarted);
  Status(kBootStatusDeviceRemoved);
  EXPECT_EQ(dialog->StatusLine()->CtrlTextColor(), QColor(255, 0, 0));
  EXPECT_EQ(dialog->CurrentLook(), Look::Finished);
  Status(kBootStatusDone);
  EXPECT_EQ(dialog->StatusLine()->text(), QString::fromUtf8(CQV48XXX_Boot::kHeadlineDone));
  EXPECT_NE(dialog->StatusLine()->CtrlTextColor(), QColor(255, 0, 0));
  EXPECT_EQ(dialog->CurrentLook(), Look::Finished);

  // Pulled before anything was written: back to the start, in red.
  Status(kBootStatusConnected, 0x01020007);
  Status(kBootStatusDeviceRemoved);
  EXPECT_EQ(dialog->StatusLine()->CtrlTextColor(), QColor(255, 0, 0));
  EXPECT_EQ(dialog->CurrentLook(), Look::Idle);

  dialog->ApplyLook(Look::Waiting);
  dialog->OnMessage(platform::Message{platform::kMsgBootCommandFailed, 0, {}});
  EXPECT_EQ(dialog->CurrentLook(), Look::Idle);
  EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Fail!"));
}

TEST_F(BootDialogTest, OpenFileChecksTheImageAndKeepsTheLastGoodOne) {
  Status(kBootStatusConnected, 0x01020007);
  nextFile = std::nullopt;  // cancelled: nothing changes
  dialog->OnBnClickedOpenFile();
  EXPECT_EQ(dialogFilter, "Qvbin file(*.qvbin)|*.qvbin|");
  EXPECT_EQ(dialogTitle, "Open file");
  EXPECT_EQ(dialog->CurrentLook(), Look::Connected);

  nextFile = WriteImage(dir, "IMAGE.QVBIN", 33).toStdString();  // any case of the extension
  dialog->OnBnClickedOpenFile();
  EXPECT_EQ(dialog->ImageLength(), 33u);
  EXPECT_EQ(dialog->CurrentLook(), Look::ImageReady);
  EXPECT_EQ(dialog->FileName()->text(), QStringLiteral("IMAGE.QVBIN"));

  nextFile = WriteImage(dir, "other.bin", 64).toStdString();  // not read; the earlier image stays
  dialog->OnBnClickedOpenFile();
  EXPECT_EQ(dialog->ImageLength(), 33u);
  EXPECT_EQ(dialog->CurrentLook(), Look::ImageReady);
  EXPECT_EQ(dialog->FileName()->text(), QStringLiteral("IMAGE.QVBIN")) << "the name of what DownLoad writes";

  // A damaged image offers Open File again instead of a DownLoad that fails.
  const QString damaged = WriteImage(dir, "damaged.qvbin", 40);
  {
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(3);
    f.write("\x55", 1);
  }
  nextFile = damaged.toStdString();
  dialog->OnBnClickedOpenFile();
  // The short text, then why: the same words corvelctl image check prints.
  EXPECT_EQ(boxes.back().rfind("qvbin file data error! The checksum of its 40 bytes of data is 0x", 0), 0u)
      << boxes.back();
  EXPECT_EQ(dialog->ImageLength(), 0u);
  EXPECT_EQ(dialog->CurrentLook(), Look::Connected);

  nextFile = std::string();
  dialog->OnBnClickedOpenFile();
  EXPECT_EQ(boxes.back(), "The file path cannot be empty!");
  EXPECT_EQ(dialog->CurrentLook(), Look::Connected);

  // A file that cannot be opened leaves the bootloader connected: Open File
  // stays on offer (without a bootloader the dialog starts over).
  nextFile = dir.filePath("missing.qvbin").toStdString();
  for (const bool connected : {true, false}) {
    if (!connected) Status(kBootStatusDeviceRemoved);
    dialog->OnBnClickedOpenFile();
    EXPECT_EQ(boxes.back(), "qvbin file open failed!");
    EXPECT_EQ(dialog->ImageLength(), 0u);
    Pump(50);  // status 9 comes as a message
    EXPECT_EQ(dialog->CurrentLook(), connected ? Look::Connected : Look::Idle);
  }
}

TEST_F(BootDialogTest, ClosingFromTheWindowSystemEndsItLikeOk) {
  dialog->show();
  g_pCommunication.load()->SetFirmwareUpdate(1);
  dialog->close();
  EXPECT_EQ(g_pBootDialog, nullptr);
  EXPECT_EQ(g_pCommunication.load()->FirmwareUpdate(), 0);
}

TEST_F(BootDialogTest, AModelessWindowOwnedByTheMainWindow) {
  window->show();
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
  // A window of its own, kept above the main window (its transient parent)
  // and blocking nothing.
  EXPECT_TRUE(dialog->isWindow());
  EXPECT_EQ(dialog->parentWidget(), window);
  ASSERT_NE(dialog->windowHandle(), nullptr);
  EXPECT_EQ(dialog->windowHandle()->transientParent(), window->windowHandle());
  EXPECT_EQ(dialog->windowModality(), Qt::NonModal);
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // It goes with the main window, and no window is left behind.
  const QPointer<CQV48XXX_Boot> watched(dialog);
  app->DestroyObjects();
  EXPECT_TRUE(watched.isNull());
  EXPECT_EQ(g_pBootDialog, nullptr);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST_F(BootDialogTest, FrameAndShadowSetItOffFromThePage) {
  dialog->show();
  const QRect face = dialog->Shadow().Face();
  const int shadow = dialog->Shadow().Width();
  ASSERT_GE(shadow, 3);
  EXPECT_EQ(dialog->size(), face.size() + QSize(shadow, shadow));
  const QImage image = uitest::GrabAndSave(dialog, QStringLiteral("boot_dialog_window"));
  const QColor frame(160, 160, 160);
  // The edge is drawn all round, in grey.
  for (const QPoint p : {QPoint(face.left(), face.center().y()), QPoint(face.right(), face.center().y()),
                         QPoint(face.center().x(), face.top()), QPoint(face.center().x(), face.bottom())})
    EXPECT_TRUE(uitest::Near(image.pixel(p), frame)) << p.x() << "," << p.y() << " " << uitest::Describe(image.pixel(p));
  // Beside the right and bottom edges a shadow fades from grey to the page.
  const int mid = face.center().y();
  const QRgb nearRight = image.pixel(face.right() + 1, mid), farRight = image.pixel(face.right() + shadow - 1, mid);
  EXPECT_LT(qGray(nearRight), 235) << uitest::Describe(nearRight);
  EXPECT_LT(qGray(nearRight), qGray(farRight));
  EXPECT_LT(qGray(image.pixel(face.center().x(), face.bottom() + 1)), 235);
  // The corners the shadow leaves free are not part of the window.
  EXPECT_FALSE(dialog->mask().contains(QPoint(dialog->width() - 1, 0)));
  EXPECT_FALSE(dialog->mask().contains(QPoint(0, dialog->height() - 1)));
  EXPECT_TRUE(dialog->mask().contains(face.center()));
}

TEST_F(BootDialogTest, OnlyOneDialogAndOkClosesIt) {
  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  EXPECT_EQ(g_pBootDialog, dialog);  // a second press does nothing
  g_pCommunication.load()->SetFirmwareUpdate(1);
  dialog->OnBnClickedOk();
  EXPECT_EQ(g_pBootDialog, nullptr);
  EXPECT_EQ(g_pCommunication.load()->FirmwareUpdate(), 0);
  Pump(20);
  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  EXPECT_NE(g_pBootDialog, nullptr);  // and a new one can be opened
}

TEST_F(BootDialogTest, TheConnectRecordIsSentAgainUntilTheBootloaderAnswers) {
  // A bootloader that takes the records but does not answer.
  std::atomic<int> connectRecords{0};
  g_pCommunication.load()->Hid()->SetReportTap([&](bool out, const std::uint8_t* r, std::size_t) {
    if (out && r[1] == boot::kOpConnect) ++connectRecords;
  });
  sim::SimBoard& board = *app->SimulatedBoard();
  board.SetFaults({.silent = true});
  board.Plug();
  board.RestartIntoBootloader();
  ASSERT_TRUE(PumpUntil([&] { return connectRecords == 1; }));
  EXPECT_TRUE(dialog->Timers().IsTimerArmed(CQV48XXX_Boot::kConnectRetryTimer));
  EXPECT_EQ(dialog->Timers().ArmedTimers()[CQV48XXX_Boot::kConnectRetryTimer], 1000u);
  for (int attempt = 2; attempt <= kBootConnectAttempts; ++attempt) {
    dialog->OnTimer(CQV48XXX_Boot::kConnectRetryTimer);
    EXPECT_EQ(connectRecords, attempt);
  }
  dialog->OnTimer(CQV48XXX_Boot::kConnectRetryTimer);
  EXPECT_EQ(connectRecords, kBootConnectAttempts) << "given up";
  EXPECT_FALSE(dialog->Timers().IsTimerArmed(CQV48XXX_Boot::kConnectRetryTimer));
  EXPECT_EQ(dialog->StatusLine()->text(), QString::fromUtf8(kTextBootloaderSilent));
  EXPECT_EQ(dialog->StatusLine()->CtrlTextColor(), QColor(255, 0, 0));
  EXPECT_EQ(dialog->CurrentLook(), Look::Idle);

  // Restarted (re-plugged), it answers: the attempts start again and end
  // with the first answer.
  board.SetFaults({});
  board.RestartIntoBootloader();
  ASSERT_TRUE(PumpUntil([&] { return dialog->Connected(); }));
  EXPECT_FALSE(dialog->Timers().IsTimerArmed(CQV48XXX_Boot::kConnectRetryTimer));
  g_pCommunication.load()->Hid()->SetReportTap({});
}

// The whole update through the window on the simulated board.
class BootDialogEndToEndTest : public AppFixture {
 protected:
  // Identified, the dialog open, connected to the bootloader, `kSize` bytes
  // of image chosen.
  void OpenAndConnect(const QString& image) {
    window->show();
    ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1 && g_bBrightnessPending == 0; }));
    platform::SetOpenFileDialogHook([image](auto&&...) { return std::optional<std::string>(image.toStdString()); });
    QTest::mouseClick(window->BootButton(), Qt::LeftButton);
    dialog = g_pBootDialog;
    ASSERT_NE(dialog, nullptr);
    dialog->show();
    dialog->OnBnClickedConnect();
    ASSERT_TRUE(PumpUntil([&] { return dialog->Connected(); }, 8000)) << dialog->StatusLine()->text().toStdString();
    dialog->OnBnClickedOpenFile();
    ASSERT_EQ(dialog->CurrentLook(), Look::ImageReady);
  }
  void TearDown() override {
    platform::SetOpenFileDialogHook({});
    AppFixture::TearDown();
  }
  bool MessageIs(const char* text) const { return dialog->MessageLine()->text() == QString::fromUtf8(text); }

  CQV48XXX_Boot* dialog = nullptr;
};

TEST_F(BootDialogEndToEndTest, FlashesTheSimulatedBoardAndItComesBack) {
  window->show();
  ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }));
  // The page's first brightness write goes out on its next tick; left
  // pending while the board restarts, it would put the not-connected notice
  // over the boot value's confirmation.
  ASSERT_TRUE(PumpUntil([] { return g_bBrightnessPending == 0; }));
  QTemporaryDir dir;
  constexpr std::size_t kSize = 4096 + 17;
  const QString path = WriteImage(dir, "firmware.qvbin", kSize);
  platform::SetOpenFileDialogHook([&](auto&&...) { return std::optional<std::string>(path.toStdString()); });

  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  CQV48XXX_Boot* dialog = g_pBootDialog;
  ASSERT_NE(dialog, nullptr);
  dialog->show();
  dialog->OnBnClickedConnect();
  EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Waiting for connection..."));
  ASSERT_TRUE(PumpUntil([&] { return dialog->Connected(); }, 8000)) << dialog->StatusLine()->text().toStdString();
  EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Connected! Boot version is 1.2.0.7"));
  EXPECT_EQ(window->StatusLine()->text(), QStringLiteral("√ Set boot value successfully!"));
  uitest::GrabAndSave(dialog, QStringLiteral("boot_flow_connected"));
  // The main window knows where the board is: in its bootloader, not gone.
  ASSERT_TRUE(PumpUntil([&] { return window->LinkText()->text() == QString::fromUtf8(texts::kInBootloader); }))
      << window->LinkText()->text().toStdString();
  EXPECT_FALSE(window->GreenDot()->isHidden());
  window->ShowNotConnected();
  EXPECT_EQ(window->StatusLine()->text(), QString::fromUtf8(texts::kStatusInBootloader));
  uitest::GrabAndSave(window, QStringLiteral("main_board_in_bootloader"));

  dialog->OnBnClickedOpenFile();
  ASSERT_EQ(dialog->CurrentLook(), Look::ImageReady);
  dialog->OnBnClickedDownload();
  EXPECT_EQ(dialog->CurrentLook(), Look::Transferring);
  ASSERT_TRUE(PumpUntil([&] {
    return dialog->MessageLine()->text() == QStringLiteral("Update ended and execute new firmware!");
  }, 20000)) << dialog->MessageLine()->text().toStdString();
  EXPECT_EQ(dialog->Progress()->value(), 100);
  uitest::GrabAndSave(dialog, QStringLiteral("boot_flow_done"));

  std::vector<std::uint8_t> expected(kSize);
  for (std::size_t i = 0; i < kSize; ++i) expected[i] = static_cast<std::uint8_t>(i * 7 + 3);
  EXPECT_EQ(app->SimulatedBoard()->Flash(0, kSize), expected);
  ASSERT_TRUE(PumpUntil([&] { return app->SimulatedBoard()->ReleaseNumber() == sim::kReleaseApplication; }));
  // The board's restart does not hide how the update ended.
  ASSERT_TRUE(PumpUntil([&] { return !dialog->Connected(); }));
  EXPECT_EQ(dialog->CurrentLook(), Look::Finished);
  EXPECT_TRUE(dialog->MessageLine()->isVisible());
  EXPECT_EQ(dialog->MessageLine()->text(), QStringLiteral("Update ended and execute new firmware!"));
  EXPECT_NE(dialog->StatusLine()->CtrlTextColor(), QColor(255, 0, 0));
  uitest::GrabAndSave(dialog, QStringLiteral("boot_flow_restarted"));

  EXPECT_EQ(dialog->StatusLine()->text(), QString::fromUtf8(CQV48XXX_Boot::kHeadlineDone));

  // The board is back in its firmware; OK ends the update and the link runs again.
  dialog->OnBnClickedOk();
  ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }, 8000));
  platform::SetOpenFileDialogHook({});
}

TEST_F(BootDialogEndToEndTest, StopLeavesTheBoardInItsBootloaderAndDownLoadFinishesTheUpdate) {
  QTemporaryDir dir;
  constexpr std::size_t kSize = 16 * 1024;
  const QString image = WriteImage(dir, "firmware.qvbin", kSize);
  app->SimulatedBoard()->SetFaults({.reportLatency = std::chrono::milliseconds(1)});  // so Stop comes in time
  OpenAndConnect(image);

  dialog->OnBnClickedDownload();
  ASSERT_TRUE(PumpUntil([&] { return dialog->Progress()->value() > 0; }, 8000));
  dialog->OnBnClickedStop();
  ASSERT_TRUE(PumpUntil([&] { return MessageIs(BootStatusText(kBootStatusStopped)); }, 8000));
  EXPECT_EQ(dialog->CurrentLook(), Look::Ended);
  EXPECT_LT(dialog->Progress()->value(), 100);
  uitest::GrabAndSave(dialog, QStringLiteral("boot_flow_stopped"));
  Pump(700);  // longer than a restart takes
  EXPECT_EQ(app->SimulatedBoard()->ReleaseNumber(), sim::kReleaseBootloader) << "asked to run half an image";
  EXPECT_TRUE(dialog->Connected());

  dialog->OnBnClickedDownload();
  ASSERT_TRUE(PumpUntil([&] { return MessageIs(BootStatusText(kBootStatusDone)); }, 20000))
      << dialog->MessageLine()->text().toStdString();
  ASSERT_TRUE(PumpUntil([&] { return app->SimulatedBoard()->ReleaseNumber() == sim::kReleaseApplication; }));
  std::vector<std::uint8_t> expected(kSize);
  for (std::size_t i = 0; i < kSize; ++i) expected[i] = static_cast<std::uint8_t>(i * 7 + 3);
  EXPECT_EQ(app->SimulatedBoard()->Flash(0, kSize), expected);
}

TEST_F(BootDialogEndToEndTest, OkAfterAStopDoesNotRunTheHalfWrittenImage) {
  QTemporaryDir dir;
  app->SimulatedBoard()->SetFaults({.reportLatency = std::chrono::milliseconds(1)});
  OpenAndConnect(WriteImage(dir, "firmware.qvbin", 16 * 1024));
  dialog->OnBnClickedDownload();
  ASSERT_TRUE(PumpUntil([&] { return dialog->Progress()->value() > 0; }, 8000));
  dialog->OnBnClickedStop();
  ASSERT_TRUE(PumpUntil([&] { return MessageIs(BootStatusText(kBootStatusStopped)); }, 8000));
  std::atomic<int> endRecords{0};
  g_pCommunication.load()->Hid()->SetReportTap([&](bool out, const std::uint8_t* r, std::size_t) {
    if (out && r[1] == boot::kOpEnd) ++endRecords;
  });
  dialog->OnBnClickedOk();
  Pump(700);
  EXPECT_EQ(endRecords, 0);
  EXPECT_EQ(app->SimulatedBoard()->ReleaseNumber(), sim::kReleaseBootloader);
  g_pCommunication.load()->Hid()->SetReportTap({});
}

// Unplugged while the flash erases: the old firmware is gone, so the board
// comes back in its bootloader; the dialog says so (not "plug to reset") and
// DownLoad finishes the update with the image still chosen.
TEST_F(BootDialogEndToEndTest, ABoardUnpluggedDuringTheUpdateComesBackInItsBootloaderToFinishIt) {
  QTemporaryDir dir;
  constexpr std::size_t kSize = 4096;
  app->SimulatedBoard()->SetFaults({.eraseTime = std::chrono::milliseconds(15000)});  // 1 s a sector
  OpenAndConnect(WriteImage(dir, "firmware.qvbin", kSize));
  dialog->OnBnClickedDownload();
  ASSERT_TRUE(PumpUntil([&] { return dialog->MessageLine()->text().startsWith(QStringLiteral("Erasing")); }));
  EXPECT_EQ(dialog->MessageLine()->text(), QStringLiteral("Erasing flash pages... 0 s of about 1 s"));

  app->SimulatedBoard()->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return !dialog->Connected() && dialog->CurrentLook() == Look::Finished; }));
  ASSERT_TRUE(PumpUntil([&] { return !g_pBootDialog || !dialog->Timers().IsTimerArmed(CQV48XXX_Boot::kEraseTimer); }));
  Pump(200);  // the worker's last word
  EXPECT_EQ(dialog->StatusLine()->text(), QString::fromUtf8(CQV48XXX_Boot::kHeadlineUnfinished));
  // Told as gone, with what to do next: nobody pressed Stop.
  EXPECT_EQ(dialog->MessageLine()->text(), QString::fromUtf8(CQV48XXX_Boot::kTextGoneWhileErasing));
  uitest::GrabAndSave(dialog, QStringLiteral("boot_flow_unplugged_while_erasing"));

  app->SimulatedBoard()->SetFaults({});
  app->SimulatedBoard()->Plug();
  ASSERT_TRUE(PumpUntil([&] { return dialog->Connected(); }, 8000)) << dialog->StatusLine()->text().toStdString();
  EXPECT_EQ(app->SimulatedBoard()->ReleaseNumber(), sim::kReleaseBootloader);
  EXPECT_EQ(dialog->MessageLine()->text(), QString::fromUtf8(CQV48XXX_Boot::kTextFinishFromBootloader));
  EXPECT_EQ(dialog->CurrentLook(), Look::ImageReady);
  uitest::GrabAndSave(dialog, QStringLiteral("boot_flow_back_in_bootloader"));

  dialog->OnBnClickedDownload();
  ASSERT_TRUE(PumpUntil([&] { return MessageIs(BootStatusText(kBootStatusDone)); }, 20000))
      << dialog->MessageLine()->text().toStdString();
  ASSERT_TRUE(PumpUntil([&] { return app->SimulatedBoard()->ReleaseNumber() == sim::kReleaseApplication; }));
  EXPECT_EQ(dialog->StatusLine()->text(), QString::fromUtf8(CQV48XXX_Boot::kHeadlineDone));
}

// A board that is in its bootloader when the program starts (an update that
// did not finish): the window says so, and Connect talks to the bootloader
// without the restart a running board needs.
TEST_F(BootDialogEndToEndTest, ABoardFoundInItsBootloaderIsShownSoAndConnectedAtOnce) {
  app->SimulatedBoard()->RestartIntoBootloader();
  window->show();
  ASSERT_TRUE(PumpUntil([&] { return window->LinkText()->text() == QString::fromUtf8(texts::kInBootloader); }))
      << window->LinkText()->text().toStdString();
  Pump(300);  // the removal's "not found" comes after the bootloader was opened
  EXPECT_EQ(window->LinkText()->text(), QString::fromUtf8(texts::kInBootloader));
  EXPECT_EQ(g_bBoardMatched, 0);
  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  dialog = g_pBootDialog;
  ASSERT_NE(dialog, nullptr);
  dialog->OnBnClickedConnect();
  ASSERT_TRUE(PumpUntil([&] { return dialog->Connected(); }, 5000)) << dialog->StatusLine()->text().toStdString();
  EXPECT_EQ(dialog->CurrentLook(), Look::Connected);
}
