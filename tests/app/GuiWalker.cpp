#include "tests/app/GuiWalker.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app/BoardChooser.h"
#include "app/GuiMain.h"
#include "app/MainWindow.h"
#include "app/SetupActions.h"
#include "app/SimRegisterPanel.h"
#include "chip/ChipAccess.h"
#include "chip/ChipClaims.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "cli/Commands.h"
#include "corvel/Session.h"
#include "link/ProtocolEngine.h"
#include "pages/BlinkMode.h"
#include "pages/BoardGlobals.h"
#include "pages/BrightnessDial.h"
#include "pages/EffectPlayDialog.h"
#include "pages/FadeMode.h"
#include "pages/GpioInputPage.h"
#include "pages/GpioOutputPage.h"
#include "pages/LedLayoutPage.h"
#include "pages/RegisterPage.h"
#include "pages/RoundPage.h"
#include "platform/Sleep.h"
#include "platform/qt/WindowTarget.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "sim/SimBoard.h"
#include "ui/BitmapButton.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyRoundButton.h"

extern CRegisterPage* g_pRegisterPage;

namespace walk {
namespace {

using Clock = std::chrono::steady_clock;

// What a person can do. Each kind has its footprint: the registers the
// program may write because of it.
enum Kind {
  kLedClick,
  kDialWheel,
  kDialType,
  kModeLed,
  kModeGpio,
  kDirInput,
  kDirOutput,
  kCurrent,
  kReset,
  kBlinkTime,
  kFadeTime,
  kBlinkGo,
  kFadeOn,
  kFadeOff,
  kInterrupt,
  kOutputLevel,
  kDriverType,
  kReadInput,
  kRegisterWrite,
  kReplugSlow,
  kReplugFast,
  kSimDrive,
  kSimInterrupt,
  kLoadSetup,
  kAnswerOk,
  kAnswerCancel,
  kStop,
  kDialDrag,
  kChooseBoard,
  kEscapeEffect,
  kKinds
};

struct Step {
  int kind = 0;
  int a = 0;
  int b = 0;
};

constexpr std::array<std::uint8_t, 12> kWritableRegisters = {0x02, 0x04, 0x06, 0x11, 0x12, 0x14,
                                                             0x15, 0x16, 0x20, 0x21, 0x23, 0x7F};

std::string Hex(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

std::string DescribeStep(const Step& s) {
  static const char* const kTimes[] = {"0ms", "315ms", "630ms", "1260ms", "2520ms", "5040ms"};
  static const char* const kBlinkLists[] = {"ramp on", "ramp off", "keep on", "keep off"};
  switch (s.kind) {
    case kLedClick:
      return "click LED/pin " + std::to_string(s.a) + (s.b == 1 ? " with Shift" : s.b == 2 ? " with Ctrl" : "");
    case kDialWheel: return "turn the wheel over the dial by " + std::to_string(s.a) + " notch(es)";
    case kDialType:
      return "type " + std::to_string(s.a) + " into the dial, then " + (s.b ? "Escape" : "Enter");
    case kModeLed: return "click the LED box";
    case kModeGpio: return "click the GPIO box";
    case kDirInput: return "click the INPUT box";
    case kDirOutput: return "click the OUTPUT box";
    case kCurrent: return "type " + std::to_string(s.a) + " into Global Max Current";
    case kReset: return "click SoftWareReset";
    case kBlinkTime:
      return std::string("choose ") + kTimes[s.b % 6] + " for blink " + (s.a == 4 ? "all four times" : kBlinkLists[s.a % 4]);
    case kFadeTime: return std::string("choose ") + kTimes[s.b % 6] + " for fade " + (s.a % 2 ? "ramp off" : "ramp on");
    case kBlinkGo: return "click Blink Go";
    case kFadeOn: return "click Fade On";
    case kFadeOff: return "click Fade Off";
    case kInterrupt: return std::string("choose ") + (s.b ? "Disable" : "Enable") + " in Interrupt";
    case kOutputLevel: return std::string("choose ") + (s.b ? "high-level" : "low-level") + " in Write Output Register";
    case kDriverType: return std::string("choose ") + (s.b ? "push_pull" : "open drain") + " in Output Mode";
    case kReadInput: return "click read input state";
    case kRegisterWrite:
      return "write " + Hex(s.b) + " to register " + Hex(kWritableRegisters[static_cast<std::size_t>(s.a) % kWritableRegisters.size()]) +
             " on the Registers page";
    case kReplugSlow: return "unplug the board, then plug it in again";
    case kReplugFast: return "unplug and plug the board within one turn of the event loop";
    case kSimDrive: return "drive the chip's pin P" + std::to_string(s.a / 8) + "_" + std::to_string(s.a % 8) + (s.b ? " high" : " low");
    case kSimInterrupt: return "the board raises its interrupt";
    case kLoadSetup: return "load setup variant " + std::to_string(s.a);
    case kAnswerOk: return "answer OK";
    case kAnswerCancel: return "answer Cancel";
    case kStop: return "click STOP";
    case kDialDrag: return "drag the dial's knob to " + std::to_string(s.a) + "°, then " + std::to_string(s.b) + "°";
    case kChooseBoard: return "choose board " + std::to_string(s.a + 1) + " in the caption band's chooser";
    case kEscapeEffect: return "press Escape in the running effect's window";
    default: return "?";
  }
}

std::set<int> Range(int first, int last) {
  std::set<int> s;
  for (int r = first; r <= last; ++r) s.insert(r);
  return s;
}

std::set<int> Brightness() {
  std::set<int> s = Range(chip::kRegBrightness, chip::kRegBrightness + 15);
  s.insert(chip::kRegEffectControl);
  return s;
}

// The registers an action may write, from what the pages are to do.
std::set<int> Footprint(const Step& s, const std::string& questionText) {
  switch (s.kind) {
    case kLedClick:
    case kDialWheel:
    case kDialType:
    case kDialDrag:
    case kStop:
    case kEscapeEffect: return Brightness();
    case kModeLed: return {0x12, 0x13, chip::kRegEffectControl};
    case kModeGpio: return {0x12, 0x13, 0x04, 0x05};
    case kDirInput:
    case kDirOutput: return {0x04, 0x05};
    case kCurrent:
    case kDriverType: return {0x11};
    // The page goes back to its start (current 40, no dial) before the reset.
    case kReset: return {0x7F, 0x11, 0x12, 0x13, chip::kRegEffectControl};
    case kBlinkTime:
      if (s.a == 4) return {0x15, 0x16};
      return {s.a % 4 < 2 ? 0x15 : 0x16};
    case kFadeTime: return {0x15};
    case kBlinkGo: return {chip::kRegEffectControl, 0x04, 0x05, 0x11};
    case kFadeOn:
    case kFadeOff: return {chip::kRegEffectControl, 0x04, 0x05, 0x11, 0x02, 0x03};
    case kInterrupt: return {0x06, 0x07};
    case kOutputLevel: return {0x02, 0x03};
    case kRegisterWrite: {
      const int reg = kWritableRegisters[static_cast<std::size_t>(s.a) % kWritableRegisters.size()];
      if (reg == 0x7F) return {};  // asks first
      // The LED board page stops any effect when it hears the pins' mode
      // was written, whoever wrote it.
      if (reg == 0x12 || reg == 0x13) return {reg, chip::kRegEffectControl};
      return {reg};
    }
    case kLoadSetup: {
      std::set<int> all = Brightness();
      for (int r : {0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x11, 0x12, 0x13, 0x15, 0x16}) all.insert(r);
      return all;
    }
    case kAnswerOk:
      // The reset question (Blink Go, the register page): the reset and what
      // Blink Go gives the fresh chip again; the refusal of a too large
      // current: the current put back to 40.
      if (questionText.find("reset") != std::string::npos)
        return {0x7F, 0x11, 0x12, 0x13, chip::kRegEffectControl, 0x15, 0x16};
      return {0x11};
    default: return {};
  }
}

// ---- the program side: one sequence in this process --------------------------------------------

struct Played {
  std::vector<Step> steps;
  bool held = true;
  std::string failure;
};

// Reports what happens to the parent as it happens, so that a crash still
// leaves the sequence behind.
class Reporter {
 public:
  explicit Reporter(int fd) : m_fd(fd) {}
  void Line(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  int m_fd;
};

sim::SimBoard* WindowBoard() {
  for (QAction* action : g_pMainDialog->actions())
    if (action->text().startsWith(QStringLiteral("Simulated chip registers"))) action->trigger();
  // The action shows the panel of the board the window is linked to.
  for (auto* panel : g_pMainDialog->findChildren<SimRegisterPanel*>()) {
    if (!panel->isVisible()) continue;
    panel->hide();
    return &panel->Board();
  }
  return nullptr;
}

void Click(QWidget* widget, Qt::KeyboardModifiers keys = {}) {
  QWidget* top = widget->window();
  if (!top->windowHandle()) return;
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, keys, widget->mapTo(top, widget->rect().center()));
}

// A pick in a list as a person makes it: the press (which the pages watch),
// then the entry.
void Pick(QComboBox* box, int index) {
  QTest::mousePress(box, Qt::LeftButton, {}, box->rect().center());
  box->hidePopup();
  box->setCurrentIndex(index);
  emit box->activated(index);
}

class Walker {
 public:
  Walker(std::uint32_t seed, int length, const std::vector<Step>* replay, Reporter& out, QString dir)
      : m_rng(seed), m_length(length), m_replay(replay), m_out(out), m_dir(std::move(dir)) {}

  void Start() {
    m_timer = new QTimer(QCoreApplication::instance());
    QObject::connect(m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer->start(2);
    m_phaseStart = Clock::now();
  }

  Played& Result() { return m_played; }

 private:
  enum Phase { kStarting, kActing, kSettling, kDone };

  static constexpr auto kQuiet = std::chrono::milliseconds(60);
  // Every wait of the window ends well within this (the longest, the reply
  // timeout, runs sped up; a re-plug's identification takes well under it).
  static constexpr auto kIdleBound = std::chrono::milliseconds(12000);

  void Poll() {
    if (m_phase == kDone) return;
    if (m_phase == kStarting) {
      if (!(g_pMainDialog && g_bBoardMatched == 1)) {
        if (Clock::now() - m_phaseStart > std::chrono::seconds(20)) Fail("the board was never identified");
        return;
      }
      if (!m_board) {
        m_board = WindowBoard();
        if (!m_board) return Fail("no simulated board behind the window");
        m_current = Step{-1, 0, 0};
        m_currentText = "start";
        m_footprint = {};
        m_actStart = Clock::now();
        m_phase = kSettling;
      }
      return;
    }
    if (m_phase == kSettling) {
      Settle();
      return;
    }
    if (m_phase == kActing && !m_acting) Act();
  }

  // ---- idle ----------------------------------------------------------------------------------

  std::uint64_t Activity() const {
    const auto c = m_board->GetCounters();
    return c.framesFromHost + c.framesToHost + c.acksFromHost + m_board->Delivered().size();
  }

  // What the window still waits for, in words; empty when idle.
  std::string Busy() const {
    if (m_pendingPlug) return "the unplugged board";
    if (!m_board->IsPlugged()) return "the board to be plugged";
    if (g_bBoardMatched != 1) return "the board's identification";
    // A write still in the engine is in the program's picture already, not
    // yet on the chip.
    const ProtocolEngine::Stats link = ProtocolEngine::Instance().GetStats();
    if (link.inFlight || link.windowCount > 0 || link.queuedReports > 0 || link.reassembling) return "frames on the link";
    if (g_bClickPending) return "the click";
    if (g_bBrightnessPending) return "the brightness write";
    if (g_pBrightnessPage && g_dialDisplayed != g_currentBrightness) return "the dial's glide";
    if (const auto waits = chip::ReplyWaitsUnderWay(); !waits.empty()) return "a reply wait: " + waits.front();
    if (auto* actions = g_pMainDialog->findChild<CSetupActions*>(); actions && actions->Loading()) return "the setup";
    return {};
  }

  void Settle() {
    const auto now = Clock::now();
    if (m_pendingPlug && g_bDevicePresent == 0 && now - m_actStart > std::chrono::milliseconds(30)) {
      m_pendingPlug = false;
      m_board->Plug();
    }
    const std::uint64_t activity = Activity();
    // A loop that did not turn for a while (a loaded machine) ran none of the
    // pages' timers either: the quiet time starts again.
    const bool stalled = now - m_lastPollAt > std::chrono::milliseconds(15);
    m_lastPollAt = now;
    if (activity != m_lastActivity || stalled) {
      m_lastActivity = activity;
      m_lastActivityAt = now;
    }
    const std::string busy = Busy();
    if (!busy.empty() || now - m_lastActivityAt < kQuiet || now - m_actStart < kQuiet) {
      if (now - m_actStart > kIdleBound)
        Fail("a wait did not end within " + std::to_string(kIdleBound.count()) + " ms after '" + m_currentText +
             "': " + (busy.empty() ? "traffic goes on" : busy) + " (board present " + std::to_string(g_bDevicePresent) +
             ", identified " + std::to_string(g_bBoardMatched) + ", the window linked to '" +
             (g_pMainDialog->Chooser() ? g_pMainDialog->Chooser()->LinkedLabel().toStdString() : std::string()) + "')");
      return;
    }
    Check();
    if (m_phase == kDone) return;
    if (!m_recordTried) StartStretch();
    m_phase = kActing;
  }

  // ---- 4. the recorder agrees ----------------------------------------------------------------
  // The first stretch of the sequence is recorded: from the identified board
  // up to the first action a script cannot replay (an unplug and plug, the
  // simulated chip's pins or interrupt, another board) or the end. Only the
  // first: a later stretch would start from a chip a fresh board does not
  // hold, so the replay could not be compared register by register.

 public:
  struct Stretch {
    bool recorded = false;
    int boardId = 0;
    std::string script;
    std::vector<std::pair<int, std::vector<std::uint8_t>>> writes;  // first register, bytes
    std::array<std::uint8_t, 256> chip{};
  };
  const Stretch& Recorded() const { return m_stretch; }

 private:
  static bool EndsStretch(int kind) {
    return kind == kReplugSlow || kind == kReplugFast || kind == kSimDrive || kind == kSimInterrupt ||
           kind == kChooseBoard;
  }

  void StartStretch() {
    m_recordTried = true;
    auto* actions = g_pMainDialog->findChild<CSetupActions*>();
    m_stretch.script = QDir(m_dir).filePath(QStringLiteral("walk-record.txt")).toStdString();
    m_stretch.boardId = g_selectedBoardId;
    m_recording = actions && actions->StartRecording(m_stretch.script);
  }

  void EndStretch() {
    if (!m_recording) return;
    m_recording = false;
    if (auto* actions = g_pMainDialog->findChild<CSetupActions*>()) actions->StopRecording();
    for (int r = 0; r < 256; ++r) m_stretch.chip[static_cast<std::size_t>(r)] = m_board->Register(static_cast<std::uint8_t>(r));
    m_stretch.recorded = true;
  }

  // ---- checks -------------------------------------------------------------------------------

  void Check() {
    // 2. No write without a cause.
    // After a software reset only what the action gives the fresh chip
    // (Blink Go: its times again) may follow it.
    std::string uncaused;
    bool afterReset = false;
    const std::set<int> afterResetAllowed =
        m_current.kind == kAnswerOk ? std::set<int>{0x15, 0x16} : std::set<int>{};
    for (const sim::DeliveredCommand& c : m_board->Delivered()) {
      if (c.cls != 16 || c.cmd != 3 || c.payload.size() < 6) continue;
      const int first = c.payload[2];
      std::string bytes;
      bool outside = false;
      for (std::size_t i = 6; i < c.payload.size(); ++i) {
        const int reg = first + static_cast<int>(i - 6);
        bytes += " " + Hex(c.payload[i]);
        outside = outside || !m_footprint.count(reg) || (afterReset && !afterResetAllowed.count(reg));
        if (reg == chip::kRegSoftwareReset && c.payload[i] == chip::kSoftwareResetValue) afterReset = true;
      }
      if (outside) uncaused += (uncaused.empty() ? "" : ", ") + Hex(first) + " <-" + bytes + " (frame " + std::to_string(c.sequence) + ")";
    }
    if (!uncaused.empty())
      return Fail("writes without a cause after '" + m_currentText + "': " + uncaused);
    if (m_recording)
      for (const sim::DeliveredCommand& c : m_board->Delivered())
        if (c.cls == 16 && c.cmd == 3 && c.payload.size() >= 6)
          m_stretch.writes.emplace_back(c.payload[2], std::vector<std::uint8_t>(c.payload.begin() + 6, c.payload.end()));
    m_board->ClearDelivered();
    // The dial acts on the LEDs shown selected, and only on them.
    if (m_current.kind == kDialWheel || m_current.kind == kDialType) {
      for (int i = 0; i < g_ledCount && i < chip::kMaxChipLeds && g_pLayoutPage; ++i) {
        const auto reg = static_cast<std::uint8_t>(chip::kRegBrightness + i);
        // An LED whose brightness was not known may be written with the
        // block: the drawing showed no value for it to keep.
        if (m_knownBefore[reg] && m_board->Register(reg) != m_before[reg] && !g_pLayoutPage->LedButton(i)->Selected())
          return Fail("'" + m_currentText + "' changed the brightness of LED " + std::to_string(i) +
                      ", which the drawing does not show selected");
      }
    }
    // 1. Every claim holds.
    chip::ChipClaims claims;
    auto add = [&claims](const chip::ChipClaims& more) { claims.insert(claims.end(), more.begin(), more.end()); };
    if (g_pRoundPage) add(g_pRoundPage->Claims());
    if (g_pLayoutPage) add(g_pLayoutPage->Claims());
    if (auto* dial = qobject_cast<CSetBrightnessLevel*>(g_pBrightnessPage)) add(dial->Claims());
    if (auto* blink = qobject_cast<BlinkMode*>(g_pBlinkMode)) add(blink->Claims());
    if (auto* fade = qobject_cast<FadeMode*>(g_pFadeMode)) add(fade->Claims());
    if (auto* in = qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage)) add(in->Claims());
    if (auto* out = qobject_cast<CQV512XX_Gpio_Output*>(g_pGpioOutputPage)) add(out->Claims());
    for (const chip::ChipClaim& c : claims) {
      if (!c.value) continue;
      // What is outside the pins changed since the ports were last read: no
      // program can know their levels until it reads them again.
      if (m_outsideChanged && (c.reg == chip::kRegPort0Input || c.reg == chip::kRegPort1Input)) continue;
      const int held = m_board->Register(c.reg) & c.mask;
      if (held != (*c.value & c.mask))
        return Fail("after '" + m_currentText + "': " + c.what + " says register " + Hex(c.reg) + " (bits " +
                    Hex(c.mask) + ") holds " + Hex(*c.value & c.mask) + ", the chip holds " + Hex(held) +
                    " (whole register " + Hex(m_board->Register(c.reg)) + ")");
    }
  }

  void Fail(const std::string& what) {
    m_played.held = false;
    m_played.failure = what;
    m_out.Line("F " + what);
    Finish();
  }

  void Finish() {
    if (m_played.held) EndStretch();
    m_phase = kDone;
    m_timer->stop();
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
      for (QWidget* w = QApplication::activeModalWidget(); w; w = QApplication::activeModalWidget()) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) box->done(QMessageBox::Cancel);
        else w->close();
        QCoreApplication::processEvents();
        if (QApplication::activeModalWidget() == w) break;
      }
      if (g_pEffectDialog) g_pEffectDialog->close();
      if (g_pMainDialog) g_pMainDialog->reject();
    });
  }

  // ---- actions -------------------------------------------------------------------------------

  QMessageBox* Question() const { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

  bool Applicable(const Step& s) const {
    if (QMessageBox* box = Question())
      return s.kind == kAnswerOk || (s.kind == kAnswerCancel && box->button(QMessageBox::Cancel));
    if (g_pEffectDialog && g_pEffectDialog->isVisible()) return s.kind == kStop || s.kind == kEscapeEffect;
    if (QApplication::activeModalWidget()) return false;
    auto* round = g_pRoundPage;
    switch (s.kind) {
      case kLedClick: return g_pLayoutPage && s.a < g_ledCount;
      case kDialWheel:
      case kDialType: return g_pBrightnessPage && g_pBrightnessPage->isVisible();
      case kDialDrag: {
        auto* dial = qobject_cast<CSetBrightnessLevel*>(g_pBrightnessPage);
        return dial && dial->isVisible() && dial->Knob()->isVisible();
      }
      case kChooseBoard: {
        BoardChooser* chooser = g_pMainDialog->Chooser();
        return chooser && chooser->isVisible() && chooser->isEnabled() && s.a < chooser->count();
      }
      case kModeLed: return round->ModeBox(dialogs::IDC_MODE_LED)->isEnabled();
      case kModeGpio: return round->ModeBox(dialogs::IDC_MODE_GPIO)->isEnabled();
      case kDirInput: return round->ModeBox(dialogs::IDC_DIR_INPUT)->isEnabled();
      case kDirOutput: return round->ModeBox(dialogs::IDC_DIR_OUTPUT)->isEnabled();
      case kCurrent:
      case kReset:
      case kReplugSlow:
      case kReplugFast:
      case kSimDrive:
      case kSimInterrupt:
      case kLoadSetup: return true;
      case kBlinkTime:
      case kBlinkGo: return g_pBlinkMode && g_pBlinkMode->isVisible();
      case kFadeTime:
      case kFadeOn:
      case kFadeOff: return g_pFadeMode && g_pFadeMode->isVisible();
      case kInterrupt:
      case kReadInput: return g_pGpioInputPage && g_pGpioInputPage->isVisible() && gpioSelected();
      case kOutputLevel:
      case kDriverType: return g_pGpioOutputPage && g_pGpioOutputPage->isVisible() && gpioSelected();
      case kRegisterWrite: return g_pRegisterPage != nullptr;
      default: return false;
    }
  }
  static bool gpioSelected() { return g_selectedLed >= 0 && g_selectedLed < g_ledCount; }

  Step Draw() {
    // How often each kind comes up, among those that can be done now.
    static constexpr std::array<int, kKinds> kWeights = {8, 4, 4, 3, 3, 2, 2, 2, 2, 12, 4, 3, 2, 2, 3, 3, 2, 3, 2, 1, 1, 2, 1, 1, 1, 1, 1, 3, 1, 1};
    std::vector<Step> options;
    std::vector<int> weights;
    for (int kind = 0; kind < kKinds; ++kind) {
      Step s{kind, 0, 0};
      switch (kind) {
        case kLedClick: s.a = Rand(16); s.b = Rand(4) == 0 ? 1 : Rand(6) == 0 ? 2 : 0; break;
        case kDialWheel: s.a = Rand(2) ? 1 + Rand(3) : -1 - Rand(3); break;
        case kDialType: s.a = Rand(4) == 0 ? Rand(300) : Rand(256); s.b = Rand(5) == 0; break;
        case kCurrent: s.a = Rand(8) == 0 ? 41 + Rand(20) : Rand(41); break;
        // "0ms" now and then: an effect refuses it.
        // Half the time all four lists, one after the other (a = 4).
        case kBlinkTime: s.a = Rand(2) ? 4 : Rand(4); s.b = Rand(8) == 0 ? 0 : 1 + Rand(5); break;
        case kFadeTime: s.a = Rand(2); s.b = Rand(8) == 0 ? 0 : 1 + Rand(5); break;
        case kInterrupt:
        case kOutputLevel:
        case kDriverType: s.b = Rand(2); break;
        case kRegisterWrite: s.a = Rand(static_cast<int>(kWritableRegisters.size())); s.b = Rand(256); break;
        case kSimDrive: s.a = Rand(16); s.b = Rand(2); break;
        case kLoadSetup: s.a = Rand(3); break;
        case kDialDrag: s.a = Rand(360); s.b = Rand(360); break;
        case kChooseBoard: s.a = Rand(3); break;
        default: break;
      }
      if (!Applicable(s)) continue;
      options.push_back(s);
      weights.push_back(kWeights[static_cast<std::size_t>(kind)]);
    }
    std::discrete_distribution<int> pick(weights.begin(), weights.end());
    return options[static_cast<std::size_t>(pick(m_rng))];
  }

  int Rand(int n) { return static_cast<int>(m_rng() % static_cast<std::uint32_t>(n)); }

  void Act() {
    Step step;
    if (m_replay) {
      // A replayed step that cannot be done now is left out.
      while (m_next < m_replay->size() && !Applicable((*m_replay)[m_next])) ++m_next;
      if (m_next >= m_replay->size()) return Finish();
      step = (*m_replay)[m_next++];
    } else {
      if (static_cast<int>(m_played.steps.size()) >= m_length) return Finish();
      step = Draw();
    }
    m_played.steps.push_back(step);
    m_out.Line("S " + std::to_string(step.kind) + " " + std::to_string(step.a) + " " + std::to_string(step.b));
    if (EndsStretch(step.kind)) EndStretch();
    m_current = step;
    m_currentText = "#" + std::to_string(m_played.steps.size()) + " " + DescribeStep(step);
    m_question = Question() ? Question()->text().toStdString() : std::string();
    m_footprint = Footprint(step, m_question);
    for (int r = 0; r < 256; ++r) {
      m_before[static_cast<std::size_t>(r)] = m_board->Register(static_cast<std::uint8_t>(r));
      m_knownBefore[static_cast<std::size_t>(r)] = chip::Journal().Known(static_cast<std::uint8_t>(r)).has_value();
    }
    m_actStart = m_lastActivityAt = Clock::now();
    m_phase = kSettling;
    m_acting = true;
    // On a turn of its own: the action may run a modal window's loop, in
    // which the walk goes on.
    QTimer::singleShot(0, QCoreApplication::instance(), [this, step] {
      m_acting = false;
      Do(step);
    });
  }

  void Do(const Step& s) {
    CRound* round = g_pRoundPage;
    switch (s.kind) {
      case kLedClick: {
        const Qt::KeyboardModifiers keys =
            s.b == 1 ? Qt::ShiftModifier : s.b == 2 ? Qt::ControlModifier : Qt::KeyboardModifiers();
        QTest::mouseClick(g_pLayoutPage->LedButton(s.a), Qt::LeftButton, keys, QPoint(10, 10));
        break;
      }
      case kDialWheel: {
        auto* dial = qobject_cast<CSetBrightnessLevel*>(g_pBrightnessPage);
        const QPointF at = dial->Face()->geometry().center();
        QWheelEvent wheel(at, dial->mapToGlobal(at), QPoint(), QPoint(0, 120 * s.a), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(dial, &wheel);
        break;
      }
      case kDialType: {
        auto* dial = qobject_cast<CSetBrightnessLevel*>(g_pBrightnessPage);
        CMyEdit* edit = dial->ValueEdit();
        QTest::mouseClick(edit, Qt::LeftButton, {}, edit->rect().center());
        edit->selectAll();
        QTest::keyClicks(edit, QString::number(s.a));
        QTest::keyClick(edit, s.b ? Qt::Key_Escape : Qt::Key_Return);
        break;
      }
      case kModeLed: Click(round->ModeBox(dialogs::IDC_MODE_LED)); break;
      case kModeGpio: Click(round->ModeBox(dialogs::IDC_MODE_GPIO)); break;
      case kDirInput: Click(round->ModeBox(dialogs::IDC_DIR_INPUT)); break;
      case kDirOutput: Click(round->ModeBox(dialogs::IDC_DIR_OUTPUT)); break;
      case kCurrent:
        round->CurrentEdit()->setFocus();
        round->CurrentEdit()->selectAll();
        QTest::keyClicks(round->CurrentEdit(), QString::number(s.a));
        break;
      case kReset: Click(round->ResetButton()); break;
      case kBlinkTime: {
        static constexpr int kIds[] = {dialogs::IDC_BLINK_RAMP_ON, dialogs::IDC_BLINK_RAMP_OFF,
                                       dialogs::IDC_BLINK_KEEP_ON, dialogs::IDC_BLINK_KEEP_OFF};
        if (s.a == 4) {
          for (int id : kIds) Pick(qobject_cast<BlinkMode*>(g_pBlinkMode)->TimeCombo(id), s.b % 6);
        } else {
          Pick(qobject_cast<BlinkMode*>(g_pBlinkMode)->TimeCombo(kIds[s.a % 4]), s.b % 6);
        }
        break;
      }
      case kFadeTime:
        Pick(qobject_cast<FadeMode*>(g_pFadeMode)->TimeCombo(s.a % 2 ? dialogs::IDC_FADE_RAMP_OFF : dialogs::IDC_FADE_RAMP_ON),
             s.b % 6);
        break;
      case kBlinkGo: Click(qobject_cast<BlinkMode*>(g_pBlinkMode)->GoButton()); break;
      case kFadeOn: Click(qobject_cast<FadeMode*>(g_pFadeMode)->Button(dialogs::IDC_FADE_ON)); break;
      case kFadeOff: Click(qobject_cast<FadeMode*>(g_pFadeMode)->Button(dialogs::IDC_FADE_OFF)); break;
      case kInterrupt: Pick(qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage)->InterruptCombo(), s.b); break;
      case kOutputLevel: Pick(qobject_cast<CQV512XX_Gpio_Output*>(g_pGpioOutputPage)->LevelCombo(), s.b); break;
      case kDriverType: Pick(qobject_cast<CQV512XX_Gpio_Output*>(g_pGpioOutputPage)->ModeCombo(), s.b); break;
      case kReadInput:
        Click(qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage)->ReadButton());
        m_outsideChanged = false;
        break;
      case kRegisterWrite:
        g_pRegisterPage->WriteRegisterText(kWritableRegisters[static_cast<std::size_t>(s.a) % kWritableRegisters.size()],
                                           QString::fromStdString(Hex(s.b)));
        break;
      case kReplugSlow:
        m_board->Unplug();
        m_pendingPlug = true;
        break;
      case kReplugFast:
        m_board->Unplug();
        m_board->Plug();
        break;
      case kSimDrive:
        m_board->DrivePin(s.a, s.b != 0);
        m_outsideChanged = true;
        break;
      case kSimInterrupt: m_board->RaiseInterrupt(); break;
      case kLoadSetup: {
        auto* actions = g_pMainDialog->findChild<CSetupActions*>();
        if (actions) actions->LoadSetupFrom(WriteSetup(s.a));
        break;
      }
      case kAnswerOk:
        if (QMessageBox* box = Question()) {
          QAbstractButton* ok = box->button(QMessageBox::Ok);
          if (ok) ok->click();
          else box->done(QMessageBox::Ok);
        }
        break;
      case kAnswerCancel:
        if (QMessageBox* box = Question())
          if (QAbstractButton* cancel = box->button(QMessageBox::Cancel)) cancel->click();
        break;
      case kStop:
        if (g_pEffectDialog) Click(g_pEffectDialog->StopButton());
        break;
      case kEscapeEffect:
        if (g_pEffectDialog) QTest::keyClick(g_pEffectDialog, Qt::Key_Escape);
        break;
      case kDialDrag: {
        // Press on the knob, move along the ring in steps, let go.
        auto* dial = qobject_cast<CSetBrightnessLevel*>(g_pBrightnessPage);
        QLabel* knob = dial->Knob();
        const QRect face = dial->Face()->geometry();
        const double radius = 0.4 * std::min(face.width(), face.height());
        QTest::mousePress(knob, Qt::LeftButton, {}, knob->rect().center());
        auto moveTo = [&](double degrees) {
          const double rad = degrees * 3.14159265358979 / 180.0;
          const QPoint page = face.center() + QPoint(static_cast<int>(radius * std::sin(rad)), static_cast<int>(-radius * std::cos(rad)));
          const QPointF local = knob->mapFrom(dial, page);
          QMouseEvent move(QEvent::MouseMove, local, knob->mapToGlobal(local), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
          QApplication::sendEvent(knob, &move);
        };
        for (int i = 1; i <= 4; ++i) moveTo(s.a * i / 4.0);
        for (int i = 1; i <= 4; ++i) moveTo(s.a + (s.b - s.a) * i / 4.0);
        QTest::mouseRelease(knob, Qt::LeftButton, {}, knob->rect().center());
        break;
      }
      case kChooseBoard:
        if (BoardChooser* chooser = g_pMainDialog->Chooser()) {
          Pick(chooser, s.a);
          // The window now speaks with the board chosen: judge by its chip.
          if (sim::SimBoard* board = WindowBoard()) m_board = board;
        }
        break;
      default: break;
    }
  }

  // A setup for the board in the window: three variants.
  std::string WriteSetup(int variant) {
    const int id = g_selectedBoardId;
    nlohmann::json json = {{"format", "corvel-setup"}, {"version", 1}, {"board_id", id}};
    const bool gpioOnly = id == 128;
    if (variant == 0 && !gpioOnly) {
      json["pins"] = {{"mode", "led"}, {"direction", "output"}};
      json["max_current_ma"] = 25;
      nlohmann::json brightness = nlohmann::json::array();
      for (int i = 0; i < g_ledCount; ++i) brightness.push_back((i * 37) % 256);
      json["brightness"] = brightness;
    } else if (variant == 1 || gpioOnly) {
      json["pins"] = {{"mode", "gpio"}, {"direction", "input"}};
      json["driver"] = "push-pull";
      json["max_current_ma"] = 15;
      json["gpio"] = {{"interrupt_disabled", {0, 2}}};
    } else {
      json["pins"] = {{"mode", "gpio"}, {"direction", "output"}};
      json["effect_times"] = {{"ramp_on", "315ms"}, {"ramp_off", "630ms"}, {"keep_on", "1260ms"}, {"keep_off", "315ms"}};
      json["gpio"] = {{"output_high", {1}}};
    }
    const std::string path = QDir(m_dir).filePath(QStringLiteral("walk-setup.json")).toStdString();
    std::ofstream(path) << json.dump();
    return path;
  }

  std::mt19937 m_rng;
  int m_length;
  const std::vector<Step>* m_replay;
  std::size_t m_next = 0;
  Reporter& m_out;
  QString m_dir;
  Played m_played;
  QTimer* m_timer = nullptr;
  Phase m_phase = kStarting;
  bool m_acting = false;
  sim::SimBoard* m_board = nullptr;
  Step m_current;
  std::string m_currentText;
  std::string m_question;
  std::set<int> m_footprint;
  std::array<std::uint8_t, 256> m_before{};
  std::array<bool, 256> m_knownBefore{};
  Clock::time_point m_phaseStart;
  Clock::time_point m_actStart;
  Clock::time_point m_lastActivityAt;
  Clock::time_point m_lastPollAt;
  std::uint64_t m_lastActivity = 0;
  bool m_pendingPlug = false;
  bool m_outsideChanged = false;
  bool m_recordTried = false;
  bool m_recording = false;
  Stretch m_stretch;
};

