#include "pages/PageReplies.h"

#include "chip/ChipAccess.h"
#include "chip/RegisterJournal.h"
#include "pages/BoardGlobals.h"
#include "pages/RoundPage.h"
#include "platform/Messages.h"
#include "session/ReplyRouter.h"

namespace {

// The pages as the reply router sees them: the page globals and the effect
// flags, as they are when a reply arrives.
class WindowPages final : public session::PageDirectory {
 public:
  platform::Handle PageHandle(session::PageRole page) const override {
    using session::PageRole;
    const CPage* p = nullptr;
    switch (page) {
      case PageRole::kRoundPage: p = g_pRoundPage; break;
      case PageRole::kBlinkMode: p = g_pBlinkMode; break;
      case PageRole::kFadeMode: p = g_pFadeMode; break;
      case PageRole::kGpioInput: p = g_pGpioInputPage; break;
      case PageRole::kGpioOutput: p = g_pGpioOutputPage; break;
    }
    return p ? p->Handle() : platform::kNoHandle;
  }
  bool Holds(session::RouteCondition condition) const override {
    using session::RouteCondition;
    switch (condition) {
      case RouteCondition::kAlways: return true;
      case RouteCondition::kBlinkActive: return g_bBlinkActive != 0;
      case RouteCondition::kFadeActive: return g_bFadeActive != 0;
      case RouteCondition::kBrightnessPagePresent: return g_pBrightnessPage != nullptr;
    }
    return false;
  }
};

}  // namespace

int DeliverPageReply(const platform::Message& reply) {
  // Noted before any page acts on it, so that a write a page makes in answer
  // is the newer of the two.
  if (reply.id == platform::kMsgRegisterRead)
    if (const auto* bytes = reply.Bytes())
      if (const auto parsed = chip::ParseRegisterReply(*bytes)) chip::Journal().RecordRead(parsed->first, parsed->data);
  static const session::ReplyRouter router;
  return router.Route(reply, WindowPages());
}
