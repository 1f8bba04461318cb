// The program as a person starts it: the very function main calls, with its
// own QApplication and its own way of running the window, on the simulated
// board. A scenario driven by a timer inside that run clicks through the
// window system (where a modal window would swallow the clicks) and looks at
// what the person would see.
#include <gtest/gtest.h>

#include <QApplication>
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
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/GuiMain.h"
#include "app/MainWindow.h"
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