Walker* g_walker = nullptr;
void StartWalker() {
  if (g_walker) g_walker->Start();
}

constexpr int kBoards[] = {1, 3, 1, 3, 5, 0, 128};

int BoardFor(std::uint32_t seed) { return kBoards[seed % std::size(kBoards)]; }

// Every fifth seed has a second board beside the first, to choose in the
// caption band.
std::string SimulateFor(std::uint32_t seed) {
  std::string ids = std::to_string(BoardFor(seed));
  if (seed % 5 == 0) ids += "," + std::to_string(kBoards[(seed + 1) % std::size(kBoards)]);
  return "--simulate=" + ids;
}

std::string Bytes(const std::vector<std::uint8_t>& data) {
  std::string text;
  for (std::uint8_t b : data) text += " " + Hex(b);
  return text;
}

// Check 4: the recorded script, replayed by corvelctl on a fresh simulated
// board, writes what the window wrote, write for write, and leaves the same
// chip. Empty when it does.
std::string CompareReplay(const Walker::Stretch& stretch) {
  std::vector<std::pair<int, std::vector<std::uint8_t>>> writes;
  std::array<std::uint8_t, 256> chip{};
  bool seen = false;
  cli::SetSessionHooks({nullptr, [&](Session& session) {
                          sim::SimBoard* board = session.Sim();
                          if (!board) return;
                          seen = true;
                          for (const sim::DeliveredCommand& c : board->Delivered())
                            if (c.cls == 16 && c.cmd == 3 && c.payload.size() >= 6)
                              writes.emplace_back(c.payload[2], std::vector<std::uint8_t>(c.payload.begin() + 6, c.payload.end()));
                          for (int r = 0; r < 256; ++r) chip[static_cast<std::size_t>(r)] = board->Register(static_cast<std::uint8_t>(r));
                        }});
  std::ostringstream out, err;
  const int status = cli::Run({"--sim=" + std::to_string(stretch.boardId), "batch", "--file", stretch.script}, out, err);
  cli::SetSessionHooks({});
  std::ifstream in(stretch.script);
  const std::string script{std::istreambuf_iterator<char>(in), {}};
  // One line (the parent reads the child's report line by line).
  std::string tail = " -- the recorded script: " + script;
  std::replace(tail.begin(), tail.end(), '\n', '|');
  if (status != 0 || !seen) return "the recorded script's replay failed (" + std::to_string(status) + "): " + err.str() + tail;
  for (std::size_t i = 0; i < std::max(writes.size(), stretch.writes.size()); ++i) {
    auto text = [](const auto& list, std::size_t k) {
      return k < list.size() ? Hex(list[k].first) + " <-" + Bytes(list[k].second) : std::string("nothing");
    };
    if (i >= writes.size() || i >= stretch.writes.size() || writes[i] != stretch.writes[i]) {
      auto around = [&](const auto& list) {
        std::string t;
        for (std::size_t k = i >= 2 ? i - 2 : 0; k < list.size() && k < i + 4; ++k) t += (t.empty() ? "" : ", ") + text(list, k);
        return t;
      };
      return "the recorder disagrees: write " + std::to_string(i + 1) + " of the window was " + text(stretch.writes, i) +
             ", of the replay " + text(writes, i) + " (from write " + std::to_string(i >= 2 ? i - 1 : 1) +
             ": the window " + around(stretch.writes) + "; the replay " + around(writes) + ")" + tail;
    }
  }
  for (int r = 0; r < 256; ++r)
    if (chip[static_cast<std::size_t>(r)] != stretch.chip[static_cast<std::size_t>(r)])
      return "the recorder disagrees: after the replay register " + Hex(r) + " holds " + Hex(chip[static_cast<std::size_t>(r)]) +
             ", after the window " + Hex(stretch.chip[static_cast<std::size_t>(r)]) + tail;
  return {};
}

