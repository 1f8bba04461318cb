// Runs corvelctl in-process and keeps what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"

struct CliResult {
  int rc;
  std::string out;
  std::string err;
};

inline CliResult Ctl(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int rc = cli::Run(args, out, err);
  return {rc, out.str(), err.str()};
}
