// The commands of corvelctl, runnable in-process (the tests call Run directly).
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

class Session;

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // no board, timeout, refused, bad file
inline constexpr int kExitUsage = 2;

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// For tests that run the commands in-process: called with each session the
// commands open, once it is set up and again just before it closes, so that a
// test can reach the simulated board behind it (Session::Sim).
struct SessionHooks {
  std::function<void(Session&)> opened;
  std::function<void(Session&)> closing;
};
void SetSessionHooks(SessionHooks hooks);

}  // namespace cli
