#include "cli/Commands.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <mutex>
#include <sstream>
#include <syncstream>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "CorvelVersion.h"
#include "cli/EffectCommands.h"
#include "cli/FileAccess.h"
#include "corvel/Board.h"
#include "corvel/ChipOps.h"
#include "corvel/Errors.h"
#include "corvel/Flasher.h"
#include "corvel/Session.h"
#include "nlohmann/json.hpp"
#include "chip/RegisterMap.h"
#include "firmware/ImageFile.h"
#include "link/BoardIds.h"
#include "link/LinkHost.h"
#include "corvel/TrafficTap.h"
#include "link/MUSBHid.h"
#include "link/TrafficRecord.h"
#include "link/HidapiBackend.h"
#include "platform/DeviceMonitor.h"
#include "platform/MessageBox.h"
#include "setup/Setup.h"
#include "setup/SetupWrites.h"
#include "session/LampSession.h"
#include "sim/SimBackend.h"
#include "sim/SimKnobs.h"

namespace cli {
namespace {

// Whether the file's last byte ends a line (an empty or unreadable file counts as ended).
bool EndsWithNewline(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in || in.tellg() <= 0) return true;
  in.seekg(-1, std::ios::end);
  char last = '\n';
  in.get(last);
  return !in || last == '\n';
}

constexpr const char* kToolHelp =
    "Usage: corvelctl [OPTIONS] COMMAND [ARGS...]\n"
    "\n"
    "Talks to a QV603x lamp board over USB HID, or to a simulated one.\n"
    "\n"
    "Options:\n"
    "  --device PATH     open exactly this hidraw node (e.g. /dev/hidraw3; see 'list')\n"
    "  --serial SN       the board with this USB serial number (see 'list'; not with --device)\n"
    "  --sim[=BOARD_ID]  use a simulated lamp board (board id 0, 1, 3, 5 or 128; default 1)\n"
    "  --sim=ID,ID,...   a bench of simulated boards with these ids (serial numbers QVSIM0001, ...)\n"
    "  --sim-latency MS  the simulated board's delay per report, each way (default 1, as on USB;\n"
    "                    below 500, beyond which no board could be identified)\n"
    "  --sim-faults drop=P,corrupt=P,nak=P\n"
    "                    the simulated board loses, spoils or refuses P percent of the frames\n"
    "  --sim-seed N      which frames the simulated board's faults hit (default 1): each seed\n"
    "                    gives its own repeatable run\n"
    "  --sim-chip-address ADDR\n"
    "                    the simulated chip's own I2C address, 0x58..0x5B (default 0x5B): a\n"
    "                    transfer to any other fails as on a board whose chip does not answer\n"
    "  --trace           show every report in and out, with a decode of each frame, on stderr\n"
    "  --log FILE.csv    add every frame and bootloader record in and out to FILE.csv\n"
    "                    (one row each: time, direction, kind, sequence, command, payload, meaning);\n"
    "                    a new file gets a header line first, an existing one is never emptied\n"
    "  --timeout MS      how long to wait for each answer (default 5000)\n"
    "  --address ADDR    chip I2C address for register commands: 0x58..0x5B (default 0x5B)\n"
    "  --json            print data as JSON\n"
    "  -h, --help        show this help; COMMAND --help shows a command's help\n"
    "  --version         show the version of corvelctl\n"
    "\n"
    "Commands:\n"
    "  list                     attached lamp boards\n"
    "  info                     connect, identify the board, show its firmware version\n"
    "  reg read REG [COUNT]     read COUNT chip registers from REG\n"
    "  reg write REG BYTE...    write bytes to consecutive chip registers from REG\n"
    "  address ADDR             tell the board the chip's I2C address\n"
    "  led BRIGHTNESS [LED...]  set the brightness of LEDs (default: every LED of the board)\n"
    "  mode led|gpio            use the chip's pins as LED drivers or as GPIO\n"
    "  current MILLIAMPS        set the global maximum LED current (1..40 mA)\n"
    "  reset                    software reset of the chip\n"
    "  gpio read|out|drive|irq|dir|wait-irq ...  the chip's pins as GPIO\n"
    "  sim drive PIN=high|low ...                drive the simulated chip's pins (--sim)\n"
    "  blink --ramp-on T ...    start the chip's blink effect (T: 315ms .. 5040ms)\n"
    "  fade on|off --ramp-on T  start the chip's fade effect towards on or off\n"
    "  wait                     wait until a lamp board is attached\n"
    "  batch 'CMD ARGS' ...     run several commands on one connection\n"
    "  batch --file SCRIPT      run the commands of a script, one per line (# comments)\n"
    "  apply SETUP.json         write a setup file to the chip (--dry-run: only list the writes)\n"
    "  export SETUP.json --c|--json [-o OUT]  the setup's register writes as a C header or JSON\n"
    "  image make RAW -o OUT    build a .qvbin firmware image from raw data\n"
    "  image check FILE         check a .qvbin image and show its trailer\n"
    "  flash FILE               update the board's firmware with a .qvbin image\n"
    "  flash --all FILE         update every attached board at once\n"
    "\n"
    "With several boards attached, a command for one board needs --device or --serial.\n"
    "\n"
    "Exit status: 0 success, 1 device or protocol failure, 2 usage error (also: several\n"
    "boards and none chosen).\n";

const std::map<std::string, std::string> kCommandHelp = {
    {"list", "Usage: corvelctl list\n\nLists attached lamp boards (USB 0483:5750): device path, serial number\n"
             "('-' when the board has none), release number and mode (application firmware 0x1000,\n"
             "bootloader 0x0100). With several boards, pick one with --device PATH or --serial SN. With none attached\n"
             "the list is empty (exit status 0) and a note goes to stderr; 'corvelctl wait' waits for one.\n"},
    {"info", "Usage: corvelctl info\n\nConnects (handshake), sends the chip address, queries the board id and\n"
             "the firmware version, and prints them.\n"},
    {"reg", "Usage: corvelctl reg read REG [COUNT]\n       corvelctl reg write REG BYTE...\n\n"
            "Reads or writes consecutive chip registers (REG and bytes 0..255, decimal or 0x hex;\n"
            "COUNT 1..249, default 1). The board is identified first; an unknown board is refused.\n"},
    {"address", "Usage: corvelctl address ADDR\n\nTells the board the chip's I2C address (0x58, 0x59, 0x5A or 0x5B)\n"
                "and prints its answer.\n"},
    {"led", "Usage: corvelctl led BRIGHTNESS [LED...]\n\n"
            "Sets the brightness of the given LEDs (0..15, as numbered on the board; default: every\n"
            "LED of the identified board) to BRIGHTNESS: 0..255, or a percentage such as 50%.\n"
            "Like the window, it stops a running effect first (0x00 to register 0x14) and then\n"
            "writes the whole brightness block from register 0x20; the LEDs not named keep the\n"
            "values the chip holds.\n"},
    {"mode", "Usage: corvelctl mode led|gpio\n\n"
             "led:  the pins drive LEDs (0x00 0x00 to registers 0x12-0x13, then 0x00 to 0x14).\n"
             "gpio: the pins are GPIO (0xFF 0xFF to registers 0x12-0x13).\n"},
    {"current", "Usage: corvelctl current MILLIAMPS\n\n"
                "Sets the global maximum LED current, 1..40 mA. The chip knows four ranges\n"
                "(31-40, 21-30, 11-20 and 1-10 mA); register 0x11 gets the range's code, as the\n"
                "window's \"Global Max Current\" writes it (the whole byte).\n"},
    {"reset", "Usage: corvelctl reset\n\nSoftware reset of the chip (0x00 to register 0x7F): every register it\n"
              "drives goes back to its reset value.\n"},
    {"blink", kBlinkHelp},
    {"fade", kFadeHelp},
    {"wait", "Usage: corvelctl wait\n\nWaits until a lamp board is attached (up to --timeout ms).\n"},
    {"gpio", "Usage: corvelctl gpio read\n"
             "       corvelctl gpio out PIN=high|low ...\n"
             "       corvelctl gpio drive open-drain|push-pull\n"
             "       corvelctl gpio irq PIN=enable|disable ...\n"
             "       corvelctl gpio dir input|output\n"
             "       corvelctl gpio wait-irq\n\n"
             "The chip's pins as GPIO (switch them with 'mode gpio' first). PIN is a pin as\n"
             "numbered on the board (0..5, 0..9 or 0..15); out and irq reach the port pin the\n"
             "board wires it to, as its relationship table shows (pin 0 is P1_0 on the\n"
             "QV6031..QV6035 boards; the QV6034 keeps pin i on bit i, port 0 first).\n\n"
             "read:     reads input port 0 (register 0x00), then port 1 (0x01), and prints\n"
             "          each as hex and as bits 7..0.\n"
             "out:      sets the output level of the pins named (0x02-0x03; the QV6034 has\n"
             "          no wiring for it and is refused). Both registers are written whole:\n"
             "          the pins not named get what a read of 0x02-0x03 returned just before,\n"
             "          which need not be what an earlier command wrote if the chip does not\n"
             "          read those registers back.\n"
             "drive:    output driver type of all pins (bit 4 of 0x11; the other bits are kept).\n"
             "irq:      lets the pins named raise an interrupt, or not (0x06-0x07). As for out,\n"
             "          the pins not named get what a read of 0x06-0x07 returned just before.\n"
             "dir:      all pins inputs (0xFF 0xFF to 0x04-0x05) or outputs (0x00 0x00).\n"
             "wait-irq: waits up to --timeout ms for the board's interrupt report. A report\n"
             "          that came during an earlier command of the same batch counts.\n"},
    {"sim", "Usage: corvelctl --sim sim drive PIN=high|low ...\n\n"
            "Drives the simulated chip's pins from outside, as a person would with a wire\n"
            "(pins P0_0..P0_7 and P1_0..P1_7 of the chip's two ports, or 'all'; all are high\n"
            "at start). A GPIO input whose interrupt is enabled makes the board send its\n"
            "interrupt report when its level changes. Useful in a batch, e.g.\n"
            "  corvelctl --sim batch 'mode gpio' 'gpio dir input' 'sim drive P0_3=low' 'gpio wait-irq'\n"},
    {"batch", "Usage: corvelctl batch 'COMMAND ARGS' ...\n       corvelctl batch --file SCRIPT   (or -f SCRIPT)\n\n"
              "Runs each argument as a command on one connection and stops at the\n"
              "first that fails, e.g.  corvelctl --sim batch 'reg write 0x20 0x10 0x20' 'reg read 0x20 2'\n"
              "Every step's arguments are checked before anything is sent, and what depends on the\n"
              "board (its LED and pin count) right after it is identified, before any step writes.\n"
              "An empty step is a usage error.\n\n"
              "--file runs the commands of SCRIPT, one per line, as the window's \"Record\" writes\n"
              "them; blank lines and lines starting with # are skipped. A mistake is named with\n"
              "the script's line number, before anything is sent.\n"},
    {"apply", "Usage: corvelctl apply SETUP.json [--dry-run]\n\n"
              "Writes a setup file (as the window's \"Save setup...\" makes it) to the chip, in the\n"
              "order the window's pages write: pin mode and direction, register 0x11 (maximum\n"
              "current and driver type), effect times, GPIO interrupts and output levels, then\n"
              "0x00 to 0x14 and the brightness block. Each write waits for the board's\n"
              "acknowledgement; the first that fails stops the rest. The chip address and bus\n"
              "speed of the file are used. A file that is damaged, of a newer format, holds a\n"
              "value out of range, or was made for another chip board is refused with the\n"
              "field named, and nothing is written.\n\n"
              "--dry-run prints the writes in order and needs no board.\n"},
    {"export", "Usage: corvelctl export SETUP.json --c|--json [-o OUT]\n\n"
               "Writes the register writes of a setup file for a product's firmware, in the order\n"
               "they must be made, one register at a time: --c as a C header (C99 and C++; a\n"
               "static const array of register/value pairs, a comment on each saying what it\n"
               "sets, and the chip address and bus speed as macros), --json as a JSON list.\n"
               "To standard output, or to OUT with -o.\n"},
    {"image", "Usage: corvelctl image make RAW -o OUT [--check-word auto|0|HEX]\n"
              "       corvelctl image check FILE\n\n"
              "make: writes RAW's bytes followed by the 12-byte trailer (data length, check word,\n"
              "checksum) to OUT. The check word is what the bootloader verifies the programmed\n"
              "flash against: 'auto' (default) uses the data's checksum, 0 skips the check step,\n"
              "HEX sets it as given. RAW holds at most 1966080 bytes.\n\n"
              "check: loads FILE as the update does and prints its data length, check word and\n"
              "checksum, or why it is refused.\n"},
    {"flash", "Usage: corvelctl flash FILE\n       corvelctl flash --all FILE\n\n"
              "Updates the lamp board's firmware with the .qvbin image FILE: checks the image,\n"
              "asks the board to restart into its bootloader, erases, writes the image in\n"
              "32-byte blocks, has the bootloader check it, and starts the new firmware.\n"
              "Progress goes to stderr. Ctrl-C (or SIGTERM, SIGHUP) stops after the current block, or\n"
              "at once while the flash is erased; the board then stays in its bootloader, and running\n"
              "the update again finishes it (a board in its bootloader is flashed directly). Before\n"
              "anything is sent it ends the update there. A second Ctrl-C quits at once.\n\n"
              "--all: updates every attached board at the same time, each on a link of its own, with\n"
              "a line per board as it goes ('[QVSIM0002] 40%') and a summary of which succeeded;\n"
              "a board that fails does not stop the others. Exit status 1 if any failed. With\n"
              "--trace each frame's lines name their board; --log is refused (its rows would not).\n"},
};

struct Globals {
  bool sim = false;
  std::uint8_t simBoardId = 1;
  std::vector<std::uint8_t> simBoardIds;  // a bench of several
  std::string devicePath;
  std::string serial;
  sim::SimFaults simFaults = sim::RealisticTiming();
  std::uint32_t simSeed = 1;
  sim::SimConfig simChip;  // its chip address
  bool simKnobsGiven = false;  // they mean nothing without --sim
  bool trace = false;
  std::string logPath;
  bool json = false;
  int timeoutMs = 5000;
  std::uint8_t address = 0x5B;
};

// The longest line of a script: the longest command (a register write of
// 249 bytes in hex) fits three times over.
constexpr std::size_t kMaxScriptLine = 4096;

// A bench of simulated boards holds at most this many.
constexpr std::size_t kMaxSimBoards = 16;

// The caller's mistake (exit status 2), as the library names it.
using UsageError = corvel::UsageError;

// Several boards are attached and the command is for one of them: which
// one is the user's to say (exit status 2, as for a usage error).
struct SeveralBoards {
  std::string message;
};

// Thrown where a command, run only to check its arguments, would first
// reach the board: its arguments have passed.
struct ArgumentsChecked {};

// A step the identified board cannot carry out, found before anything was
// written to it: a failure (exit status 1), not a usage error.
struct StepRefused {
  std::string message;
};

std::optional<long> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int base = 10;
  std::size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  long value = 0;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  // from_chars takes a minus sign: "-0" and "0x-0" are not numbers here.
  if (first == last || *first == '-') return std::nullopt;
  auto [ptr, ec] = std::from_chars(first, last, value, base);
  if (ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

// `hexRange`: the range is named in hex, as addresses are.
long NumberIn(const std::string& text, long lo, long hi, const char* what, bool hexRange = false) {
  auto v = ParseNumber(text);
  if (!v || *v < lo || *v > hi) {
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  hexRange ? "%s must be a number from 0x%lX to 0x%lX (decimal or 0x hex), not '%s'"
                           : "%s must be a number from %ld to %ld (decimal or 0x hex), not '%s'",
                  what, lo, hi, text.c_str());
    throw UsageError{buf};
  }
  return *v;
}

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

using Json = nlohmann::ordered_json;

// One line of JSON for standard output. Text that is not UTF-8 (a device's
// serial number, a path) is written with its bad bytes replaced, never
// refused half-way through the output.
std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"; }

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

SessionHooks& Hooks() {
  static SessionHooks hooks;
  return hooks;
}

// Ctrl-C, SIGTERM (a service manager, kill) and SIGHUP (the terminal
// closed) during an update: the handler only raises the flag; the update
// loop sees it and stops the worker like the window's Stop button, and says
// how to finish. The handlers are in place from the start of the run, so
// that no moment of an update is left to the default (the program gone, the
// board in its bootloader, nothing said). Outside an update a signal does
// what it did before the handlers came (the program ends); so does a second
// one during an update: someone who will not wait.
using SignalHandler = void (*)(int);
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_deferStopSignals{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
#ifdef SIGHUP
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr std::array<int, 2> kStopSignals = {SIGINT, SIGTERM};
#endif
std::array<std::atomic<SignalHandler>, kStopSignals.size()> g_previousHandlers{};

extern "C" void OnStopSignal(int signal) {
  if (g_deferStopSignals.load() && !g_interrupted.exchange(true)) return;
  SignalHandler previous = SIG_DFL;
  for (std::size_t i = 0; i < kStopSignals.size(); ++i)
    if (kStopSignals[i] == signal) previous = g_previousHandlers[i].load();
  if (previous != SIG_DFL && previous != SIG_IGN && previous != SIG_ERR && !g_interrupted.load()) {
    previous(signal);  // a handler of the caller's own (a test, an embedding program)
    return;
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);  // delivered as this handler returns
}

// For the whole run: the handlers above, and the ones before them back at the end.
class ScopedStopSignals {
 public:
  ScopedStopSignals() {
    g_interrupted.store(false);
    g_deferStopSignals.store(false);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
      // Started with the signal ignored (in the background, under nohup):
      // it stays ignored. Looking means setting something; SIG_IGN for
      // that moment loses nothing.
      const SignalHandler previous = std::signal(kStopSignals[i], SIG_IGN);
      installed_[i] = previous != SIG_IGN && previous != SIG_ERR;
      g_previousHandlers[i].store(installed_[i] ? previous : SIG_DFL);
      if (installed_[i]) std::signal(kStopSignals[i], OnStopSignal);
    }
  }
  ~ScopedStopSignals() {
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
      if (installed_[i]) std::signal(kStopSignals[i], g_previousHandlers[i].load());
    g_deferStopSignals.store(false);
  }
  ScopedStopSignals(const ScopedStopSignals&) = delete;
  ScopedStopSignals& operator=(const ScopedStopSignals&) = delete;

 private:
  std::array<bool, kStopSignals.size()> installed_{};
};

// While an update may run: a stop signal raises the flag instead of ending
// the program.
class DeferStopSignals {
 public:
  DeferStopSignals() : before_(g_deferStopSignals.exchange(true)) {}
  ~DeferStopSignals() { g_deferStopSignals.store(before_); }
  DeferStopSignals(const DeferStopSignals&) = delete;
  DeferStopSignals& operator=(const DeferStopSignals&) = delete;
  const std::atomic<bool>& Flag() const { return g_interrupted; }

