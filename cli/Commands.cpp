#include "cli/Commands.h"

#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/Session.h"
#include "link/BoardIds.h"
#include "link/MUSBHid.h"

namespace cli {
namespace {

constexpr const char* kToolHelp =
    "Usage: corvelctl [OPTIONS] COMMAND [ARGS...]\n"
    "\n"
    "Talks to a QV603x lamp board over USB HID, or to a simulated one.\n"
    "\n"
    "Options:\n"
    "  --sim[=BOARD_ID]  use a simulated lamp board (board id 0, 1, 3, 5 or 128; default 1)\n"
    "  --trace           show every report in and out, with a decode of each frame, on stderr\n"
    "  --timeout MS      how long to wait for each answer (default 5000)\n"
    "  --address ADDR    chip I2C address for register commands: 0x58..0x5B (default 0x5B)\n"
    "  --json            print data as JSON\n"
    "  -h, --help        show this help; COMMAND --help shows a command's help\n"
    "\n"
    "Commands:\n"
    "  list                     attached lamp boards\n"
    "  info                     connect, identify the board, show its firmware version\n"
    "  reg read REG [COUNT]     read COUNT chip registers from REG\n"
    "  reg write REG BYTE...    write bytes to consecutive chip registers from REG\n"
    "  address ADDR             tell the board the chip's I2C address\n"
    "  wait                     wait until a lamp board is attached\n"
    "  batch 'CMD ARGS' ...     run several commands on one connection\n"
    "\n"
    "Exit status: 0 success, 1 device or protocol failure, 2 usage error.\n";

const std::map<std::string, std::string> kCommandHelp = {
    {"list", "Usage: corvelctl list\n\nLists attached lamp boards (USB 0483:5750): device path, release number\n"
             "and mode (application firmware 0x1000, bootloader 0x0100).\n"},
    {"info", "Usage: corvelctl info\n\nConnects (handshake), sends the chip address, queries the board id and\n"
             "the firmware version, and prints them.\n"},
    {"reg", "Usage: corvelctl reg read REG [COUNT]\n       corvelctl reg write REG BYTE...\n\n"
            "Reads or writes consecutive chip registers (REG and bytes 0..255, decimal or 0x hex;\n"
            "COUNT 1..249, default 1). The board is identified first; an unknown board is refused.\n"},
    {"address", "Usage: corvelctl address ADDR\n\nTells the board the chip's I2C address (0x58, 0x59, 0x5A or 0x5B)\n"
                "and prints its answer.\n"},
    {"wait", "Usage: corvelctl wait\n\nWaits until a lamp board is attached (up to --timeout ms).\n"},
    {"batch", "Usage: corvelctl batch 'COMMAND ARGS' ...\n\nRuns each argument as a command on one connection and stops at the\n"
              "first that fails, e.g.  corvelctl --sim batch 'reg write 0x20 0x10 0x20' 'reg read 0x20 2'\n"},
};

struct Globals {
  bool sim = false;
  std::uint8_t simBoardId = 1;
  bool trace = false;
  bool json = false;
  int timeoutMs = 5000;
  std::uint8_t address = 0x5B;
};

struct UsageError {
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
  auto [ptr, ec] = std::from_chars(first, last, value, base);
  if (ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

long NumberIn(const std::string& text, long lo, long hi, const char* what) {
  auto v = ParseNumber(text);
  if (!v || *v < lo || *v > hi) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s must be a number from %ld to %ld (decimal or 0x hex), not '%s'", what, lo,
                  hi, text.c_str());
    throw UsageError{buf};
  }
  return *v;
}

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

class Runner {
 public:
  Runner(Globals g, std::ostream& out, std::ostream& err) : g_(g), out_(out), err_(err) {}

  int Command(const std::vector<std::string>& args) {
    const std::string& name = args[0];
    for (const auto& a : args)
      if (a == "--help" || a == "-h") {
        auto it = kCommandHelp.find(name);
        out_ << (it != kCommandHelp.end() ? it->second : kToolHelp);
        return kExitOk;
      }
    if (name == "list") return List(args);
    if (name == "info") return Info(args);
    if (name == "reg") return Reg(args);
    if (name == "address") return Address(args);
    if (name == "wait") return Wait(args);
    if (name == "batch") return Batch(args);
    throw UsageError{"unknown command '" + name + "'"};
  }

