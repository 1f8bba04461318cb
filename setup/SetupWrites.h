// The register writes that put a setup on the chip, in the order the
// window's pages make them: the pin mode and direction before anything that
// depends on them, then register 0x11, the effect times and the GPIO
// settings, and last the brightness block right after 0x00 to the effect
// control. The window's "Load setup…", corvelctl apply (and its --dry-run)
// and the firmware export all use this one list. Pure C++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "setup/Setup.h"

namespace setup {

struct RegisterWrite {
  std::uint8_t reg = 0;
  std::vector<std::uint8_t> data;  // to the consecutive registers from reg
  std::string what;                // what it sets, for a person
};

std::vector<RegisterWrite> SetupWrites(const Setup& setup);

// The fields of a setup that SetupWrites leaves out, each with why: the
// GPIO settings (direction, interrupt disables, output levels) of a setup
// that puts the pins in LED mode, where they do nothing and the window shows
// none of them (its GPIO box writes the direction it shows when GPIO mode is
// chosen). Empty when everything is written.
struct NotWritten {
  std::string field;  // as the file names it: "gpio.output_high"
  std::string why;
};
std::vector<NotWritten> FieldsNotWritten(const Setup& setup);
// "pins.direction, gpio.interrupt_disabled and gpio.output_high were not
// written: …", or empty.
std::string NotWrittenText(const Setup& setup);

// "0x12 <- 0x00 0x00"
// "0x5A": how a register, a byte or an address is written in scripts and exports.
std::string Hex2(unsigned v);

std::string WriteText(const RegisterWrite& write);

// One register and the value it gets, with what the value means as the
// register page reads it ("LED / GPIO mode, port 0: LED").
struct RegisterValue {
  std::uint8_t reg = 0;
  std::uint8_t value = 0;
  std::string meaning;
};
// The writes taken apart register by register, in order: what a firmware
// without block writes sends.
std::vector<RegisterValue> SetupRegisterValues(const Setup& setup);

// A C header (C99 and C++) with the setup's register writes as a static
// const array of register/value pairs, a comment on each; and the same list
// as JSON.
std::string ExportCHeader(const Setup& setup, const std::string& sourceName);
std::string ExportJsonList(const Setup& setup);

}  // namespace setup
