// The program as a person starts it: the very function main calls, with its
// own QApplication and its own way of running the window, on the simulated
// board. A scenario driven by a timer inside that run clicks through the
// window system (where a modal window would swallow the clicks) and looks at
// what the person would see.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <sstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/GuiMain.h"
#include "app/MainWindow.h"
#include "app/SetupActions.h"
#include "app/SimRegisterPanel.h"
#include "pages/BoardGlobals.h"
#include "pages/EffectPlayDialog.h"
#include "pages/RoundPage.h"
#include "pages/BlinkMode.h"
#include "pages/GpioInputPage.h"
#include "pages/GpioOutputPage.h"
#include "cli/Commands.h"
#include "corvel/Session.h"
#include "platform/FileDialog.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "sim/SimBoard.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "firmware/BootDialog.h"
#include "firmware/ImageFile.h"
#include "platform/Sleep.h"
#include "resources/dialogs/BootDialog.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"

namespace {

// Runs the program with these arguments, as main would.
int RunProgram(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.size());
  return CorvelGuiMain(argc, argv.data());
}

// A click as the window system delivers it: to the top-level window at the
// widget's place, through the application's modality checks.
void Click(QWidget* widget) {
  QWidget* top = widget->window();
  ASSERT_NE(top->windowHandle(), nullptr);
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, widget->mapTo(top, widget->rect().center()));
}

// Steps that each wait for their condition and then act, polled from the
// program's own event loop.
class Scenario {
 public:
  struct Step {
    std::string what;
    std::function<bool()> ready;
    std::function<void()> act;
  };

  void Add(std::string what, std::function<bool()> ready, std::function<void()> act = [] {}) {
    steps_.push_back({std::move(what), std::move(ready), std::move(act)});
  }

  // Started from the QApplication's constructor, before the window exists.
  void Start() {
    timer_ = new QTimer(QCoreApplication::instance());
    QObject::connect(timer_, &QTimer::timeout, [this] { Poll(); });
    timer_->start(20);
    clock_.start();
  }

  bool Finished() const { return next_ == steps_.size(); }
  // What the person sees, for a failure message.
  void Describe(std::function<std::string()> describe) { describe_ = std::move(describe); }

 private:
  // An action may run a modal dialog with its own event loop, which a later
  // step then handles: actions run on their own turn of the event loop, not
  // inside this poll (a timer does not fire again while its handler runs).
  void Poll() {
    if (acting_) return;
    if (next_ < steps_.size() && steps_[next_].ready()) {
      const std::size_t step = next_++;
      acting_ = true;
      clock_.restart();
      QTimer::singleShot(0, QCoreApplication::instance(), [this, step] {
        acting_ = false;
        steps_[step].act();
      });
      return;
    }
    if (Finished()) {
      timer_->stop();
    } else if (clock_.elapsed() > kStepTimeoutMs) {
      QWidget* modal = QApplication::activeModalWidget();
      ADD_FAILURE() << "waited in vain: " << steps_[next_].what << "; in front: "
                    << (modal ? modal->metaObject()->className() : "nothing modal") << " "
                    << (modal ? modal->windowTitle().toStdString() : std::string()) << "; " << (describe_ ? describe_() : "");
      timer_->stop();
      next_ = steps_.size() + 1;  // not finished
      // End the run: whatever modal window is up first, then the main window.
      for (QWidget* w = modal; w; w = QApplication::activeModalWidget()) w->close();
      if (g_pMainDialog) g_pMainDialog->reject();
    }
  }

  static constexpr int kStepTimeoutMs = 15000;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  bool acting_ = false;
  std::function<std::string()> describe_;
  QTimer* timer_ = nullptr;  // owned by the application
  QElapsedTimer clock_;
};

Scenario* g_scenario = nullptr;
void StartScenario() {
  if (g_scenario) g_scenario->Start();
}

class GuiMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Pauses are recorded instead of waited out, so the run is quick.
    platform::SetSleepHook([this](std::uint32_t ms) {
      std::lock_guard lock(mutex);
      pauses.push_back(ms);
    });
    g_scenario = &scenario;
    qAddPreRoutine(StartScenario);
  }
  void TearDown() override {
    g_scenario = nullptr;
    platform::SetSleepHook({});
  }

  Scenario scenario;
  std::mutex mutex;
  std::vector<std::uint32_t> pauses;
};