// In the child: the program, walked.
void PlayInThisProcess(std::uint32_t seed, int length, const std::vector<Step>* replay, int fd) {
  Reporter out(fd);
  QTemporaryDir dir;
  platform::SetSleepHook([](std::uint32_t) {});  // pauses are not waited out
  platform::WindowTarget::SetTimerSpeedUp(5);
  Walker walker(seed, length, replay, out, dir.path());
  g_walker = &walker;
  qAddPreRoutine(StartWalker);
  std::string simulate = SimulateFor(seed);
  std::string program = "corvelgui";
  char* argv[] = {program.data(), simulate.data(), nullptr};
  int argc = 2;
  const int status = CorvelGuiMain(argc, argv);
  if (walker.Result().held && status != 0) out.Line("F the program ended with status " + std::to_string(status));
  if (walker.Result().held && walker.Recorded().recorded) {
    const std::string disagreement = CompareReplay(walker.Recorded());
    if (!disagreement.empty()) {
      walker.Result().held = false;
      out.Line("F " + disagreement);
    }
  }
  out.Line(walker.Result().held ? "R held" : "R failed");
}

// ---- the parent side ---------------------------------------------------------------------------

struct Run {
  bool held = true;
  std::vector<Step> steps;
  std::string failure;
};

Run RunChild(std::uint32_t seed, int length, const std::vector<Step>* replay) {
  int fds[2];
  Run run;
  if (::pipe(fds) != 0) {
    run.held = false;
    run.failure = "no pipe";
    return run;
  }
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    // The child's own output would interleave with the parent's report.
    if (FILE* null = std::fopen("/dev/null", "w")) {
      ::dup2(fileno(null), 1);
    }
    PlayInThisProcess(seed, length, replay, fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string text;
  char buf[4096];
  const auto deadline = Clock::now() + std::chrono::seconds(180);
  bool timedOut = false;
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0) {
      timedOut = true;
      break;
    }
    if (::poll(&p, 1, left) <= 0) continue;
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (timedOut) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::istringstream lines(text);
  std::string line;
  bool ended = false;
  while (std::getline(lines, line)) {
    if (line.rfind("S ", 0) == 0) {
      Step s;
      std::istringstream(line.substr(2)) >> s.kind >> s.a >> s.b;
      run.steps.push_back(s);
    } else if (line.rfind("F ", 0) == 0) {
      run.held = false;
      run.failure = line.substr(2);
    } else if (line.rfind("R ", 0) == 0) {
      ended = true;
    }
  }
  if (!ended && run.held) {
    run.held = false;
    run.failure = timedOut ? "the program did not end within 180 s"
                  : WIFSIGNALED(status) ? "the program crashed (signal " + std::to_string(WTERMSIG(status)) + ")"
                                        : "the program ended without a word";
  }
  return run;
}