 private:
  bool before_;
};

constexpr const char* kInterruptedBeforeUpdate =
    "Interrupted before the update began: nothing was sent to the board, which runs its firmware as before.";

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// A check word as typed: hexadecimal, with or without 0x, at most 8 digits.
std::optional<std::uint32_t> ParseHexWord(const std::string& text) {
  std::size_t start = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
  if (text.size() - start == 0 || text.size() - start > 8) return std::nullopt;
  std::uint32_t value = 0;
  const char* last = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data() + start, last, value, 16);
  if (ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

// Draws the transfer's progress on stderr: a bar that redraws itself on a
// terminal, one "NN%" line per step otherwise (logs, pipes).
class ProgressView {
 public:
  ProgressView(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}
  void Update(unsigned percent) {
    if (percent == last_) return;
    last_ = percent;
    if (!terminal_) {
      std::osyncstream(err_) << percent << "%\n" << std::flush;
      return;
    }
    constexpr unsigned kWidth = 40;
    const unsigned filled = percent * kWidth / 100;
    char pct[8];
    std::snprintf(pct, sizeof pct, "%3u%%", percent);
    std::osyncstream(err_) << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << pct << std::flush;
    open_ = true;
  }
  // Ends the bar's line before anything else is printed.
  void Break() {
    if (!open_) return;
    std::osyncstream(err_) << "\n" << std::flush;
    open_ = false;
  }

 private:
  std::ostream& err_;
  bool terminal_;
  unsigned last_ = ~0u;
  bool open_ = false;
};

bool StderrIsTerminal(const std::ostream& err) {
  if (&err != &std::cerr) return false;
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

class Runner {
 public:
  Runner(Globals g, std::ostream& out, std::ostream& err, std::ostream* log = nullptr)
      : g_(g), out_(out), err_(err), log_(log) {}

  int Command(const std::vector<std::string>& args) {
    const std::string& name = args[0];
    for (const auto& a : args)
      if (a == "--help" || a == "-h") {
        if (validating_) return kExitOk;
        auto it = kCommandHelp.find(name);
        out_ << (it != kCommandHelp.end() ? it->second : kToolHelp);
        return kExitOk;
      }
    try {
      return Dispatch(name, args);
    } catch (const corvel::UsageError&) {
      throw;
    } catch (const corvel::Error& e) {
      // The board did not go along: the library's words, exit status 1.
      return Fail(e.what());
    }
  }

  int Dispatch(const std::string& name, const std::vector<std::string>& args) {
    if (name == "list") return List(args);
    if (name == "info") return Info(args);
    if (name == "reg") return Reg(args);
    if (name == "address") return Address(args);
    if (name == "led") return Led(args);
    if (name == "mode") return ModeCommand(args);
    if (name == "current") return Current(args);
    if (name == "reset") return Reset(args);
    if (name == "gpio") return Gpio(args);
    if (name == "sim") return SimCommand(args);
    if (name == "blink" || name == "fade") return Effect(args);
    if (name == "wait") return Wait(args);
    if (name == "batch") return Batch(args);
    if (name == "apply") return Apply(args);
    if (name == "export") return Export(args);
    if (name == "image") return Image(args);
    if (name == "flash") return Flash(args);
    throw UsageError{"unknown command '" + name + "'"};
  }

  // Runs the command only as far as checking its arguments (every step's,
  // for a batch), sending nothing; throws UsageError. Checks that need the
  // board are kept for the run.
  void Check(const std::vector<std::string>& args) {
    validating_ = true;
    try {
      Command(args);
    } catch (const ArgumentsChecked&) {
    } catch (...) {
      validating_ = false;
      throw;
    }
    validating_ = false;
  }

  ~Runner() {
    if (session_ && Hooks().closing) Hooks().closing(*session_);
  }

 private:
  // The session, for what sends nothing (listing, waiting) and for the
  // identification itself.
  Session& Open() {
    if (validating_) throw ArgumentsChecked{};
    if (!session_) {
      SessionOptions o;
      o.sim = g_.sim;
      o.simBoardId = g_.simBoardId;
      o.simBoardIds = g_.simBoardIds;
      o.devicePath = g_.devicePath;
      o.serial = g_.serial;
      o.simFaults = g_.simFaults;
      o.simSeed = g_.simSeed;
      o.simChipAddress = g_.simChip.chipAddress;
      o.trace = g_.trace;
      o.timeoutMs = g_.timeoutMs;
      o.interrupted = &g_interrupted;
      o.chipAddress = g_.address;
      std::ostream* err = &err_;
      o.traceOut = [err](const std::string& line) { std::osyncstream(*err) << line << std::flush; };
      // Flushed row by row: a log is most wanted when something goes wrong.
      if (std::ostream* log = log_) o.logOut = [log](const std::string& line) { *log << line << std::flush; };
      session_ = std::make_unique<Session>(o);
      if (Hooks().opened) Hooks().opened(*session_);
    }
    return *session_;
  }

  // The session, for what sends to the board. While a later step waits for
  // its board checks, the board is identified and checked first, so that a
  // step the board cannot take stops the run before anything is written.
  Session& S() {
    Session& session = Open();
    if (!identified_ && !boardChecks_.empty()) {
      std::string error;
      if (!EnsureIdentified(error)) throw StepRefused{error};
    }
    return session;
  }

  // A check that needs the identified board (its LED or pin count, its
  // output mapping): run at once when the board is identified, otherwise
  // kept to run right after the identification. Kept while the arguments
  // are checked, so every step's checks run before any step writes (the
  // step runs it again in its turn). Throws UsageError or StepRefused; a
  // board that names no chip board passes (its steps are refused register
  // access anyway).
  using BoardCheck = std::function<void(const ChipBoardEntry&)>;
  void CheckWithBoard(BoardCheck libraryCheck) {
    // A check of the library refuses a step as a usage error or as one the
    // board cannot take (exit status 1).
    BoardCheck check = [libraryCheck = std::move(libraryCheck)](const ChipBoardEntry& board) {
      try {
        libraryCheck(board);
      } catch (const corvel::UsageError&) {
        throw;
      } catch (const corvel::Error& e) {
        throw StepRefused{e.what()};
      }
    };
    if (!validating_ && identified_) {
      if (const ChipBoardEntry* board = IdentifiedBoard()) check(*board);
      return;
    }
    boardChecks_.push_back(std::move(check));
  }
  const ChipBoardEntry* IdentifiedBoard() const {
    return identified_ && info_.boardId ? FindChipBoard(*info_.boardId) : nullptr;
  }

  int Fail(const std::string& message) {
    std::osyncstream(err_) << "corvelctl: " << message << "\n";
    return kExitFailure;
  }

  static void NoArgs(const std::vector<std::string>& args, std::size_t allowed) {
    if (args.size() > allowed) throw UsageError{"unexpected argument '" + args[allowed] + "' for " + args[0]};
  }

  int List(const std::vector<std::string>& args) {
    NoArgs(args, 1);
    const auto devices = Open().List();
    if (g_.json) {
      Json list = Json::array();
      for (const auto& d : devices)
        list.push_back({{"path", d.path}, {"serial", d.serialNumber}, {"release", d.releaseNumber},
                        {"mode", Mode(d.releaseNumber)}});
      out_ << Dump(list);
    } else {
      for (const auto& d : devices) out_ << ListLine(d) << "\n";
      if (devices.empty()) std::osyncstream(err_) << "No lamp board attached.\n";
    }
    return kExitOk;
  }

  static std::string Mode(std::uint16_t release) { return corvel::ReleaseMode(release); }

  // A command for one board, with several attached and none chosen, is
  // not given to whichever happens to be found first.
  void RequireOneBoard() {
    if (validating_ || !g_.serial.empty() || !g_.devicePath.empty()) return;
    const auto devices = Open().List();
    if (devices.size() < 2) return;
    std::string text = std::to_string(devices.size()) +
                       " lamp boards are attached; choose one with --device PATH or --serial SN:\n";
    for (const auto& d : devices) text += "  " + ListLine(d) + "\n";
    throw SeveralBoards{text};
  }

  static std::string ListLine(const HidDeviceInfo& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%04X", d.releaseNumber);
    return d.path + "  serial " + (d.serialNumber.empty() ? "-" : d.serialNumber) + "  release " + buf + "  " +
           Mode(d.releaseNumber);
  }

  bool EnsureIdentified(std::string& error) {
    if (identified_) return true;
    RequireOneBoard();
    if (!Open().Identify(info_, error)) return false;
    identified_ = true;
    // Every step's checks that need the board, before any step writes.
    auto checks = std::move(boardChecks_);
    boardChecks_.clear();
    if (const ChipBoardEntry* board = IdentifiedBoard())
      for (const auto& check : checks) check(*board);
    return true;
  }

  int Info(const std::vector<std::string>& args) {
    NoArgs(args, 1);
    std::string error;
    if (!EnsureIdentified(error)) return Fail(error);
    const std::string id = info_.boardId ? std::to_string(*info_.boardId) : std::string("none");
    if (g_.json) {
      out_ << Dump({{"link_state", info_.linkState},
                    {"link_text", Trim(info_.linkText)},
                    {"board_id", info_.boardId ? Json(*info_.boardId) : Json(nullptr)},
                    {"chip_board", info_.chipBoard.empty() ? Json(nullptr) : Json(info_.chipBoard)},
                    {"chip_address", Hex2(g_.address)},
                    {"address_answer", info_.addressText},
                    {"firmware", info_.versions[2]},
                    {"version_strings", info_.versions}});
    } else {
      out_ << "Link:          " << Trim(info_.linkText) << "\n"
           << "Board id:      " << id << " ("
           << (info_.chipBoard.empty() ? std::string("unknown chip board") : info_.chipBoard) << ")\n"
           << "Chip address:  " << Hex2(g_.address) << "  " << info_.addressText << "\n"
           << "Firmware:      Mcu code version:" << info_.versions[2] << "\n";
    }
    if (info_.chipBoard.empty()) {
      std::osyncstream(err_) << "corvelctl: the board reports an id that names no known chip board.\n";
      return kExitFailure;
    }
    if (!info_.addressAccepted) {
      std::osyncstream(err_) << "corvelctl: the board refused chip address " << Hex2(g_.address) << ": "
                             << info_.addressText << "\n";
      return kExitFailure;
    }
    return kExitOk;
  }

  int Reg(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{"reg needs 'read' or 'write'"};
    const std::string& verb = args[1];
    if (verb == "read") {
      if (args.size() < 3 || args.size() > 4) throw UsageError{"usage: reg read REG [COUNT]"};
      const long reg = NumberIn(args[2], 0, 255, "REG");
      const long count = args.size() == 4 ? NumberIn(args[3], 1, 249, "COUNT") : 1;
      if (reg + count > 256) throw UsageError{"REG + COUNT runs past register 0xFF"};
      std::string error;
      if (!RequireBoard(error)) return Fail(error);
      const auto values = corvel::ReadRegisters(S(), static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(count));
      if (g_.json) {
        out_ << Dump({{"register", reg}, {"values", values}});
      } else {
        for (std::size_t i = 0; i < values.size(); ++i)
          out_ << Hex2(static_cast<unsigned>(reg + static_cast<long>(i))) << ": " << Hex2(values[i]) << "\n";
      }
      return kExitOk;
    }
    if (verb == "write") {
      if (args.size() < 4) throw UsageError{"usage: reg write REG BYTE..."};
      const long reg = NumberIn(args[2], 0, 255, "REG");
      std::vector<std::uint8_t> bytes;
      for (std::size_t i = 3; i < args.size(); ++i)
        bytes.push_back(static_cast<std::uint8_t>(NumberIn(args[i], 0, 255, "BYTE")));
      if (bytes.size() > 249) throw UsageError{"at most 249 bytes fit in one register write"};
      if (reg + static_cast<long>(bytes.size()) > 256) throw UsageError{"the bytes run past register 0xFF"};
      std::string error;
      if (!RequireBoard(error)) return Fail(error);
      corvel::WriteRegisters(S(), static_cast<std::uint8_t>(reg), bytes);
      if (g_.json) {
        out_ << Dump({{"register", reg}, {"written", bytes.size()}});
      } else {
        out_ << "Wrote " << bytes.size() << (bytes.size() == 1 ? " byte" : " bytes") << " from register "
             << Hex2(static_cast<unsigned>(reg)) << ".\n";
      }
      return kExitOk;
    }
    throw UsageError{"reg needs 'read' or 'write', not '" + verb + "'"};
  }

  // `refusal` says what is not done for a board that names no chip board.
  bool RequireBoard(std::string& error, const char* refusal = "register access is refused") {
    if (!EnsureIdentified(error)) return false;
    if (info_.chipBoard.empty()) {
      error = "The board reports id " +
              (info_.boardId ? std::to_string(*info_.boardId) : std::string("(none)")) +
              ", which names no known chip board: " + refusal + ".";
      return false;
    }
    return true;
  }

  // ---- chip commands, on the same register access as the window's pages ----

  int Led(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{"usage: led BRIGHTNESS [LED...]"};
    long brightness = 0;
    if (!args[1].empty() && args[1].back() == '%') {
      const long percent = NumberIn(args[1].substr(0, args[1].size() - 1), 0, 100, "BRIGHTNESS in percent");
      brightness = (percent * 255 + 50) / 100;
    } else {
      brightness = NumberIn(args[1], 0, 255, "BRIGHTNESS");
    }
    std::vector<int> leds;
    for (std::size_t i = 2; i < args.size(); ++i)
      leds.push_back(static_cast<int>(NumberIn(args[i], 0, chip::kMaxChipLeds - 1, "LED")));

    CheckWithBoard([leds](const ChipBoardEntry& board) { corvel::CheckLeds(leds, board); });
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    const ChipBoardEntry& board = *FindChipBoard(*info_.boardId);
    const int count = board.ledCount;
    corvel::SetLeds(S(), board, static_cast<std::uint8_t>(brightness), leds);

    if (leds.empty())
      for (int i = 0; i < count; ++i) leds.push_back(i);
    if (g_.json) {
      out_ << Dump({{"brightness", brightness},
                    {"percent", chip::BrightnessPercent(static_cast<std::uint8_t>(brightness))},
                    {"leds", leds}});
    } else {
      out_ << (leds.size() == 1 ? "LED" : "LEDs");
      for (int led : leds) out_ << " " << led;
      out_ << ": brightness " << brightness << " (" << chip::BrightnessPercent(static_cast<std::uint8_t>(brightness))
           << " %)\n";
    }
    return kExitOk;
  }

  int ModeCommand(const std::vector<std::string>& args) {
    if (args.size() != 2 || (args[1] != "led" && args[1] != "gpio")) throw UsageError{"usage: mode led|gpio"};
    const bool led = args[1] == "led";
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    corvel::SetMode(S(), led);
    if (g_.json) {
      out_ << Dump({{"mode", args[1]}});
    } else {
      out_ << "Pins in " << (led ? "LED" : "GPIO") << " mode.\n";
    }
    return kExitOk;
  }

  int Current(const std::vector<std::string>& args) {
    if (args.size() != 2) throw UsageError{"usage: current MILLIAMPS"};
    const long mA = NumberIn(args[1], 1, 40, "MILLIAMPS");
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    const std::uint8_t code = corvel::SetCurrent(S(), static_cast<int>(mA));
    if (g_.json) {
      out_ << Dump({{"milliamps", mA}, {"range_code", code}, {"range_max_milliamps", chip::CurrentRangeMilliamps(code)}});
    } else {
      out_ << "Maximum current " << mA << " mA: range code " << int(code) << " (up to "
           << chip::CurrentRangeMilliamps(code) << " mA) written to register 0x11.\n";
    }
    return kExitOk;
  }

  int Reset(const std::vector<std::string>& args) {
    NoArgs(args, 1);
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    corvel::SoftwareReset(S());
    if (g_.json) {
      out_ << Dump({{"reset", true}});
    } else {
      out_ << "Chip reset.\n";
    }
    return kExitOk;
  }

  // ---- gpio: the chip's pins, on the same register access and bit mappings as the GPIO pages ----

  int Gpio(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{"gpio needs read, out, drive, irq, dir or wait-irq"};
    const std::string& verb = args[1];
    if (verb == "read") return GpioRead(args);
    if (verb == "out") return GpioOut(args);
    if (verb == "drive") return GpioDrive(args);
    if (verb == "irq") return GpioIrq(args);
    if (verb == "dir") return GpioDir(args);
    if (verb == "wait-irq") return GpioWaitIrq(args);
    throw UsageError{"gpio needs read, out, drive, irq, dir or wait-irq, not '" + verb + "'"};
  }

  // PIN=WORD arguments from args[2] on: the pin numbers, and for each whether
  // it got `on` (true) or `off`.
  static std::vector<std::pair<int, bool>> PinSettings(const std::vector<std::string>& args, const char* on,
                                                       const char* off) {
    const std::string usage = "usage: gpio " + args[1] + " PIN=" + on + "|" + off + " ...";
    if (args.size() < 3) throw UsageError{usage};
    std::vector<std::pair<int, bool>> settings;
    for (std::size_t i = 2; i < args.size(); ++i) {
      const auto eq = args[i].find('=');
      if (eq == std::string::npos) throw UsageError{usage + " (not '" + args[i] + "')"};
      const std::string word = args[i].substr(eq + 1);
      if (word != on && word != off) throw UsageError{usage + " (not '" + args[i] + "')"};
      const int pin = static_cast<int>(NumberIn(args[i].substr(0, eq), 0, chip::kMaxPins - 1, "PIN"));
      settings.emplace_back(pin, word == on);
    }
    return settings;
  }

  static std::string Bits(std::uint8_t v) {
    std::string bits;
    for (int bit = 7; bit >= 0; --bit) bits += (v >> bit) & 1 ? '1' : '0';
    return bits;
  }

  // The pins set in `set`.
  static std::vector<int> PinNumbers(const std::array<std::uint8_t, chip::kMaxPins>& set, int count) {
    std::vector<int> pins;
    for (int i = 0; i < count; ++i)
      if (set[static_cast<std::size_t>(i)]) pins.push_back(i);
    return pins;
  }

  // The pins set in `set`, e.g. "3 5".
  static std::string PinList(const std::array<std::uint8_t, chip::kMaxPins>& set, int count, const char* separator) {
    std::string out;
    for (int i = 0; i < count; ++i) {
      if (!set[static_cast<std::size_t>(i)]) continue;
      if (!out.empty()) out += separator;
      out += std::to_string(i);
    }
    return out;
  }

  int GpioRead(const std::vector<std::string>& args) {
    NoArgs(args, 2);
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    const std::array<std::uint8_t, 2> ports = corvel::ReadInputPorts(S());
    if (g_.json) {
      out_ << Dump({{"port0", ports[0]}, {"port1", ports[1]}, {"bits0", Bits(ports[0])}, {"bits1", Bits(ports[1])}});
    } else {
      for (int port = 0; port < 2; ++port)
        out_ << chip::PortInputText(port, ports[static_cast<std::size_t>(port)]) << "\tbits 7..0: "
             << Bits(ports[static_cast<std::size_t>(port)]) << "\n";
    }
    return kExitOk;
  }

  int GpioOut(const std::vector<std::string>& args) {
    const auto settings = PinSettings(args, "high", "low");
    CheckWithBoard([settings](const ChipBoardEntry& board) {
      corvel::CheckPins(settings, board);
      corvel::CheckOutputMapping(board);
    });
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    const ChipBoardEntry& board = *FindChipBoard(*info_.boardId);
    const int count = board.ledCount;
    const corvel::PinWrite result = corvel::SetOutputLevels(S(), board, settings);
    const auto& high = result.pins;
    const auto& written = result.bytes;
    if (g_.json) {
      out_ << Dump({{"high", PinNumbers(high, count)}, {"output_levels", written}});
    } else {
      const std::string list = PinList(high, count, " ");
      out_ << "Pins high: " << (list.empty() ? "none" : list) << " (0x02 = " << Hex2(written[0])
           << ", 0x03 = " << Hex2(written[1]) << ").\n";
    }
    return kExitOk;
  }

  int GpioIrq(const std::vector<std::string>& args) {
    const auto settings = PinSettings(args, "enable", "disable");
    CheckWithBoard([settings](const ChipBoardEntry& board) { corvel::CheckPins(settings, board); });
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    const ChipBoardEntry& board = *FindChipBoard(*info_.boardId);
    const int count = board.ledCount;
    const corvel::PinWrite result = corvel::SetInterrupts(S(), board, settings);
    const auto& disabled = result.pins;
    const auto& written = result.bytes;
    if (g_.json) {
      out_ << Dump({{"disabled", PinNumbers(disabled, count)}, {"interrupt_disable", written}});
    } else {
      const std::string list = PinList(disabled, count, " ");
      out_ << "Interrupts disabled on pins: " << (list.empty() ? "none" : list) << " (0x06 = " << Hex2(written[0])
           << ", 0x07 = " << Hex2(written[1]) << ").\n";
    }
    return kExitOk;
  }

  int GpioDrive(const std::vector<std::string>& args) {
    if (args.size() != 3 || (args[2] != "open-drain" && args[2] != "push-pull"))
      throw UsageError{"usage: gpio drive open-drain|push-pull"};
    const bool pushPull = args[2] == "push-pull";
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    const auto [before, value] = corvel::SetDriver(S(), pushPull);
    if (g_.json) {
      out_ << Dump({{"driver", args[2]}, {"before", before}, {"after", value}});
    } else {
      out_ << "Output driver " << args[2] << ": register 0x11 " << Hex2(before) << " -> " << Hex2(value) << ".\n";
    }
    return kExitOk;
  }

  int GpioDir(const std::vector<std::string>& args) {
    if (args.size() != 3 || (args[2] != "input" && args[2] != "output"))
      throw UsageError{"usage: gpio dir input|output"};
    const bool input = args[2] == "input";
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    corvel::SetDirection(S(), input);
    if (g_.json) {
      out_ << Dump({{"direction", args[2]}});
    } else {
      out_ << "Pins are " << (input ? "inputs" : "outputs") << ".\n";
    }
    return kExitOk;
  }

  int GpioWaitIrq(const std::vector<std::string>& args) {
    NoArgs(args, 2);
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    corvel::WaitInterrupt(S(), g_.timeoutMs);
    if (g_.json) {
      out_ << Dump({{"interrupt", true}});
    } else {
      out_ << "Interrupt reported.\n";
    }
    return kExitOk;
  }

  // ---- sim: the simulated board's side, for scripts ----

  int SimCommand(const std::vector<std::string>& args) {
    if (args.size() < 3 || args[1] != "drive") throw UsageError{"usage: sim drive PIN=high|low ..."};
    if (!g_.sim) throw UsageError{"sim drive needs the simulated board (--sim)"};
    std::vector<std::pair<std::uint16_t, bool>> drives;  // pins, level
    for (std::size_t i = 2; i < args.size(); ++i) {
      const auto eq = args[i].find('=');
      const std::string name = args[i].substr(0, eq);
      const std::string word = eq == std::string::npos ? std::string() : args[i].substr(eq + 1);
      const auto pin = sim::PinFromName(name);
      if ((!pin && name != "all") || (word != "high" && word != "low"))
        throw UsageError{"usage: sim drive PIN=high|low ... with PIN P0_0..P1_7 or all (not '" + args[i] + "')"};
      drives.emplace_back(pin ? static_cast<std::uint16_t>(1u << *pin) : sim::kAllPins, word == "high");
    }
    // Connected first, so that an interrupt report it causes reaches us.
    std::string error;
    if (!EnsureIdentified(error)) return Fail(error);
    sim::SimBoard& board = *S().Sim();
    std::uint16_t levels = board.Pins().driven;
    for (const auto& [pins, high] : drives) levels = static_cast<std::uint16_t>(high ? levels | pins : levels & ~pins);
    board.DrivePins(levels);
    if (g_.json) {
      out_ << Dump({{"driven", levels}});
    } else {
      out_ << "Simulated pins outside, bits 7..0: P0 " << Bits(static_cast<std::uint8_t>(levels)) << ", P1 "
           << Bits(static_cast<std::uint8_t>(levels >> 8)) << ".\n";
    }
    return kExitOk;
  }

  int Effect(const std::vector<std::string>& args) {
    EffectRequest request;
    if (auto usage = ParseEffectArgs(args, request)) throw UsageError{*usage};
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    corvel::RunEffect(S(), request, FindChipBoard(*info_.boardId)->ledCount);
    PrintEffect(request, g_.json, out_);
    return kExitOk;
  }

  int Address(const std::vector<std::string>& args) {
    if (args.size() != 2) throw UsageError{"usage: address ADDR"};
    const long a = NumberIn(args[1], 0x58, 0x5B, "ADDR", true);
    std::string answer, error;
    if (!S().SetChipAddress(static_cast<std::uint8_t>(a), answer, error)) return Fail(error);
    g_.address = static_cast<std::uint8_t>(a);
    if (g_.json) {
      out_ << Dump({{"chip_address", a}, {"answer", answer}});
    } else {
      out_ << answer << "\n";
    }
    return kExitOk;
  }

  int Wait(const std::vector<std::string>& args) {
    NoArgs(args, 1);
    if (!Open().WaitForBoard(g_.timeoutMs))
      return Fail("No lamp board arrived within " + std::to_string(g_.timeoutMs) + " ms.");
    for (const HidDeviceInfo& d : Open().List()) {
      if ((!g_.serial.empty() && d.serialNumber != g_.serial) || (!g_.devicePath.empty() && d.path != g_.devicePath))
        continue;  // not the board named
      out_ << "Lamp board attached: " << d.path;
      // Attached, but not for chip commands until its update is finished.
      if (d.releaseNumber == kReleaseBootloader)
        out_ << " (in its bootloader: an update did not finish; 'corvelctl flash FILE' finishes it)";
      out_ << "\n";
      break;
    }
    return kExitOk;
  }

  // The script's commands, one a line, with their line numbers. The whole
  // script is read first, never more than a script can be: a device or a
  // runaway file is refused at the limit, and so is a line no command needs.
  static std::vector<std::pair<int, std::vector<std::string>>> ReadScript(const std::string& path) {
    std::string error;
    const auto text = ReadAtMost(path, setup::kMaxFileBytes, error);
    if (!text) {
      if (error.rfind("cannot read", 0) == 0) throw StepRefused{"cannot read the script '" + path + "'"};
      throw StepRefused{"'" + path + "' is far too large for a script (more than " +
                        std::to_string(setup::kMaxFileBytes) + " bytes)"};
    }
    std::vector<std::pair<int, std::vector<std::string>>> steps;
    std::size_t start = 0;
    for (int number = 1; start < text->size(); ++number) {
      std::size_t end = text->find('\n', start);
      if (end == std::string::npos) end = text->size();
      const std::string_view line(text->data() + start, end - start);
      start = end + 1;
      if (line.size() > kMaxScriptLine)
        throw UsageError{path + " line " + std::to_string(number) + " is " + std::to_string(line.size()) +
                         " characters long; a command line holds at most " + std::to_string(kMaxScriptLine)};
      std::istringstream words{std::string(line)};
      std::vector<std::string> sub;
      for (std::string w; words >> w;) sub.push_back(w);
      if (sub.empty() || sub[0][0] == '#') continue;
      steps.emplace_back(number, std::move(sub));
    }
    return steps;
  }

  int Batch(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{"batch needs at least one command"};
    std::vector<std::vector<std::string>> steps;
    std::vector<std::string> places;  // where each step comes from, for messages
    const std::string& first = args[1];
    if (first == "--file" || first == "-f" || first.rfind("--file=", 0) == 0) {
      std::string path = first.rfind("--file=", 0) == 0 ? first.substr(7) : args.size() > 2 ? args[2] : "";
      if (path.empty()) throw UsageError{"batch --file needs a script"};
      if (args.size() > (first.rfind("--file=", 0) == 0 ? 2u : 3u))
        throw UsageError{"batch --file takes one script and no commands beside it"};
      for (auto& [number, sub] : ReadScript(path)) {
        places.push_back(path + " line " + std::to_string(number));
        steps.push_back(std::move(sub));
      }
      if (steps.empty()) throw UsageError{"the script '" + path + "' holds no command"};
    }
    for (std::size_t i = 1; places.empty() && i < args.size(); ++i) {
      std::istringstream words(args[i]);
      std::vector<std::string> sub;
      for (std::string w; words >> w;) sub.push_back(w);
      // A blank step is a slip in a script (an empty variable), not a
      // command that succeeds by doing nothing.
      if (sub.empty()) throw UsageError{"batch step " + std::to_string(i) + " is empty"};
      steps.push_back(std::move(sub));
    }
    for (std::size_t i = 0; i < steps.size(); ++i)
      if (steps[i][0] == "batch")
        throw UsageError{(places.empty() ? std::string() : places[i] + ": ") + "batch cannot be nested"};
    // Every step's arguments were checked before the run (Check): a mistake
    // in the last step must not leave the board with the first steps done.
    if (validating_) {
      // The chip starts blink a second time only after a reset (the blink
      // help says so): a second blink without one would be reported as
      // running while the chip does not run it.
      bool blinkStarted = false;
      for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::string& name = steps[i][0];
        const bool resets = name == "reset" ||
                            (name == "blink" && std::find(steps[i].begin(), steps[i].end(), "--reset") != steps[i].end());
        if (name == "blink" && blinkStarted && !resets)
          throw UsageError{(places.empty() ? "batch step " + std::to_string(i + 1) : places[i]) +
                           ": blink starts a second time without a chip reset since the first; the chip needs one "
                           "before blink starts again (give this blink --reset, or put a 'reset' step before it)"};
        if (resets) blinkStarted = false;
        if (name == "blink") blinkStarted = true;
      }
      for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::size_t checks = boardChecks_.size();
        try {
          Command(steps[i]);
        } catch (const ArgumentsChecked&) {
        } catch (const UsageError& e) {
          if (places.empty()) throw;
          throw UsageError{places[i] + ": " + e.what()};
        } catch (const StepRefused& e) {
          if (places.empty()) throw;
          throw StepRefused{places[i] + ": " + e.message};
        }
        // The checks that wait for the board name the script's line too.
        for (std::size_t k = checks; !places.empty() && k < boardChecks_.size(); ++k)
          boardChecks_[k] = [check = std::move(boardChecks_[k]), place = places[i]](const ChipBoardEntry& board) {
            try {
              check(board);
            } catch (const UsageError& e) {
              throw UsageError{place + ": " + e.what()};
            } catch (const StepRefused& e) {
              throw StepRefused{place + ": " + e.message};
            }
          };
      }
      return kExitOk;
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const int rc = Command(steps[i]);
      if (rc != kExitOk) {
        if (!places.empty()) std::osyncstream(err_) << "corvelctl: stopped at " << places[i] << "\n";
        return rc;
      }
    }
    return kExitOk;
  }

  // An output that is the input would be replaced by what was made from it:
  // the input is gone, whatever the path is called.
  static void RefuseOutputThatIsInput(const std::string& output, const std::string& input) {
    if (SameFile(output, input))
      throw UsageError{"the output '" + output + "' is the input file '" + input + "': give another name with -o"};
  }

  // ---- setup files ----

  // Loads a setup file; a bad one stops the run before anything is opened.
  static setup::Setup LoadSetup(const std::string& path) {
    try {
      return corvel::LoadSetup(path);
    } catch (const corvel::Error& e) {
      throw StepRefused{e.what()};
    }
  }

  void PrintWrites(const setup::Setup& s, const std::vector<setup::RegisterWrite>& writes, const char* verb) {
    if (g_.json) {
      Json list = Json::array();
      for (const auto& w : writes) {
        Json data = Json::array();
        for (std::uint8_t b : w.data) data.push_back(Hex2(b));
        list.push_back({{"register", Hex2(w.reg)}, {"data", data}, {"what", w.what}});
      }
      out_ << Dump({{"board", setup::BoardName(s.boardId)},
                    {"board_id", s.boardId},
                    {"i2c_address", Hex2(s.i2cAddress)},
                    {"i2c_speed", s.i2cSpeed == kI2cSpeed1M ? "1M" : "400K"},
                    {"writes", list}});
      return;
    }
    out_ << "Setup for the " << setup::BoardName(s.boardId) << " (board " << int(s.boardId) << "), chip at "
         << Hex2(s.i2cAddress) << ", bus " << (s.i2cSpeed == kI2cSpeed1M ? "1M" : "400K") << ": " << writes.size()
         << (writes.size() == 1 ? " register write" : " register writes") << verb << "\n";
    for (std::size_t i = 0; i < writes.size(); ++i) {
      std::string text = setup::WriteText(writes[i]);
      if (text.size() < 28) text.resize(28, ' ');
      char number[8];
      std::snprintf(number, sizeof number, "%3zu  ", i + 1);
      out_ << number << text << "  " << writes[i].what << "\n";
    }
  }

  int Apply(const std::vector<std::string>& args) {
    std::optional<std::string> path;
    bool dryRun = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--dry-run" && dryRun) throw UsageError{"--dry-run is given twice; give it once"};
      if (args[i] == "--dry-run") dryRun = true;
      else if (args[i].rfind("-", 0) == 0 && args[i].size() > 1) throw UsageError{"unknown option '" + args[i] + "' for apply"};
      else if (!path) path = args[i];
      else throw UsageError{"apply takes one setup file, not also '" + args[i] + "'"};
    }
    if (!path) throw UsageError{"usage: apply SETUP.json [--dry-run]"};
    const setup::Setup s = LoadSetup(*path);
    const auto writes = setup::SetupWrites(s);
    if (dryRun) {
      if (!validating_) {
        PrintWrites(s, writes, " it would make, in order:");
        if (const std::string skipped = setup::NotWrittenText(s); !skipped.empty())
          std::osyncstream(err_) << "corvelctl: " << skipped << "\n";
      }
      return kExitOk;
    }
    // A file for another chip board would set registers that mean something
    // else there: refused before anything is written.
    CheckWithBoard([s, file = *path](const ChipBoardEntry& board) { corvel::CheckSetupBoard(s, file, board); });
    std::string error;
    if (!RequireBoard(error)) return Fail(error);
    try {
      corvel::ApplySetup(S(), s, writes);
    } catch (...) {
      g_.address = S().ChipAddress();
      throw;
    }
    g_.address = S().ChipAddress();
    PrintWrites(s, writes, " made, in order:");
    if (const std::string skipped = setup::NotWrittenText(s); !skipped.empty())
      std::osyncstream(err_) << "corvelctl: " << skipped << "\n";
    return kExitOk;
  }