TEST_F(GuiMainTest, UpdateTheFirmwareFromBootThenCloseTheWindow) {
  QTemporaryDir dir;
  std::vector<std::uint8_t> data(1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 1);
  const auto file = BuildImageFile(data, ComputeImageChecksum(data));
  const QString image = dir.filePath(QStringLiteral("lamp.qvbin"));
  {
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(reinterpret_cast<const char*>(file.data()), static_cast<qint64>(file.size())),
              static_cast<qint64>(file.size()));
  }

  CQV512XX* window = nullptr;
  CQV48XXX_Boot* dialog = nullptr;
  auto button = [&](int id) { return dialog->Button(id); };
  scenario.Describe([&] {
    if (!g_pBootDialog) return std::string("no update dialog");
    return "update dialog: \"" + g_pBootDialog->StatusLine()->text().toStdString() + "\" / \"" +
           g_pBootDialog->MessageLine()->text().toStdString() + "\"";
  });
  scenario.Add("the board identified", [&] { return g_pMainDialog && g_bBoardMatched == 1; }, [&] {
    window = g_pMainDialog;
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->size(), QSize(1558, 928));  // the reference work area, headless too
  });
  scenario.Add("Boot clicked", [] { return true; }, [&] { Click(window->BootButton()); });
  scenario.Add("the update dialog shown", [&] { return g_pBootDialog && g_pBootDialog->isVisible(); }, [&] {
    dialog = g_pBootDialog;
    EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Not Connect"));
    Click(button(dialogs::IDC_BOOT_CONNECT));
    EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Waiting for connection..."));
  });
  scenario.Add("the bootloader connected", [&] { return dialog->Connected(); }, [&] {
    EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("Connected! Boot version is 1.2.0.7"));
    Click(button(dialogs::IDC_BOOT_OPEN));  // returns once the file dialog below is done
    EXPECT_EQ(dialog->FileName()->text(), QStringLiteral("lamp.qvbin"));
    ASSERT_TRUE(button(dialogs::IDC_BOOT_DOWNLOAD)->isEnabled());
    Click(button(dialogs::IDC_BOOT_DOWNLOAD));
  });
  scenario.Add("the file dialog open", [] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); },
               [&] {
                 auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                 EXPECT_EQ(files->windowTitle(), QStringLiteral("Open file"));
                 // Types the file's path and presses Enter.
                 auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                 ASSERT_NE(name, nullptr);
                 name->setText(image);
                 QTest::keyClick(name, Qt::Key_Return);
               });
  scenario.Add("the download done",
               [&] { return dialog->MessageLine()->text() == QStringLiteral("Update ended and execute new firmware!"); },
               [&] {
                 EXPECT_EQ(dialog->Progress()->value(), 100);
                 Click(button(dialogs::IDC_BOOT_OK));
               });
  scenario.Add("the dialog closed and the board back", [&] { return !g_pBootDialog && g_bBoardMatched == 1; },
               [&] { Click(platform::FindControl(window, 1005)); });  // the close caption button

  EXPECT_EQ(RunProgram({"corvelgui", "--simulate"}), 0);
  EXPECT_TRUE(scenario.Finished());
  // The settle pause, then the two pauses of the connect sequence (the
  // engine's 1 ms pacing of report pieces aside).
  std::lock_guard lock(mutex);
  std::vector<std::uint32_t> connectPauses;
  std::copy_if(pauses.begin(), pauses.end(), std::back_inserter(connectPauses), [](std::uint32_t ms) { return ms > 1; });
  ASSERT_GE(connectPauses.size(), 3u);
  EXPECT_EQ(std::vector<std::uint32_t>(connectPauses.begin(), connectPauses.begin() + 3),
            (std::vector<std::uint32_t>{1200, 500, 500}));
}

TEST_F(GuiMainTest, AHeadlessPictureHasTheSizeOfTheWindowOnTheReferenceScreen) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("corvelgui.png"));
  ASSERT_EQ(qgetenv("QT_QPA_PLATFORM"), QByteArray("offscreen"));
  EXPECT_EQ(RunProgram({"corvelgui", "--simulate", "--screenshot", path.toStdString(), "--after", "300"}), 0);
  const QImage picture(path);
  EXPECT_EQ(picture.size(), QSize(1558, 928));
  // The environment is as it was, for a program this one starts.
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), QByteArray("offscreen"));
}

// Asked on a machine with no display (an ssh session, a build script), --help
// and --version answer on the terminal instead of aborting in the platform
// plugin. The program is started as a person starts it, with the X11 plugin
// and no DISPLAY.
TEST(GuiMainWithoutDisplay, HelpAndVersionAnswerWithoutAWindowSystem) {
  struct Case {
    const char* option;
    const char* expected;
  };
  for (const Case& c : {Case{"--help", "--simulate"}, Case{"-h", "--simulate"}, Case{"--help", "--sim-chip-address"},
                        Case{"--version", "CorvelGUI"}}) {
    SCOPED_TRACE(c.option);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(CORVELGUI_BINARY), {QString::fromLatin1(c.option)});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_TRUE(program.readAllStandardOutput().contains(c.expected));
  }
}

}  // namespace

