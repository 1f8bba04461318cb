// Which page hears of which reply. The main window receives every reply of
// the board and passes some on to the pages that wait for them; the routes
// are a table here, so that they can be read in one place and checked
// without a window. The router knows pages only by their role: whoever owns
// the pages says which exist (their message handles) and which mode is on.
#pragma once

#include <cstdint>
#include <span>

#include "platform/MessageTarget.h"

namespace session {

enum class PageRole { kRoundPage, kBlinkMode, kFadeMode, kGpioInput, kGpioOutput };

// When a route is taken.
enum class RouteCondition {
  kAlways,
  kBlinkActive,            // the blink effect runs
  kFadeActive,             // the fade effect runs
  kBrightnessPagePresent,  // the LED board page shows its dial
};

struct Route {
  RouteCondition when;
  PageRole page;
  std::uint32_t forwarded;  // the message the page gets, with the reply unchanged
};

enum class RouteMode {
  kEvery,       // every route whose condition holds
  kFirstMatch,  // only the first whose condition holds, even if its page does not exist
};

struct RouteEntry {
  std::uint32_t message;
  RouteMode mode;
  std::span<const Route> routes;
};

// The pages as the router sees them.
class PageDirectory {
 public:
  virtual ~PageDirectory() = default;
  // The page's message handle, or kNoHandle while it does not exist.
  virtual platform::Handle PageHandle(PageRole page) const = 0;
  virtual bool Holds(RouteCondition condition) const = 0;
};

// The routes of the board's replies to the pages.
std::span<const RouteEntry> ReplyRoutes();

class ReplyRouter {
 public:
  explicit ReplyRouter(std::span<const RouteEntry> table = ReplyRoutes()) : table_(table) {}
  // Posts `message`'s reply to every page its routes name; returns how many
  // pages it went to. A message without routes goes nowhere.
  int Route(const platform::Message& message, const PageDirectory& pages) const;

 private:
  std::span<const RouteEntry> table_;
};

}  // namespace session
