#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/Messages.h"
#include "session/ReplyRouter.h"

using namespace platform;
using session::PageRole;
using session::RouteCondition;

namespace {

// Every page a queue, so that what each one got can be read back.
class FakePages final : public session::PageDirectory {
 public:
  explicit FakePages(std::set<PageRole> existing) {
    for (PageRole role : existing) queues[role] = std::make_unique<ScopedQueueTarget>();
  }
  Handle PageHandle(PageRole page) const override {
    const auto it = queues.find(page);
    return it == queues.end() ? kNoHandle : it->second->handle();
  }
  bool Holds(RouteCondition condition) const override {
    switch (condition) {
      case RouteCondition::kAlways: return true;
      case RouteCondition::kBlinkActive: return blink;
      case RouteCondition::kFadeActive: return fade;
      case RouteCondition::kBrightnessPagePresent: return brightness;
    }
    return false;
  }
  // (page, message) pairs delivered, each payload checked to be the original.
  std::vector<std::pair<PageRole, std::uint32_t>> Received(const Message& original) {
    std::vector<std::pair<PageRole, std::uint32_t>> got;
    for (auto& [role, queue] : queues) {
      for (const Message& m : (*queue)->Drain()) {
        EXPECT_EQ(m.lParam, original.lParam) << "the page gets the reply itself";
        EXPECT_EQ(m.wParam, 0u);
        got.emplace_back(role, m.id);
      }
    }
    return got;
  }

  bool blink = false, fade = false, brightness = false;
  std::map<PageRole, std::unique_ptr<ScopedQueueTarget>> queues;
};

const std::set<PageRole> kAllPages = {PageRole::kRoundPage, PageRole::kBlinkMode, PageRole::kFadeMode,
                                      PageRole::kGpioInput, PageRole::kGpioOutput};

struct Case {
  const char* what;
  std::uint32_t message;
  std::set<PageRole> pages;
  bool blink, fade, brightness;
  std::vector<std::pair<PageRole, std::uint32_t>> expected;  // in the order of PageRole
};

}  // namespace

TEST(ReplyRouterTest, EachReplyReachesThePagesThatWaitForIt) {
  using P = PageRole;
  const std::vector<Case> cases = {
      {"read: both GPIO pages, no effect", kMsgRegisterRead, kAllPages, false, false, true,
       {{P::kGpioInput, kMsgGpioInputRead}, {P::kGpioOutput, kMsgGpioOutputRead}}},
      {"read: the running effects too", kMsgRegisterRead, kAllPages, true, true, false,
       {{P::kBlinkMode, kMsgBlinkRead}, {P::kFadeMode, kMsgFadeRead}, {P::kGpioInput, kMsgGpioInputRead},
        {P::kGpioOutput, kMsgGpioOutputRead}}},
      {"read: pages that do not exist are passed over", kMsgRegisterRead, {P::kGpioOutput}, true, false, false,
       {{P::kGpioOutput, kMsgGpioOutputRead}}},
      {"write: fade first", kMsgRegisterWritten, kAllPages, true, true, true, {{P::kFadeMode, kMsgFadeWriteAck}}},
      {"write: fade on without its page goes nowhere", kMsgRegisterWritten, {P::kBlinkMode, P::kRoundPage}, true,
       true, true, {}},
      {"write: blink next", kMsgRegisterWritten, kAllPages, true, false, true, {{P::kBlinkMode, kMsgBlinkWriteAck}}},
      {"write: the board page while its dial exists", kMsgRegisterWritten, kAllPages, false, false, true,
       {{P::kRoundPage, kMsgPageWriteAck}}},
      {"write: nobody without the dial", kMsgRegisterWritten, kAllPages, false, false, false, {}},
      {"interrupt: the board page", kMsgInterrupt, kAllPages, true, true, true, {{P::kRoundPage, kMsgPageInterrupt}}},
      {"read failure: the window alone", kMsgRegisterReadFailed, kAllPages, true, true, true, {}},
      {"set data: the window alone", kMsgSetDataOk, kAllPages, true, true, true, {}},
  };
  const session::ReplyRouter router;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePages pages(c.pages);
    pages.blink = c.blink;
    pages.fade = c.fade;
    pages.brightness = c.brightness;
    Message m{c.message, 0, std::make_shared<const BytesPayload>(std::vector<std::uint8_t>{1, 0x5B, 0x20, 1, 4, 0, 7})};
    EXPECT_EQ(router.Route(m, pages), static_cast<int>(c.expected.size()));
    EXPECT_EQ(pages.Received(m), c.expected);
  }
}
