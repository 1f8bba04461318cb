#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QWindow>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>

#include "firmware/BootDialog.h"
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
  };
  const char* names[] = {"idle", "waiting", "connected", "image_ready", "transferring", "stopped"};
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
  };
  for (const Message& m : {Message{2, "Begin update firmware...", false},
                           Message{3, "Flash pages erase succeed! Downloading firmware...", false},
                           Message{1, "Timeout, Please plug the USB device to reset!", true},
                           Message{4, "Flash pages erase failed! Please plug the USB device to reset!", true},
                           Message{6, "Update error! Please plug the USB device to reset!", true},
                           Message{10, "Update stop! Please plug the USB device to reset!", true},
                           Message{7, "Update ended and execute new firmware!", false}}) {
    Status(m.status);
    EXPECT_EQ(dialog->MessageLine()->text(), QString::fromUtf8(m.text));
    EXPECT_EQ(dialog->MessageLine()->CtrlTextColor() == QColor(255, 0, 0), m.red) << m.status;
    EXPECT_EQ(dialog->CurrentLook(), Look::Transferring) << "messages leave the buttons alone";
  }
  Status(42);  // unknown: ignored
  EXPECT_EQ(dialog->MessageLine()->text(), QStringLiteral("Update ended and execute new firmware!"));

  Status(kBootStatusDeviceRemoved);
  EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Disconnect! "));
  EXPECT_EQ(dialog->StatusLine()->CtrlTextColor(), QColor(255, 0, 0));
  EXPECT_EQ(dialog->CurrentLook(), Look::Idle);
  EXPECT_FALSE(dialog->Connected());

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
  EXPECT_EQ(dialog->FileName()->text(), QStringLiteral("other.bin"));

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
  EXPECT_EQ(boxes.back(), "qvbin file data error!");
  EXPECT_EQ(dialog->ImageLength(), 0u);
  EXPECT_EQ(dialog->CurrentLook(), Look::Connected);

  nextFile = std::string();
  dialog->OnBnClickedOpenFile();
  EXPECT_EQ(boxes.back(), "The file path cannot be empty!");
  EXPECT_EQ(dialog->CurrentLook(), Look::Connected);

  nextFile = dir.filePath("missing.qvbin").toStdString();
  dialog->OnBnClickedOpenFile();
  EXPECT_EQ(boxes.back(), "qvbin file open failed!");
  EXPECT_EQ(dialog->ImageLength(), 0u);
  Pump(50);  // status 9 comes as a message
  EXPECT_EQ(dialog->CurrentLook(), Look::Idle);
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

// The whole update through the window on the simulated board.
class BootDialogEndToEndTest : public AppFixture {};

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

  // The board is back in its firmware; OK ends the update and the link runs again.
  dialog->OnBnClickedOk();
  ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }, 8000));
  platform::SetOpenFileDialogHook({});
}
