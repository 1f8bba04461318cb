// The process's own board link: the one engine whose replies become the
// command set's notifications to the process's windows. Wired here, outside
// both, so that the engine does not know the command set that sends through it.
#include "link/CommandSet.h"
#include "link/ProtocolEngine.h"

ProtocolEngine& ProtocolEngine::Instance() {
  static CommandSetReplies replies;
  static ProtocolEngine engine;
  static const bool wired = [] {
    engine.SetReplySink(&replies);
    return true;
  }();
  (void)wired;
  return engine;
}

int SendCommand(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length, const std::uint8_t* payload) {
  return ProtocolEngine::Instance().SendCommand(cls, cmd, length, payload);
}