  int Export(const std::vector<std::string>& args) {
    std::optional<std::string> path, output;
    std::optional<bool> c;
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (a == "--c" || a == "--json") {
        if (c && *c != (a == "--c")) throw UsageError{"export writes either --c or --json"};
        if (c) throw UsageError{a + " is given twice; give it once"};
        c = a == "--c";
      } else if (a == "-o" || a == "--output" || a.rfind("--output=", 0) == 0) {
        if (output) throw UsageError{"-o (--output) is given twice; give it once"};
        if (a.rfind("--output=", 0) == 0) {
          output = a.substr(9);
        } else {
          if (i + 1 >= args.size()) throw UsageError{a + " needs a file name"};
          output = args[++i];
        }
      } else if (a.rfind("-", 0) == 0 && a.size() > 1) {
        throw UsageError{"unknown option '" + a + "' for export"};
      } else if (!path) {
        path = a;
      } else {
        throw UsageError{"export takes one setup file, not also '" + a + "'"};
      }
    }
    if (!path || !c) throw UsageError{"usage: export SETUP.json --c|--json [-o OUT]"};
    if (output && output->empty()) throw UsageError{"-o needs a file name"};
    if (output) RefuseOutputThatIsInput(*output, *path);
    const setup::Setup s = LoadSetup(*path);
    if (validating_) return kExitOk;
    const std::string text = *c ? setup::ExportCHeader(s, std::filesystem::path(*path).filename().string())
                                : setup::ExportJsonList(s);
    if (!output) {
      out_ << text;
      return kExitOk;
    }
    std::string error;
    if (!ReplaceFile(*output, text, error)) return Fail(error);
    return kExitOk;
  }

  int Image(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{"image needs 'make' or 'check'"};
    if (args[1] == "make") return ImageMake(args);
    if (args[1] == "check") {
      if (args.size() != 3) throw UsageError{"usage: image check FILE"};
      return validating_ ? kExitOk : ImageCheck(args[2]);
    }
    throw UsageError{"image needs 'make' or 'check', not '" + args[1] + "'"};
  }

  int ImageMake(const std::vector<std::string>& args) {
    std::optional<std::string> raw, output, checkWordText;
    for (std::size_t i = 2; i < args.size(); ++i) {
      const std::string& a = args[i];
      const auto value = [&](const std::string& name) {
        if (a.size() > name.size() && a[name.size()] == '=') return a.substr(name.size() + 1);
        if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
        return args[++i];
      };
      if (a == "-o" || a == "--output" || a.rfind("--output=", 0) == 0) {
        if (output) throw UsageError{"-o (--output) is given twice; give it once"};
        output = value(a == "-o" ? "-o" : "--output");
      } else if (a == "--check-word" || a.rfind("--check-word=", 0) == 0) {
        if (checkWordText) throw UsageError{"--check-word is given twice; give it once"};
        checkWordText = value("--check-word");
      } else if (a.rfind("-", 0) == 0 && a.size() > 1) {
        throw UsageError{"unknown option '" + a + "' for image make"};
      } else if (!raw) {
        raw = a;
      } else {
        throw UsageError{"unexpected argument '" + a + "' for image make"};
      }
    }
    if (!raw || !output) throw UsageError{"usage: image make RAW -o OUT [--check-word auto|0|HEX]"};
    if (output->empty()) throw UsageError{"-o needs a file name"};
    RefuseOutputThatIsInput(*output, *raw);
    std::optional<std::uint32_t> checkWord;  // unset: auto
    if (checkWordText && *checkWordText != "auto") {
      checkWord = ParseHexWord(*checkWordText);
      if (!checkWord)
        throw UsageError{"--check-word must be 'auto' or up to 8 hex digits, not '" + *checkWordText + "'"};
    }
    if (validating_) return kExitOk;

    std::error_code ec;
    if (!std::filesystem::is_regular_file(*raw, ec)) return Fail("cannot read '" + *raw + "': not a file");
    const std::uintmax_t size = std::filesystem::file_size(*raw, ec);
    if (ec) return Fail("cannot read '" + *raw + "': " + ec.message());
    if (size > kImageMaxDataLength)
      return Fail("'" + *raw + "' holds " + std::to_string(size) + " bytes; an image holds at most " +
                  std::to_string(kImageMaxDataLength) + " bytes of data (0x1E000C with its trailer).");
    if (size == 0) return Fail("'" + *raw + "' is empty: an image without data is never flashed.");
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    std::ifstream in(*raw, std::ios::binary);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!in || static_cast<std::uintmax_t>(in.gcount()) != size) return Fail("cannot read '" + *raw + "'");

    const std::uint32_t checksum = ComputeImageChecksum(data);
    // The simulated bootloader, like the real one, compares the check word
    // with the checksum of the flash it programmed: the data's checksum.
    const std::uint32_t word = checkWord.value_or(checksum);
    const std::vector<std::uint8_t> file = BuildImageFile(data, word);
    std::string error;
    if (!ReplaceFile(*output, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), error))
      return Fail(error);

    if (g_.json) {
      out_ << Dump({{"path", *output}, {"length", data.size()}, {"check_word", word}, {"checksum", checksum}});
    } else {
      out_ << "Wrote " << *output << ": " << data.size() << " data bytes, check word " << Hex8(word)
           << ", checksum " << Hex8(checksum) << ".\n";
    }
    return kExitOk;
  }

  // Loads FILE as the update does. On refusal prints the texts the window
  // would show in its message boxes, one line each.
  std::optional<corvel::LoadedImage> LoadImage(const std::string& path) {
    std::vector<std::string> texts;
    auto image = corvel::LoadImage(path, texts);
    for (const auto& text : texts) std::osyncstream(err_) << "corvelctl: " << text << "\n";
    return image;
  }

  int ImageCheck(const std::string& path) {
    const auto image = LoadImage(path);
    if (!image) return kExitFailure;
    const std::uint32_t length = image->length, checkWord = image->checkWord;
    const std::uint32_t checksum = ComputeImageChecksum(std::span<const std::uint8_t>(image->buffer->data(), length));
    if (g_.json) {
      out_ << Dump({{"path", path}, {"length", length}, {"check_word", checkWord}, {"checksum", checksum}});
    } else {
      out_ << "Data length:  " << length << " bytes\n"
           << "Check word:   " << Hex8(checkWord) << (checkWord == 0 ? " (no check step)" : "") << "\n"
           << "Checksum:     " << Hex8(checksum) << "\n";
    }
    return kExitOk;
  }

  int Flash(const std::vector<std::string>& args) {
    if (args.size() == 3 && args[1] == "--all") return FlashAll(args[2]);
    if (args.size() != 2 || args[1] == "--all") throw UsageError{"usage: flash [--all] FILE"};
    if (validating_) return kExitOk;
    DeferStopSignals stopSignals;
    const auto image = LoadImage(args[1]);
    if (!image) return kExitFailure;
    const std::uint32_t length = image->length, checkWord = image->checkWord;
    const ImageBuffer* buffer = image->buffer.get();
    RequireOneBoard();

    // A board in its bootloader cannot be identified; one running its
    // application is, below, before anything is sent.
    Flasher flasher(Open().Lamp());
    std::string error;
    if (!flasher.BootloaderAttached() && !RequireBoard(error, "it is not updated (the window would not offer it)"))
      return Fail(stopSignals.Flag().load() ? kInterruptedBeforeUpdate : error);
    if (stopSignals.Flag().load()) return Fail(kInterruptedBeforeUpdate);

    ProgressView progress(err_, StderrIsTerminal(err_));
    std::vector<std::string> notes;
    FlashEvents events;
    // Notes are progress, not data: standard error, beside the bar (and in
    // the JSON log).
    events.note = [&](const std::string& line) {
      progress.Break();
      if (g_.json) notes.push_back(line);
      std::osyncstream(err_) << line << "\n" << std::flush;
    };
    events.progress = [&](unsigned percent) { progress.Update(percent); };

    const FlashOutcome outcome = flasher.Run(std::span<const std::uint8_t>(buffer->data(), buffer->size()), length,
                                             checkWord, stopSignals.Flag(), events, error);
    progress.Break();
    if (g_.json) {
      const char* result = outcome == FlashOutcome::kDone ? "done" : outcome == FlashOutcome::kStopped ? "stopped"
                                                                                                      : "failed";
      out_ << Dump({{"result", result}, {"length", length}, {"log", notes}});
    }
    if (outcome != FlashOutcome::kDone) return Fail(error);
    return kExitOk;
  }

  // A board's failure as one line, for the lines that name the board: the
  // same words the single-board update prints, what to do next included.
  static std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  }

  // One board of `flash --all`: what it is called in the lines, and how it went.
  struct BoardFlash {
    HidDeviceInfo device;
    std::string name;
    FlashOutcome outcome = FlashOutcome::kFailed;
    std::string error;
  };

  // Every attached board at once, each on a lamp session of its own (its own
  // link, engine and transfer worker) driven by a thread of its own: the
  // boards wait on the USB link, not on each other, so four take about as
  // long as one. A board that fails is reported and the others go on.
  int FlashAll(const std::string& path) {
    // The log's rows do not say which board they came from; a log that mixed
    // several would mislead.
    if (log_)
      throw UsageError{"flash --all takes no --log: its rows would not say which board they came from. "
                       "Use --trace (each line names its board), or update one board at a time with "
                       "--serial SN --log FILE"};
    if (validating_) return kExitOk;
    DeferStopSignals stopSignals;
    const auto loaded = LoadImage(path);
    if (!loaded) return kExitFailure;
    const std::uint32_t length = loaded->length, checkWord = loaded->checkWord;
    const ImageBuffer* buffer = loaded->buffer.get();

    Session& process = Open();
    std::vector<BoardFlash> boards;
    for (const auto& d : process.List()) {
      BoardFlash b;
      b.device = d;
      b.name = d.serialNumber.empty() ? d.path : d.serialNumber;
      boards.push_back(std::move(b));
    }
    if (boards.empty()) return Fail("No lamp board attached.");
    std::osyncstream(err_) << "Updating " << boards.size() << " board" << (boards.size() == 1 ? "" : "s") << " with "
                           << path << " (" << length << " bytes).\n" << std::flush;

    const std::span<const std::uint8_t> image(buffer->data(), buffer->size());
    std::vector<std::thread> workers;
    workers.reserve(boards.size());
    for (BoardFlash& board : boards)
      workers.emplace_back([&, &b = board] { FlashOne(process, b, image, length, checkWord, stopSignals.Flag()); });
    for (auto& w : workers) w.join();

    std::size_t done = 0;
    for (const auto& b : boards) done += b.outcome == FlashOutcome::kDone ? 1 : 0;
    if (g_.json) {
      Json list = Json::array();
      for (const auto& b : boards)
        list.push_back({{"path", b.device.path},
                        {"serial", b.device.serialNumber},
                        {"result", b.outcome == FlashOutcome::kDone      ? "done"
                                   : b.outcome == FlashOutcome::kStopped ? "stopped"
                                                                         : "failed"},
                        {"error", b.error}});
      out_ << Dump({{"length", length}, {"boards", list}});
    }
    std::osyncstream summary(err_);
    summary << "Updated " << done << " of " << boards.size() << " board" << (boards.size() == 1 ? "" : "s") << ":\n";
    for (const auto& b : boards) {
      summary << "  " << b.name << " (" << b.device.path << "): "
              << (b.outcome == FlashOutcome::kDone ? "done" : b.outcome == FlashOutcome::kStopped ? "stopped" : "FAILED");
      if (b.outcome != FlashOutcome::kDone) summary << ": " << OneLine(b.error);
      summary << "\n";
    }
    summary << std::flush;
    return done == boards.size() ? kExitOk : kExitFailure;
  }

  // One board of FlashAll, on the calling thread.
  void FlashOne(Session& process, BoardFlash& board, std::span<const std::uint8_t> image, std::uint32_t length,
                std::uint32_t checkWord, const std::atomic<bool>& interrupted) {
    const auto line = [&](const std::string& text) {
      std::osyncstream(err_) << "[" << board.name << "] " << text << "\n" << std::flush;
    };
    session::LampSessionOptions o;
    o.ownLink = true;
    o.timeoutMs = g_.timeoutMs;
    o.interrupted = &interrupted;
    // By serial number where the board has one: its path may change when it
    // restarts into its bootloader.
    if (board.device.serialNumber.empty()) o.choice.path = board.device.path;
    else o.choice.serial = board.device.serialNumber;
    std::unique_ptr<HidBackend> backend;
    std::unique_ptr<platform::DeviceMonitor> monitor;
    sim::SimBoard* simBoard = nullptr;
    if (g_.sim) {
      std::vector<sim::SimBoard*> bench;
      for (const auto& b : process.SimBoards()) {
        bench.push_back(b.get());
        if (b->SerialNumber() == board.device.serialNumber) simBoard = b.get();
      }
      backend = std::make_unique<SimBackend>(std::move(bench));
    } else {
      monitor = std::make_unique<platform::DeviceMonitor>();
      backend = std::make_unique<HidapiBackend>();
    }
    session::LampSession lamp(std::move(backend), o, std::move(monitor));
    if (simBoard) process.RouteSimEvents(*simBoard, lamp.Handle());
    if (g_.trace) {
      // Each board's frames, each line named for its board.
      auto tap = std::make_shared<TrafficTap>(
          [this, prefix = "[" + board.name + "] "](const std::string& text) {
            std::osyncstream(err_) << prefix << text << std::flush;
          },
          nullptr);
      lamp.Communication().Hid()->SetReportTap([tap](bool outgoing, const std::uint8_t* report, std::size_t length) {
        tap->Feed(TrafficClock::now(), outgoing, CMUSBHid::TappedReportIsBootloader(), report, length);
      });
    }
    {
      Flasher flasher(lamp);
      std::string error;
      bool ready = flasher.BootloaderAttached();
      if (!ready) {
        // As for one board: only a board identified as one of ours is updated.
        BoardInfo info;
        if (!lamp.Identify(info, g_.address, error)) {
          board.error = interrupted.load() ? kInterruptedBeforeUpdate : error;
        } else if (interrupted.load()) {
          board.error = kInterruptedBeforeUpdate;
          board.outcome = FlashOutcome::kStopped;
        } else if (info.chipBoard.empty()) {
          board.error = "The board reports id " + (info.boardId ? std::to_string(*info.boardId) : std::string("(none)")) +
                        ", which names no known chip board: it is not updated.";
        } else {
          ready = true;
        }
      }
      if (ready) {
        unsigned shown = 0;
        FlashEvents events;
        events.note = line;
        events.progress = [&](unsigned percent) {
          // A line per tenth: several boards' bars cannot share a line.
          if (percent / 10 == shown / 10 && percent != 100) return;
          shown = percent;
          line(std::to_string(percent) + "%");
        };
        board.outcome = flasher.Run(image, length, checkWord, interrupted, events, error);
        if (board.outcome != FlashOutcome::kDone) board.error = error;
      }
      line(board.outcome == FlashOutcome::kDone ? "done" : "failed: " + OneLine(board.error));
    }
    if (simBoard) process.RouteSimEvents(*simBoard, platform::kNoHandle);
  }

  Globals g_;
  std::ostream& out_;
  std::ostream& err_;
  std::ostream* log_;
  std::unique_ptr<Session> session_;
  bool identified_ = false;
  bool validating_ = false;  // only checking the arguments (Check)
  std::vector<BoardCheck> boardChecks_;  // kept by Check, run once the board is identified
  BoardInfo info_;
};

}  // namespace