std::string Sequence(const std::vector<Step>& steps) {
  std::string text;
  for (std::size_t i = 0; i < steps.size(); ++i)
    text += "  #" + std::to_string(i + 1) + " " + DescribeStep(steps[i]) + "\n";
  return text;
}

}  // namespace

Result WalkSeed(std::uint32_t seed, const Options& options) {
  Result result;
  result.seed = seed;
  result.boardId = BoardFor(seed);
  Run run = RunChild(seed, options.actions, nullptr);
  result.played = static_cast<int>(run.steps.size());
  for (const Step& s : run.steps) {
    const std::string what = DescribeStep(s);
    // The kind, without its numbers.
    std::string kind;
    for (std::size_t i = 0; i < what.size(); ++i) {
      const char c = what[i];
      // Numbers (decimal, and hex after "0x") stand for any.
      if (c == '0' && i + 1 < what.size() && what[i + 1] == 'x') {
        kind += "0x#";
        for (i += 2; i < what.size() && std::isxdigit(static_cast<unsigned char>(what[i])); ++i) {}
        --i;
      } else if (!std::isdigit(static_cast<unsigned char>(c))) {
        kind += c;
      } else if (kind.empty() || kind.back() != '#') {
        kind += '#';
      }
    }
    ++result.kinds[kind];
  }
  if (run.held) return result;
  result.held = false;
  std::vector<Step> failing = run.steps;
  std::string failure = run.failure;
  if (options.shrink) {
    // Drop one action at a time, from the start, while the rest still fails.
    int runs = 0;
    for (std::size_t i = 0; i < failing.size() && runs < options.maxShrinkRuns;) {
      std::vector<Step> shorter = failing;
      shorter.erase(shorter.begin() + static_cast<std::ptrdiff_t>(i));
      ++runs;
      Run again = RunChild(seed, 0, &shorter);
      if (!again.held) {
        failing = again.steps;  // as played: steps that could not be done are gone
        failure = again.failure;
      } else {
        ++i;
      }
    }
  }
  result.failure = failure;
  result.sequence = Sequence(failing);
  return result;
}

std::string Describe(const Result& r) {
  std::string text = "seed " + std::to_string(r.seed) + " (board " + std::to_string(r.boardId) + "): ";
  if (r.held) return text + "held, " + std::to_string(r.played) + " actions";
  return text + "FAILED: " + r.failure + "\nshortest sequence found:\n" + r.sequence;
}

}  // namespace walk
