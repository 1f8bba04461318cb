// The C++ side of the Python module `corvel`: the library's Board, its
// listing and its errors. The Pythonic surface (board.leds[3] = 128, the
// context manager, the pytest plugin) is corvel/__init__.py on top of this.
//
// Every call that waits for the board lets go of the interpreter while it
// waits, so other Python threads run (and drive other boards) meanwhile.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

#include "corvel/Board.h"
#include "corvel/Session.h"
#include "setup/PythonScript.h"
#include "setup/SetupWrites.h"
#include "sim/SimKnobs.h"
#include "sim/SimPins.h"

namespace py = pybind11;
using Release = py::call_guard<py::gil_scoped_release>;

namespace {

corvel::OpenOptions Options(const std::optional<std::vector<int>>& sim, const std::string& serial,
                            const std::string& device, double timeout, int chipAddress, const std::string& simFaults,
                            std::optional<int> simLatencyMs, int simSeed, int simChipAddress) {
  corvel::OpenOptions o;
  if (sim) {
    if (sim->empty()) throw corvel::UsageError("sim needs a board id, or a list of them");
    for (int id : *sim) {
      if (id < 0 || id > 255) throw corvel::UsageError("a simulated board id is 0..255, not " + std::to_string(id));
      o.sim.push_back(static_cast<std::uint8_t>(id));
    }
  } else if (!simFaults.empty() || simLatencyMs) {
    throw corvel::UsageError("sim_faults and sim_latency need a simulated board (sim=ID)");
  }
  o.serial = serial;
  o.device = device;
  if (!(timeout > 0) || timeout > 3600) throw corvel::UsageError("timeout is in seconds, more than 0 and at most 3600");
  o.timeoutMs = std::max(1, static_cast<int>(timeout * 1000));
  if (chipAddress < 0x58 || chipAddress > 0x5B) throw corvel::UsageError("chip_address must be 0x58..0x5B");
  o.chipAddress = static_cast<std::uint8_t>(chipAddress);
  std::string error;
  if (!simFaults.empty() && !sim::ParseFaultSpec(simFaults, o.simFaults, error)) throw corvel::UsageError(error);
  if (simLatencyMs && !sim::ParseLatency(std::to_string(*simLatencyMs), o.simFaults, error)) throw corvel::UsageError(error);
  if (simSeed < 0) throw corvel::UsageError("sim_seed must not be negative");
  o.simSeed = static_cast<std::uint32_t>(simSeed);
  if (simChipAddress < 0x58 || simChipAddress > 0x5B) throw corvel::UsageError("sim_chip_address must be 0x58..0x5B");
  o.simChipAddress = static_cast<std::uint8_t>(simChipAddress);
  return o;
}

std::uint8_t Byte(int value, const char* what) {
  if (value < 0 || value > 255) throw corvel::UsageError(std::string(what) + " must be 0..255, not " + std::to_string(value));
  return static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> Bytes(const std::vector<int>& values, const char* what) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) bytes.push_back(Byte(v, what));
  return bytes;
}

corvel::PinSettings Settings(const std::map<int, bool>& pins) {
  corvel::PinSettings settings(pins.begin(), pins.end());
  if (settings.empty()) throw corvel::UsageError("name at least one pin");
  return settings;
}

std::vector<int> Pins(const corvel::PinWrite& w, int count) {
  std::vector<int> pins;
  for (int i = 0; i < count; ++i)
    if (w.pins[static_cast<std::size_t>(i)]) pins.push_back(i);
  return pins;
}

int Millis(double seconds, const char* what) {
  if (!(seconds >= 0) || seconds > 3600) throw corvel::UsageError(std::string(what) + " is in seconds, 0..3600");
  return static_cast<int>(seconds * 1000);
}

}  // namespace

