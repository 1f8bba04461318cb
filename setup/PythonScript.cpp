#include "setup/PythonScript.h"

#include <sstream>

namespace setup {

namespace {

constexpr const char* kIndent = "    ";

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// "3=high" -> "3: True" for the words given; empty when it is not that.
std::string PinEntry(const std::string& arg, const char* on, const char* off) {
  const auto eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return {};
  const std::string pin = arg.substr(0, eq), word = arg.substr(eq + 1);
  for (char c : pin)
    if (c < '0' || c > '9') return {};
  if (word != on && word != off) return {};
  return pin + ": " + (word == on ? "True" : "False");
}

std::string Body(const std::vector<std::string>& w) {
  const auto n = w.size();
  const std::string& c = w[0];
  if (c == "address" && n == 2) return "board.chip_address = " + w[1];
  if (c == "mode" && n == 2 && (w[1] == "led" || w[1] == "gpio")) return "board.mode = \"" + w[1] + "\"";
  if (c == "current" && n == 2) return "board.current_ma = " + w[1];
  if (c == "reset" && n == 1) return "board.reset()";
  if (c == "led" && n >= 2 && w[1].find('%') == std::string::npos) {
    if (n == 2) return "board.leds[:] = " + w[1];
    std::string leds;
    for (std::size_t i = 2; i < n; ++i) leds += (i > 2 ? ", " : "") + w[i];
    return "board.leds[" + leds + (n == 3 ? "," : "") + "] = " + w[1];
  }
  if (c == "reg" && n >= 3 && w[1] == "read")
    return n == 3 ? "board.regs[" + w[2] + "]" : "board.regs[" + w[2] + ":" + w[2] + " + " + w[3] + "]";
  if (c == "reg" && n >= 4 && w[1] == "write") {
    std::string bytes;
    for (std::size_t i = 3; i < n; ++i) bytes += (i > 3 ? ", " : "") + w[i];
    return "board.regs[" + w[2] + ":" + w[2] + " + " + std::to_string(n - 3) + "] = [" + bytes + "]";
  }
  if (c == "gpio" && n >= 2) {
    if (w[1] == "read" && n == 2) return "board.gpio.read()";
    if (w[1] == "wait-irq" && n == 2) return "board.wait_interrupt()";
    if (w[1] == "dir" && n == 3) return "board.gpio.direction(" + Quoted(w[2]) + ")";
    if (w[1] == "drive" && n == 3) return "board.gpio.drive(" + Quoted(w[2]) + ")";
    if ((w[1] == "out" || w[1] == "irq") && n >= 3) {
      const bool out = w[1] == "out";
      std::string entries;
      for (std::size_t i = 2; i < n; ++i) {
        const std::string e = PinEntry(w[i], out ? "high" : "enable", out ? "low" : "disable");
        if (e.empty()) return {};
        entries += (i > 2 ? ", " : "") + e;
      }
      return std::string("board.gpio.") + (out ? "out" : "interrupts") + "({" + entries + "})";
    }
  }
  if (c == "blink" || c == "fade") {
    std::string call = c == "blink" ? "board.blink(" : "";
    std::size_t i = 1;
    if (c == "fade") {
      if (n < 2 || (w[1] != "on" && w[1] != "off")) return {};
      call = std::string("board.fade(") + (w[1] == "on" ? "True" : "False");
      i = 2;
    }
    bool first = c == "blink";
    for (; i < n; ++i) {
      std::string name;
      if (w[i] == "--reset") {
        call += std::string(first ? "" : ", ") + "reset=True";
      } else if (w[i].rfind("--", 0) == 0 && i + 1 < n) {
        name = w[i].substr(2);
        for (char& ch : name)
          if (ch == '-') ch = '_';
        call += std::string(first ? "" : ", ") + name + "=" + Quoted(w[++i]);
      } else {
        return {};
      }
      first = false;
    }
    return call + ")";
  }
  return {};
}

}  // namespace

std::vector<std::string> PythonScriptHead(const std::string& about) {
  return {
      "#!/usr/bin/env python3",
      "# " + about,
      "# Replay: python3 SCRIPT --sim ID | --serial SN | --device PATH",
      "import argparse",
      "",
      "import corvel",
      "",
      "parser = argparse.ArgumentParser(description=\"Replays a CorvelGUI recording on a lamp board.\")",
      "parser.add_argument(\"--sim\", type=int, help=\"a simulated board with this id\")",
      "parser.add_argument(\"--serial\", default=\"\", help=\"the board with this serial number\")",
      "parser.add_argument(\"--device\", default=\"\", help=\"the board at this device path\")",
      "args = parser.parse_args()",
      "",
      "with corvel.open(sim=args.sim, serial=args.serial, device=args.device) as board:",
  };
}

std::string PythonScriptLine(const std::string& commandLine) {
  std::istringstream in(commandLine);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return {};
  if (words[0][0] == '#') return kIndent + commandLine.substr(commandLine.find('#'));
  const std::string body = Body(words);
  if (!body.empty()) return kIndent + body;
  return std::string(kIndent) + "raise NotImplementedError(" + Quoted("no Python call for: " + commandLine) + ")";
}

}  // namespace setup
