// The commands of corvelctl, runnable in-process (the tests call Run directly).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // no board, timeout, refused, bad file
inline constexpr int kExitUsage = 2;

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