void SetSessionHooks(SessionHooks hooks) { Hooks() = std::move(hooks); }

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ScopedStopSignals stopSignals;
  Globals g;
  std::size_t i = 0;
  std::vector<std::string> faultSpecs;
  std::set<std::string> given;  // the options seen so far
  try {
    for (; i < args.size(); ++i) {
      const std::string& a = args[i];
      auto value = [&](const std::string& name) -> std::string {
        if (a.size() > name.size() && a[name.size()] == '=') return a.substr(name.size() + 1);
        if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
        return args[++i];
      };
      if (a.rfind("--", 0) != 0 && a != "-h") break;
      // Which of two values was meant is not for us to guess. (Two fault
      // lists are read as one, which refuses a fault named in both.)
      const std::string name = a.substr(0, a.find('='));
      if (name != "--sim-faults" && !given.insert(name).second) throw UsageError{name + " is given twice; give it once"};
      if (a == "-h" || a == "--help") {
        out << kToolHelp;
        return kExitOk;
      } else if (a == "--version") {
        if (i + 1 < args.size()) throw UsageError{"--version takes nothing after it, not '" + args[i + 1] + "'"};
        out << "corvelctl " << kCorvelVersion << "\n";
        return kExitOk;
      } else if (a == "--sim") {
        g.sim = true;
      } else if (a.rfind("--sim=", 0) == 0) {
        g.sim = true;
        // One id, or a bench: "--sim=1,3,5".
        std::vector<std::uint8_t> ids;
        std::istringstream list(a.substr(6));
        for (std::string id; std::getline(list, id, ',');)
          ids.push_back(static_cast<std::uint8_t>(NumberIn(id, 0, 255, "BOARD_ID")));
        if (ids.empty() || a.back() == ',') throw UsageError{"--sim= needs a board id, or several separated by commas"};
        if (ids.size() > kMaxSimBoards)
          throw UsageError{"at most " + std::to_string(kMaxSimBoards) + " simulated boards"};
        g.simBoardId = ids.front();
        if (ids.size() > 1) g.simBoardIds = ids;
      } else if (a == "--serial" || a.rfind("--serial=", 0) == 0) {
        g.serial = value("--serial");
        if (g.serial.empty()) throw UsageError{"--serial needs a serial number"};
      } else if (a == "--sim-latency" || a.rfind("--sim-latency=", 0) == 0) {
        std::string error;
        if (!sim::ParseLatency(value("--sim-latency"), g.simFaults, error)) throw UsageError{error};
        // Each connect step waits kConnectAnswerMs for its answer, which
        // comes as three reports one after the other (the acknowledgement,
        // and the version's answer in two): at this delay per report or more
        // no answer is ever in time, and no board would be identified.
        constexpr int kReportsPerAnswer = 3;
        constexpr int kLatencyBoundMs = static_cast<int>(session::LampSession::kConnectAnswerMs) / kReportsPerAnswer;
        if (g.simFaults.reportLatency >= std::chrono::milliseconds(kLatencyBoundMs))
          throw UsageError{"--sim-latency must stay below " + std::to_string(kLatencyBoundMs) +
                           " ms: a connect step waits " + std::to_string(session::LampSession::kConnectAnswerMs) +
                           " ms for its answer, " + std::to_string(kReportsPerAnswer) +
                           " reports each delayed that long, so no board would ever be identified"};
        g.simKnobsGiven = true;
      } else if (a == "--sim-faults" || a.rfind("--sim-faults=", 0) == 0) {
        // Read as one list, so that a fault named in two of them is refused
        // like one named twice in one.
        faultSpecs.push_back(value("--sim-faults"));
        g.simKnobsGiven = true;
      } else if (a == "--sim-seed" || a.rfind("--sim-seed=", 0) == 0) {
        g.simSeed = static_cast<std::uint32_t>(NumberIn(value("--sim-seed"), 0, 2147483647, "--sim-seed"));
        g.simKnobsGiven = true;
      } else if (a == "--sim-chip-address" || a.rfind("--sim-chip-address=", 0) == 0) {
        std::string error;
        if (!sim::ParseChipAddress(value("--sim-chip-address"), g.simChip, error)) throw UsageError{error};
        g.simKnobsGiven = true;
      } else if (a == "--device" || a.rfind("--device=", 0) == 0) {
        g.devicePath = value("--device");
        if (g.devicePath.empty()) throw UsageError{"--device needs a path"};
      } else if (a == "--trace") {
        g.trace = true;
      } else if (a == "--log" || a.rfind("--log=", 0) == 0) {
        g.logPath = value("--log");
        if (g.logPath.empty()) throw UsageError{"--log needs a file name"};
      } else if (a == "--json") {
        g.json = true;
      } else if (a == "--timeout" || a.rfind("--timeout=", 0) == 0) {
        g.timeoutMs = static_cast<int>(NumberIn(value("--timeout"), 1, 3600000, "--timeout"));
      } else if (a == "--address" || a.rfind("--address=", 0) == 0) {
        g.address = static_cast<std::uint8_t>(NumberIn(value("--address"), 0x58, 0x5B, "--address", true));
      } else {
        throw UsageError{"unknown option '" + a + "'"};
      }
    }
    for (const auto& spec : faultSpecs) {
      std::string error;
      if (!sim::ParseFaultSpec(spec, g.simFaults, error)) throw UsageError{error};
    }
    if (faultSpecs.size() > 1) {
      std::string joined, error;
      for (const auto& spec : faultSpecs) joined += (joined.empty() ? "" : ",") + spec;
      if (!sim::ParseFaultSpec(joined, g.simFaults, error)) throw UsageError{error};
    }
    if (i >= args.size()) throw UsageError{"no command given"};
    if (g.simKnobsGiven && !g.sim) throw UsageError{"--sim-latency, --sim-faults, --sim-seed and --sim-chip-address need --sim"};
    // Two ways of naming the board: which one counts is not for us to guess.
    if (!g.devicePath.empty() && !g.serial.empty())
      throw UsageError{"--device and --serial exclude each other: name the board by one of them"};
    // On the simulated bench, --device names one of its boards by path.
    if (!g.devicePath.empty() && g.sim && g.devicePath.rfind("sim:", 0) != 0)
      throw UsageError{"--device and --sim exclude each other"};
    const std::vector<std::string> command(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    // An update defers a stop signal from its first moment (the board is
    // identified before anything is sent; a signal then ends that wait).
    std::optional<DeferStopSignals> update;
    if (command[0] == "flash") update.emplace();
    // The log is appended to: named like a file the command reads (a setup,
    // a script, an image), it would have rows added to that file before it
    // is read. Every word is looked at, those of a batch's steps too.
    if (!g.logPath.empty())
      for (const auto& arg : command) {
        std::istringstream words(arg);
        for (std::string word; words >> word;)
          if (SameFile(word, g.logPath))
            throw UsageError{"--log '" + g.logPath + "' is the file '" + word + "' the command reads: give the log another name"};
      }
    std::ofstream log;  // outlives the session, whose reader thread writes to it
    int rc;
    {
      Runner runner(g, out, err, g.logPath.empty() ? nullptr : &log);
      // The whole command line is checked before anything is opened or sent.
      runner.Check(command);
      if (!g.logPath.empty()) {
        // Appended to, never emptied: the file may hold an earlier run, or
        // be something else that was named by mistake. A new (or empty)
        // file gets the header first. Binary: the rows end in CRLF of their own.
        std::error_code ec;
        const bool fresh = !std::filesystem::exists(g.logPath, ec) || std::filesystem::file_size(g.logPath, ec) == 0;
        errno = 0;
        log.open(g.logPath, std::ios::binary | std::ios::app);
        if (log && fresh) log << CsvHeader() << std::flush;
        // A file whose last line was left open gets its line ended first, so
        // that the first new row is not glued onto it.
        if (log && !fresh && !EndsWithNewline(g.logPath)) log << "\r\n" << std::flush;
        if (!log) {
          err << "corvelctl: cannot write the log '" << g.logPath << "'"
              << (errno ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
          return kExitFailure;
        }
      }
      rc = runner.Command(command);
    }
    if (!g.logPath.empty()) {
      log.close();
      if (!log) {
        err << "corvelctl: writing the log '" << g.logPath << "' failed; it is incomplete\n";
        if (rc == kExitOk) rc = kExitFailure;
      }
    }
    return rc;
  } catch (const UsageError& e) {
    err << "corvelctl: " << e.what() << "\nTry 'corvelctl --help'.\n";
    return kExitUsage;
  } catch (const SeveralBoards& e) {
    err << "corvelctl: " << e.message;
    return kExitUsage;
  } catch (const StepRefused& e) {
    err << "corvelctl: " << e.message << "\n";
    return kExitFailure;
  }
}

}  // namespace cli
