// What a person does to the pages, for the tests that drive them, on a small
// host or in the whole window alike: the pages are found through the globals
// the program keeps for them.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTest>

#include "pages/BlinkMode.h"
#include "pages/BoardGlobals.h"
#include "pages/BrightnessDial.h"
#include "pages/EffectPages.h"
#include "pages/FadeMode.h"
#include "pages/LedLayoutPage.h"
#include "pages/RoundPage.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRoundButton.h"

namespace gestures {

// A click on an LED (or pin) of the drawing; returns once the page took it.
inline void Click(int led, Qt::KeyboardModifiers keys = {}) {
  QTest::mouseClick(g_pLayoutPage->LedButton(led), Qt::LeftButton, keys, QPoint(10, 10));
  ASSERT_TRUE(uitest::PumpUntil([] { return g_bClickPending == 0; }, 1000));
}

// A value typed into the dial's field, then Enter.
inline void TypeIntoDial(const QString& text) {
  CSetBrightnessLevel& dial = *g_pRoundPage->BrightnessPage();
  dial.ValueEdit()->setFocus();
  dial.ValueEdit()->selectAll();
  QTest::keyClicks(dial.ValueEdit(), text);
  QTest::keyClick(dial.ValueEdit(), Qt::Key_Return);
}

// A pick from the box's list, as the person makes it.
inline void Choose(CMyComboBox* box, int index) {
  box->setCurrentIndex(index);
  emit box->activated(index);
}

// The entry with this text made current (as the effect pages' time lists
// take it: on the change of their current entry).
inline void Choose(CMyComboBox* combo, const char* text) {
  const int index = combo->findText(QString::fromLatin1(text));
  ASSERT_GE(index, 0) << text;
  combo->setCurrentIndex(index);
}

inline void BlinkTimes(const char* rampOn, const char* rampOff, const char* keepOn, const char* keepOff) {
  auto& blink = *qobject_cast<BlinkMode*>(g_pBlinkMode);
  Choose(blink.TimeCombo(dialogs::IDC_BLINK_RAMP_ON), rampOn);
  Choose(blink.TimeCombo(dialogs::IDC_BLINK_RAMP_OFF), rampOff);
  Choose(blink.TimeCombo(dialogs::IDC_BLINK_KEEP_ON), keepOn);
  Choose(blink.TimeCombo(dialogs::IDC_BLINK_KEEP_OFF), keepOff);
}

inline void FadeTimes(const char* rampOn, const char* rampOff) {
  auto& fade = *qobject_cast<FadeMode*>(g_pFadeMode);
  Choose(fade.TimeCombo(dialogs::IDC_FADE_RAMP_ON), rampOn);
  Choose(fade.TimeCombo(dialogs::IDC_FADE_RAMP_OFF), rampOff);
}

// The pin selected on the drawing, as the GPIO pages read it.
inline void SelectPin(int pin) {
  Click(pin);
  ASSERT_EQ(g_selectedLed, pin);
}

}  // namespace gestures
