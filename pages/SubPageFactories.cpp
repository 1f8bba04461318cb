// The one place that knows which page the LED board page makes for each of
// its sub-page kinds, and how each page's requests reach its host.

#include <QObject>

#include "pages/BlinkMode.h"
#include "pages/FadeMode.h"
#include "pages/GpioInputPage.h"
#include "pages/GpioOutputPage.h"
#include "pages/PageHost.h"
#include "pages/RoundPage.h"

namespace {

template <typename Page, typename... Args>
Page* Make(QWidget* parent, Args&... args) {
  auto* page = new Page(parent, args...);
  page->InitDialog();
  return page;
}

}  // namespace

std::map<CRound::SubPage, CRound::SubPageFactory> CRound::DefaultSubPageFactories() {
  return {
      {SubPage::kBlink,
       [](QWidget* parent, PageHost& host) -> CPage* {
         auto* page = Make<BlinkMode>(parent);
         // The host outlives its pages: they are children of its controls.
         QObject::connect(page, &BlinkMode::ResetRequested, page, [&host] { host.ResetPages(); });
         QObject::connect(page, &BlinkMode::EffectTimesKept, page,
                          [&host](std::uint8_t ramp, std::uint8_t keep) { host.ShowEffectTimes(ramp, keep); });
         return page;
       }},
      {SubPage::kFade, [](QWidget* parent, PageHost&) -> CPage* { return Make<FadeMode>(parent); }},
      {SubPage::kGpioInput,
       [](QWidget* parent, PageHost& host) -> CPage* { return Make<CQV512XX_Gpio_Input>(parent, host); }},
      {SubPage::kGpioOutput,
       [](QWidget* parent, PageHost& host) -> CPage* { return Make<CQV512XX_Gpio_Output>(parent, host); }},
  };
}