 private:
  Session& S() {
    if (!session_) {
      SessionOptions o;
      o.sim = g_.sim;
      o.simBoardId = g_.simBoardId;
      o.trace = g_.trace;
      o.timeoutMs = g_.timeoutMs;
      o.chipAddress = g_.address;
      std::ostream* err = &err_;
      o.traceOut = [err](const std::string& line) { *err << line << std::flush; };
      session_ = std::make_unique<Session>(o);
    }
    return *session_;
  }

  int Fail(const std::string& message) {
    err_ << "corvelctl: " << message << "\n";
    return kExitFailure;
  }

  static void NoArgs(const std::vector<std::string>& args, std::size_t allowed) {
    if (args.size() > allowed) throw UsageError{"unexpected argument '" + args[allowed] + "' for " + args[0]};
  }

  int List(const std::vector<std::string>& args) {
    NoArgs(args, 1);
    const auto devices = S().List();
    if (g_.json) {
      out_ << "[";
      for (std::size_t i = 0; i < devices.size(); ++i) {
        const auto& d = devices[i];
        out_ << (i ? "," : "") << "{\"path\":" << JsonString(d.path) << ",\"release\":" << d.releaseNumber
             << ",\"mode\":" << JsonString(Mode(d.releaseNumber)) << "}";
      }
      out_ << "]\n";
    } else {
      for (const auto& d : devices) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%04X", d.releaseNumber);
        out_ << d.path << "  release " << buf << "  " << Mode(d.releaseNumber) << "\n";
      }
      if (devices.empty()) err_ << "No lamp board attached.\n";
    }
    return kExitOk;
  }

  static std::string Mode(std::uint16_t release) {
    if (release == kReleaseApplication) return "application";
    if (release == kReleaseBootloader) return "bootloader";
    return "unknown release";
  }

  bool EnsureIdentified(std::string& error) {
    if (identified_) return true;
    if (!S().Identify(info_, error)) return false;
    identified_ = true;
    return true;
  }