// ---- the recorder ----------------------------------------------------------

namespace {

// The simulated board behind the window, reached as a person reaches it: the
// caption band's "Simulated chip registers…".
sim::SimBoard* WindowBoard() {
  for (QAction* action : g_pMainDialog->actions())
    if (action->text().startsWith(QStringLiteral("Simulated chip registers"))) action->trigger();
  auto* panel = g_pMainDialog->findChild<SimRegisterPanel*>();
  if (!panel) return nullptr;
  panel->hide();
  return &panel->Board();
}

std::array<std::uint8_t, 256> Registers(const sim::SimBoard& board) {
  std::array<std::uint8_t, 256> regs{};
  for (int r = 0; r < 256; ++r) regs[static_cast<std::size_t>(r)] = board.Register(static_cast<std::uint8_t>(r));
  return regs;
}

// A choice in a list as a person makes it: the selection, and the list's
// "activated" that only a person's pick sends.
void Pick(QComboBox* box, int index) {
  box->setCurrentIndex(index);
  emit box->activated(index);
}

}  // namespace

// A session in the window with "Record" on; the script it wrote, replayed by
// corvelctl on a fresh simulated board, leaves every register of that chip as
// the window left its own.
TEST_F(GuiMainTest, ARecordedSessionReplayedByCorvelctlLeavesTheSameChip) {
  QTemporaryDir dir;
  const std::string script = dir.filePath(QStringLiteral("session.txt")).toStdString();
  sim::SimBoard* board = nullptr;
  CSetupActions* actions = nullptr;
  CRound* page = nullptr;
  std::array<std::uint8_t, 256> windowChip{};
  // Each step waits until the chip holds what the one before wrote.
  auto holds = [&](std::uint8_t reg, std::uint8_t value) { return [&board, reg, value] { return board->Register(reg) == value; }; };

  scenario.Add("the board identified", [] { return g_pMainDialog && g_bBoardMatched == 1; }, [&] {
    board = WindowBoard();
    ASSERT_NE(board, nullptr);
    page = g_pRoundPage;
    actions = g_pMainDialog->findChild<CSetupActions*>();
    ASSERT_NE(actions, nullptr);
    // In place of the file dialog the program put up (its presenters are
    // installed as it starts): the script's name, as typed.
    platform::SetSaveFileDialogHook([&](const std::string&, const std::string& title, const std::string&) {
      EXPECT_EQ(title, "Record to script");
      return std::optional<std::string>(script);
    });
    Click(actions->RecordButton());
    EXPECT_TRUE(actions->Recording());
    EXPECT_TRUE(actions->RecordIndicator()->isVisible());
    EXPECT_EQ(actions->RecordButton()->text(), QStringLiteral("Stop rec."));
    g_pMainDialog->grab().save(QString::fromLatin1(CORVEL_BUILD_SCREENSHOT_DIR) + QStringLiteral("/window_recording.png"));
  });
  scenario.Add("recording", [] { return true; }, [&] { Click(page->ModeBox(dialogs::IDC_MODE_LED)); });
  scenario.Add("LED mode", [&] { return board->Register(0x12) == 0 && g_pBrightnessPage; }, [&] {
    page->CurrentEdit()->selectAll();
    QTest::keyClicks(page->CurrentEdit(), QStringLiteral("25"));
  });
  scenario.Add("25 mA", holds(0x11, 0x01), [&] {
    auto* blink = qobject_cast<BlinkMode*>(g_pBlinkMode);
    blink->TimeCombo(dialogs::IDC_BLINK_RAMP_ON)->setCurrentIndex(1);
    blink->TimeCombo(dialogs::IDC_BLINK_RAMP_OFF)->setCurrentIndex(3);
    blink->TimeCombo(dialogs::IDC_BLINK_KEEP_ON)->setCurrentIndex(5);
    blink->TimeCombo(dialogs::IDC_BLINK_KEEP_OFF)->setCurrentIndex(2);
    g_currentBrightness = 128;  // the dial turned for the LED selected (LED 0)
  });
  scenario.Add("times and brightness", [&] { return board->Register(0x16) == 0x15 && board->Register(0x20) == 128; },
               [&] { Click(qobject_cast<BlinkMode*>(g_pBlinkMode)->GoButton()); });
  scenario.Add("blink running", [] { return g_pEffectDialog != nullptr && g_pEffectDialog->isVisible(); },
               [&] { Click(g_pEffectDialog->StopButton()); });
  scenario.Add("blink stopped", [&] { return !g_pEffectDialog && board->Register(0x14) == 0; },
               [&] { Click(page->ModeBox(dialogs::IDC_MODE_GPIO)); });
  scenario.Add("GPIO mode", [&] { return board->Register(0x12) == 0xFF && g_pGpioInputPage; },
               [&] { Click(page->ModeBox(dialogs::IDC_DIR_OUTPUT)); });
  scenario.Add("outputs", [&] { return board->Register(0x04) == 0 && g_pGpioOutputPage; }, [&] {
    g_selectedLed = 3;
    Pick(qobject_cast<CQV512XX_Gpio_Output*>(g_pGpioOutputPage)->LevelCombo(), 1);
  });
  scenario.Add("pin 3 high", holds(0x03, 0x08),
               [&] { Pick(qobject_cast<CQV512XX_Gpio_Output*>(g_pGpioOutputPage)->ModeCombo(), 1); });
  scenario.Add("push-pull", [&] { return (board->Register(0x11) & 0x10) != 0; },
               [&] { Click(page->ModeBox(dialogs::IDC_DIR_INPUT)); });
  scenario.Add("inputs", [&] { return board->Register(0x04) == 0xFF && g_pGpioInputPage; }, [&] {
    g_selectedLed = 5;
    Pick(qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage)->InterruptCombo(), 1);
  });
  scenario.Add("pin 5's interrupt disabled", holds(0x06, 0x02),
               [&] { page->AddressCombo()->setCurrentIndex(2); });  // 0x5A
  // The simulated chip answers only at 0x5B: the bridge is pointed at 0x5A
  // and back, and the last write goes to the chip where it is.
  scenario.Add("the chip at 0x5A", [&] { return board->ChipAddress() == 0x5A; },
               [&] { page->AddressCombo()->setCurrentIndex(3); });  // 0x5B
  scenario.Add("back at 0x5B", [&] { return board->ChipAddress() == 0x5B; }, [&] {
    page->CurrentEdit()->selectAll();
    QTest::keyClicks(page->CurrentEdit(), QStringLiteral("10"));
  });
  scenario.Add("10 mA", [&] { return (board->Register(0x11) & 0x03) == 0x03; }, [&] {
    Click(actions->RecordButton());
    EXPECT_FALSE(actions->Recording());
    EXPECT_FALSE(actions->RecordIndicator()->isVisible());
    windowChip = Registers(*board);
    Click(platform::FindControl(g_pMainDialog, 1005));
  });

  ASSERT_EQ(RunProgram({"corvelgui", "--simulate"}), 0);
  platform::SetSaveFileDialogHook({});
  ASSERT_TRUE(scenario.Finished());

  std::ifstream in(script);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  for (const char* line : {"\naddress 0x5B\n", "\nmode led\n", "\ncurrent 25\n",
                           // Blink Go came after a brightness change, not right after its
                           // times: its chain is recorded write for write.
                           "\nreg write 0x14 0xFF\n# 0x04 input bits: 0 1; 0x05 input bits: 0 1 2 3\nreg write 0x04 0x03 0x0F\n# 0x11 current range 1 (up to 30 mA), open drain, blink bit set\nreg write 0x11 0x81\n",
                           "\nmode gpio\n", "\ngpio dir output\n", "\ngpio out 0=low 1=low 2=low 3=high 4=low 5=low\n", "\ngpio drive push-pull\n",
                           "\ngpio irq 0=enable 1=enable 2=enable 3=enable 4=enable 5=disable\n", "\naddress 0x5A\n", "\naddress 0x5B\n", "\ncurrent 10\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " missing in\n" << text;

  // The replay, on a simulated board of its own.
  std::array<std::uint8_t, 256> replayChip{};
  cli::SetSessionHooks({nullptr, [&](Session& s) {
                          if (s.Sim()) replayChip = Registers(*s.Sim());
                        }});
  std::ostringstream out, err;
  EXPECT_EQ(cli::Run({"--sim=1", "batch", "--file", script}, out, err), 0) << err.str() << "\n" << text;
  cli::SetSessionHooks({});
  for (int r = 0; r < 256; ++r)
    EXPECT_EQ(int(replayChip[static_cast<std::size_t>(r)]), int(windowChip[static_cast<std::size_t>(r)]))
        << "register " << r << "\n" << text;
}
