#include "session/ReplyRouter.h"

#include "platform/Messages.h"

namespace session {
namespace {

using namespace platform;

// A read reply may be what any GPIO page or a running effect's chain step
// waits for: each looks at it and takes only its own register.
constexpr Route kRegisterReadRoutes[] = {
    {RouteCondition::kAlways, PageRole::kGpioInput, kMsgGpioInputRead},
    {RouteCondition::kAlways, PageRole::kGpioOutput, kMsgGpioOutputRead},
    {RouteCondition::kBlinkActive, PageRole::kBlinkMode, kMsgBlinkRead},
    {RouteCondition::kFadeActive, PageRole::kFadeMode, kMsgFadeRead},
};

// A write confirmation moves exactly one chain on: the running effect's, or
// else the LED board page's brightness writes.
constexpr Route kRegisterWrittenRoutes[] = {
    {RouteCondition::kFadeActive, PageRole::kFadeMode, kMsgFadeWriteAck},
    {RouteCondition::kBlinkActive, PageRole::kBlinkMode, kMsgBlinkWriteAck},
    {RouteCondition::kBrightnessPagePresent, PageRole::kRoundPage, kMsgPageWriteAck},
};

constexpr Route kInterruptRoutes[] = {
    {RouteCondition::kAlways, PageRole::kRoundPage, kMsgPageInterrupt},
};

constexpr RouteEntry kRoutes[] = {
    {kMsgRegisterRead, RouteMode::kEvery, kRegisterReadRoutes},
    {kMsgRegisterWritten, RouteMode::kFirstMatch, kRegisterWrittenRoutes},
    {kMsgInterrupt, RouteMode::kEvery, kInterruptRoutes},
};

}  // namespace

std::span<const RouteEntry> ReplyRoutes() { return kRoutes; }

int ReplyRouter::Route(const Message& message, const PageDirectory& pages) const {
  int delivered = 0;
  for (const RouteEntry& entry : table_) {
    if (entry.message != message.id) continue;
    for (const session::Route& route : entry.routes) {
      if (!pages.Holds(route.when)) continue;
      const Handle page = pages.PageHandle(route.page);
      if (page != kNoHandle && PostMessage(page, route.forwarded, 0, message.lParam)) ++delivered;
      if (entry.mode == RouteMode::kFirstMatch) break;
    }
  }
  return delivered;
}

}  // namespace session