PYBIND11_MODULE(_corvel, m) {
  m.doc() = "The lamp board's C++ library, beneath the corvel package.";

  // corvel.Error and its kinds; TimeoutError is also the builtin one.
  static py::exception<corvel::Error> error(m, "Error");
  static py::exception<corvel::LinkError> linkError(m, "LinkError", error);
  static py::exception<corvel::ChipError> chipError(m, "ChipError", error);
  static py::exception<corvel::TimeoutError> timeoutError(
      m, "TimeoutError", py::make_tuple(error, py::handle(PyExc_TimeoutError)));
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const corvel::UsageError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const corvel::LinkError& e) {
      linkError(e.what());
    } catch (const corvel::ChipError& e) {
      chipError(e.what());
    } catch (const corvel::TimeoutError& e) {
      timeoutError(e.what());
    } catch (const corvel::Error& e) {
      error(e.what());
    }
  });

  m.def(
      "list_boards",
      [](std::optional<std::vector<int>> sim) {
        const auto o = Options(sim, "", "", 5, 0x5B, "", std::nullopt, 1, 0x5B);
        std::vector<py::dict> out;
        std::vector<corvel::DeviceListing> list;
        {
          py::gil_scoped_release release;
          list = corvel::ListBoards(o);
        }
        for (const auto& d : list)
          out.push_back(py::dict(py::arg("path") = d.path, py::arg("serial") = d.serial,
                                 py::arg("release") = d.release, py::arg("mode") = d.mode));
        return out;
      },
      py::arg("sim") = py::none());

  m.def(
      "make_image",
      [](const py::bytes& raw, std::optional<std::uint32_t> checkWord) {
        const std::string data = raw;
        if (data.empty()) throw corvel::UsageError("an image without data is never flashed");
        if (data.size() > kImageMaxDataLength)
          throw corvel::UsageError("an image holds at most " + std::to_string(kImageMaxDataLength) + " bytes of data");
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        // The bootloader compares the check word with the checksum of the
        // flash it programmed: by default, the data's checksum.
        const auto file = BuildImageFile(bytes, checkWord.value_or(ComputeImageChecksum(bytes)));
        return py::bytes(reinterpret_cast<const char*>(file.data()), file.size());
      },
      py::arg("data"), py::arg("check_word") = py::none());
  m.def("check_image", [](const std::string& path) {
    std::vector<std::string> texts;
    const auto image = corvel::LoadImage(path, texts);
    if (!image) {
      std::string text;
      for (const auto& t : texts) text += (text.empty() ? "" : "\n") + t;
      throw corvel::UsageError(text);
    }
    const std::uint32_t checksum =
        ComputeImageChecksum(std::span<const std::uint8_t>(image->buffer->data(), image->length));
    return py::dict(py::arg("length") = image->length, py::arg("check_word") = image->checkWord,
                    py::arg("checksum") = checksum);
  });

  m.def(
      "export_setup",
      [](const std::string& path, const std::string& format) {
        if (format != "c" && format != "json") throw corvel::UsageError("format is 'c' or 'json', not '" + format + "'");
        const setup::Setup s = corvel::LoadSetup(path);
        return format == "c" ? setup::ExportCHeader(s, std::filesystem::path(path).filename().string())
                             : setup::ExportJsonList(s);
      },
      py::arg("path"), py::arg("format") = "c");
  m.def("setup_writes", [](const std::string& path) {
    std::vector<std::tuple<int, std::vector<std::uint8_t>, std::string>> out;
    for (const auto& w : setup::SetupWrites(corvel::LoadSetup(path))) out.emplace_back(w.reg, w.data, w.what);
    return out;
  });

  // The window's recorder writes Python scripts with these; here for tests
  // and for turning a corvelctl script into Python.
  m.def("script_head", &setup::PythonScriptHead, py::arg("about"));
  m.def("script_line", &setup::PythonScriptLine, py::arg("command_line"));

  py::class_<corvel::Board>(m, "Board")
      .def(py::init([](std::optional<std::vector<int>> sim, std::string serial, std::string device, double timeout,
                       int chipAddress, std::string simFaults, std::optional<int> simLatency, int simSeed,
                       int simChipAddress) {
             auto o = Options(sim, serial, device, timeout, chipAddress, simFaults, simLatency, simSeed, simChipAddress);
             py::gil_scoped_release release;
             return std::make_unique<corvel::Board>(std::move(o));
           }),
           py::arg("sim") = py::none(), py::arg("serial") = "", py::arg("device") = "", py::arg("timeout") = 5.0,
           py::arg("chip_address") = 0x5B, py::arg("sim_faults") = "", py::arg("sim_latency") = py::none(),
           py::arg("sim_seed") = 1, py::arg("sim_chip_address") = 0x5B)
      .def("info",
           [](corvel::Board& b) {
             const auto& i = b.Info();
             return py::dict(py::arg("board_id") = i.boardId, py::arg("chip_board") = i.chipBoard,
                             py::arg("led_count") = i.ledCount, py::arg("firmware") = i.firmware,
                             py::arg("address_answer") = i.addressAnswer);
           })
      .def("chip_address", &corvel::Board::ChipAddress, Release())
      .def("set_chip_address", [](corvel::Board& b, int a) { b.SetChipAddress(Byte(a, "the chip address")); },
           Release())
      .def("read_registers",
           [](corvel::Board& b, int reg, int count) {
             return b.ReadRegisters(Byte(reg, "the register"), Byte(count, "the count"));
           },
           Release())
      .def("write_registers",
           [](corvel::Board& b, int reg, const std::vector<int>& data) {
             const auto bytes = Bytes(data, "a register value");
             b.WriteRegisters(Byte(reg, "the register"), bytes);
           },
           Release())
      .def("modify_register",
           [](corvel::Board& b, int reg, int mask, int bits) {
             return b.ModifyRegister(Byte(reg, "the register"), Byte(mask, "the mask"), Byte(bits, "the bits"));
           },
           Release())
      .def("set_leds",
           [](corvel::Board& b, int brightness, const std::vector<int>& leds) {
             b.SetLeds(Byte(brightness, "the brightness"), leds);
           },
           Release())
      .def("set_led_values",
           [](corvel::Board& b, int first, const std::vector<int>& values) {
             const auto bytes = Bytes(values, "the brightness");
             b.SetLedValues(first, bytes);
           },
           Release())
      .def("read_leds", &corvel::Board::ReadLeds, Release())
      .def("set_current", &corvel::Board::SetCurrent, Release())
      .def("current_ma", &corvel::Board::CurrentMilliamps, Release())
      .def("set_mode", &corvel::Board::SetMode, Release())
      .def("mode", &corvel::Board::Mode)
      .def("set_direction", &corvel::Board::SetDirection, Release())
      .def("read_inputs", &corvel::Board::ReadInputs, Release())
      .def("set_output_levels",
           [](corvel::Board& b, const std::map<int, bool>& pins) {
             const auto w = b.SetOutputLevels(Settings(pins));
             return std::make_pair(Pins(w, b.Info().ledCount), w.bytes);
           },
           Release())
      .def("set_interrupts",
           [](corvel::Board& b, const std::map<int, bool>& pins) {
             const auto w = b.SetInterrupts(Settings(pins));
             return std::make_pair(Pins(w, b.Info().ledCount), w.bytes);
           },
           Release())
      .def("set_driver", &corvel::Board::SetDriver, Release())
      .def("wait_interrupt", [](corvel::Board& b, double timeout) { b.WaitInterrupt(Millis(timeout, "timeout")); },
           Release())
      .def("run_effect",
           [](corvel::Board& b, const std::string& kind, const std::string& rampOn, const std::string& rampOff,
              const std::string& keepOn, const std::string& keepOff, bool reset) {
             corvel::EffectRequest r;
             if (kind == "blink") r.effect = chip::Effect::kBlink;
             else if (kind == "fade on") r.effect = chip::Effect::kFadeOn;
             else if (kind == "fade off") r.effect = chip::Effect::kFadeOff;
             else throw corvel::UsageError("the effect is blink, fade on or fade off, not '" + kind + "'");
             r.rampOn = corvel::EffectTimeCode(rampOn, "ramp_on");
             r.rampOff = corvel::EffectTimeCode(rampOff, "ramp_off");
             if (r.effect == chip::Effect::kBlink) {
               r.keepOn = corvel::EffectTimeCode(keepOn, "keep_on");
               r.keepOff = corvel::EffectTimeCode(keepOff, "keep_off");
             }
             r.reset = reset;
             b.RunEffect(r);
           },
           Release())
      .def("reset", &corvel::Board::Reset, Release())
      .def("apply",
           [](corvel::Board& b, const std::string& path) {
             std::vector<std::tuple<int, std::vector<std::uint8_t>, std::string>> out;
             for (const auto& w : b.Apply(path)) out.emplace_back(w.reg, w.data, w.what);
             return out;
           },
           Release())
      .def("flash",
           [](corvel::Board& b, const std::string& path, py::object progress) {
             // The callback runs on this thread, with the interpreter taken
             // back for it; an exception in it (or Ctrl-C) stops the update
             // after the current block and is raised once it has stopped.
             std::atomic<bool> cancel{false};
             std::optional<py::error_already_set> raised;
             const auto call = [&](unsigned percent) {
               py::gil_scoped_acquire gil;
               if (raised) return;
               try {
                 if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                 if (!progress.is_none()) progress(percent);
               } catch (py::error_already_set& e) {
                 raised.emplace(std::move(e));
                 cancel = true;
               }
             };
             corvel::FlashProgress events;
             events.progress = call;
             {
               py::gil_scoped_release release;
               try {
                 b.Flash(path, events, &cancel);
               } catch (const corvel::Error&) {
                 py::gil_scoped_acquire gil;
                 if (raised) throw *raised;
                 throw;
               }
             }
             if (raised) throw *raised;
           },
           py::arg("path"), py::arg("progress") = py::none())
      .def("sim_drive",
           [](corvel::Board& b, const std::map<std::string, bool>& pins) {
             sim::SimBoard* board = b.Sim();
             if (!board) throw corvel::UsageError("sim_drive needs the simulated board (sim=ID)");
             std::uint16_t levels = board->Pins().driven;
             for (const auto& [name, high] : pins) {
               const auto pin = sim::PinFromName(name);
               if (!pin && name != "all") throw corvel::UsageError("a pin is P0_0..P1_7 or all, not '" + name + "'");
               const std::uint16_t mask = pin ? static_cast<std::uint16_t>(1u << *pin) : sim::kAllPins;
               levels = static_cast<std::uint16_t>(high ? levels | mask : levels & ~mask);
             }
             board->DrivePins(levels);
             return levels;
           })
      .def("sim_set_faults",
           [](corvel::Board& b, const std::string& spec) {
             sim::SimBoard* board = b.Sim();
             if (!board) throw corvel::UsageError("sim_set_faults needs the simulated board (sim=ID)");
             sim::SimFaults faults = sim::RealisticTiming();
             std::string error;
             if (!sim::ParseFaultSpec(spec, faults, error)) throw corvel::UsageError(error);
             board->SetFaults(faults);
           })
      .def("sim_unplug",
           [](corvel::Board& b) {
             sim::SimBoard* board = b.Sim();
             if (!board) throw corvel::UsageError("sim_unplug needs the simulated board (sim=ID)");
             board->Unplug();
           });
}