  int Info(const std::vector<std::string>& args) {
    NoArgs(args, 1);
    std::string error;
    if (!EnsureIdentified(error)) return Fail(error);
    const std::string id = info_.boardId ? std::to_string(*info_.boardId) : std::string("none");
    if (g_.json) {
      out_ << "{\"link_state\":" << info_.linkState << ",\"link_text\":" << JsonString(Trim(info_.linkText))
           << ",\"board_id\":" << (info_.boardId ? std::to_string(*info_.boardId) : "null")
           << ",\"chip_board\":" << (info_.chipBoard.empty() ? "null" : JsonString(info_.chipBoard))
           << ",\"chip_address\":" << JsonString(Hex2(g_.address))
           << ",\"address_answer\":" << JsonString(info_.addressText)
           << ",\"firmware\":" << JsonString(info_.versions[2]) << ",\"version_strings\":["
           << JsonString(info_.versions[0]) << "," << JsonString(info_.versions[1]) << ","
           << JsonString(info_.versions[2]) << "]}\n";
    } else {
      out_ << "Link:          " << Trim(info_.linkText) << "\n"
           << "Board id:      " << id << " ("
           << (info_.chipBoard.empty() ? std::string("unknown chip board") : info_.chipBoard) << ")\n"
           << "Chip address:  " << Hex2(g_.address) << "  " << info_.addressText << "\n"
           << "Firmware:      Mcu code version:" << info_.versions[2] << "\n";
    }
    if (info_.chipBoard.empty()) {
      err_ << "corvelctl: the board reports an id that names no known chip board.\n";
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
      std::vector<std::uint8_t> values;
      if (!S().ReadRegisters(static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(count), values, error))
        return Fail(error);
      if (g_.json) {
        out_ << "{\"register\":" << reg << ",\"values\":[";
        for (std::size_t i = 0; i < values.size(); ++i) out_ << (i ? "," : "") << int(values[i]);
        out_ << "]}\n";
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
      if (!S().WriteRegisters(static_cast<std::uint8_t>(reg), bytes, error)) return Fail(error);
      if (g_.json) {
        out_ << "{\"register\":" << reg << ",\"written\":" << bytes.size() << "}\n";
      } else {
        out_ << "Wrote " << bytes.size() << (bytes.size() == 1 ? " byte" : " bytes") << " from register "
             << Hex2(static_cast<unsigned>(reg)) << ".\n";
      }
      return kExitOk;
    }
    throw UsageError{"reg needs 'read' or 'write', not '" + verb + "'"};
  }

  bool RequireBoard(std::string& error) {
    if (!EnsureIdentified(error)) return false;
    if (info_.chipBoard.empty()) {
      error = "The board reports id " +
              (info_.boardId ? std::to_string(*info_.boardId) : std::string("(none)")) +
              ", which names no known chip board: register access is refused.";
      return false;
    }
    return true;
  }

  int Address(const std::vector<std::string>& args) {
    if (args.size() != 2) throw UsageError{"usage: address ADDR"};
    const long a = NumberIn(args[1], 0x58, 0x5B, "ADDR");
    std::string answer, error;
    if (!S().SetChipAddress(static_cast<std::uint8_t>(a), answer, error)) return Fail(error);
    g_.address = static_cast<std::uint8_t>(a);
    if (g_.json) {
      out_ << "{\"chip_address\":" << a << ",\"answer\":" << JsonString(answer) << "}\n";
    } else {
      out_ << answer << "\n";
    }
    return kExitOk;
  }

  int Wait(const std::vector<std::string>& args) {
    NoArgs(args, 1);
    if (!S().WaitForBoard(g_.timeoutMs))
      return Fail("No lamp board arrived within " + std::to_string(g_.timeoutMs) + " ms.");
    const auto devices = S().List();
    if (!devices.empty()) out_ << "Lamp board attached: " << devices.front().path << "\n";
    return kExitOk;
  }

  int Batch(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError{"batch needs at least one command"};
    for (std::size_t i = 1; i < args.size(); ++i) {
      std::istringstream words(args[i]);
      std::vector<std::string> sub;
      for (std::string w; words >> w;) sub.push_back(w);
      if (sub.empty()) continue;
      if (sub[0] == "batch") throw UsageError{"batch cannot be nested"};
      const int rc = Command(sub);
      if (rc != kExitOk) return rc;
    }
    return kExitOk;
  }

  Globals g_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<Session> session_;
  bool identified_ = false;
  BoardInfo info_;
};

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Globals g;
  std::size_t i = 0;
  try {
    for (; i < args.size(); ++i) {
      const std::string& a = args[i];
      auto value = [&](const std::string& name) -> std::string {
        if (a.size() > name.size() && a[name.size()] == '=') return a.substr(name.size() + 1);
        if (i + 1 >= args.size()) throw UsageError{name + " needs a value"};
        return args[++i];
      };
      if (a.rfind("--", 0) != 0 && a != "-h") break;
      if (a == "-h" || a == "--help") {
        out << kToolHelp;
        return kExitOk;
      } else if (a == "--sim") {
        g.sim = true;
      } else if (a.rfind("--sim=", 0) == 0) {
        g.sim = true;
        g.simBoardId = static_cast<std::uint8_t>(NumberIn(a.substr(6), 0, 255, "BOARD_ID"));
      } else if (a == "--trace") {
        g.trace = true;
      } else if (a == "--json") {
        g.json = true;
      } else if (a == "--timeout" || a.rfind("--timeout=", 0) == 0) {
        g.timeoutMs = static_cast<int>(NumberIn(value("--timeout"), 1, 3600000, "--timeout"));
      } else if (a == "--address" || a.rfind("--address=", 0) == 0) {
        g.address = static_cast<std::uint8_t>(NumberIn(value("--address"), 0x58, 0x5B, "--address"));
      } else {
        throw UsageError{"unknown option '" + a + "'"};
      }
    }
    if (i >= args.size()) throw UsageError{"no command given"};
    Runner runner(g, out, err);
    return runner.Command(std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i), args.end()));
  } catch (const UsageError& e) {
    err << "corvelctl: " << e.message << "\nTry 'corvelctl --help'.\n";
    return kExitUsage;
  }
}

}  // namespace cli
