// Every page on the work areas people have, from a small laptop to a 4K
// screen: no text is cut by its control, no group title runs into the
// controls of its group, and no text runs into another control. Measured
// with the fonts' own metrics against the controls' rectangles, so that a
// font that does not scale with the layout shows at one end of the table.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyleOptionGroupBox>
#include <QTest>

#include <sstream>

#include "app/ToolPages.h"
#include "firmware/BootDialog.h"
#include "pages/EffectPlayDialog.h"
#include "pages/RoundPage.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/app/IdentifiedBoardFixture.h"
#include "ui/BitmapButton.h"
#include "ui/CMyRectButton.h"

namespace {

std::string Name(const QWidget* w) {
  std::ostringstream out;
  out << w->metaObject()->className() << " " << platform::ControlId(w);
  if (const auto* l = qobject_cast<const QLabel*>(w)) out << " \"" << l->text().left(30).toStdString() << "\"";
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) out << " \"" << b->text().left(30).toStdString() << "\"";
  if (const auto* g = qobject_cast<const QGroupBox*>(w)) out << " \"" << g->title().toStdString() << "\"";
  return out.str();
}

// The rectangle the text of `w` takes, in its own coordinates, or an empty
// one for a control without text; `room` is where it has to fit.
struct TextPlace {
  QRect text;
  QRect room;
};

std::optional<TextPlace> PlaceOfText(const QWidget* w) {
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->text().isEmpty() || label->textFormat() == Qt::RichText || !label->pixmap().isNull()) return std::nullopt;
    const QRect room = label->contentsRect();
    const QFontMetrics fm(label->font());
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    QRect text = fm.boundingRect(label->wordWrap() ? room : QRect(room.topLeft(), QSize(100000, 100000)),
                                 flags & ~(label->wordWrap() ? 0 : int(Qt::AlignHCenter | Qt::AlignRight |
                                                                       Qt::AlignVCenter | Qt::AlignBottom)),
                                 label->text());
    // Where the alignment puts it inside the room.
    QRect placed = QStyle::alignedRect(label->layoutDirection(), label->alignment(), text.size(), room);
    return TextPlace{placed, room};
  }
  if (const auto* button = qobject_cast<const CMyRectButton*>(w)) {
    if (button->text().isEmpty()) return std::nullopt;
    const QFontMetrics fm(button->CaptionFont());
    const QSize size(fm.horizontalAdvance(button->text()), fm.height());
    // The rounded corners take a few pixels of each end.
    const QRect room = button->rect().adjusted(3, 0, -3, 0);
    return TextPlace{QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, room), room};
  }
  if (const auto* box = qobject_cast<const QCheckBox*>(w)) {
    if (box->text().isEmpty()) return std::nullopt;
    const QSize hint = box->sizeHint();
    return TextPlace{QRect(QPoint(0, (box->height() - hint.height()) / 2), hint), box->rect()};
  }
  if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
    if (group->title().isEmpty()) return std::nullopt;
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    option.textAlignment = group->alignment();
    const QRect label = group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
    const QFontMetrics fm(group->font());
    const QRect text(label.topLeft(), QSize(fm.horizontalAdvance(group->title()), fm.height()));
    return TextPlace{text, group->rect()};
  }
  if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
    if (combo->currentText().isEmpty()) return std::nullopt;
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    const QFontMetrics fm(combo->font());
    return TextPlace{QRect(field.topLeft(), QSize(fm.horizontalAdvance(combo->currentText()), fm.height())), field};
  }
  if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
    const QString shown = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
    if (shown.isEmpty()) return std::nullopt;
    const QFontMetrics fm(edit->font());
    const QRect room = edit->rect().adjusted(2, 0, -2, 0);
    return TextPlace{QStyle::alignedRect(Qt::LeftToRight, edit->alignment(), QSize(fm.horizontalAdvance(shown), fm.height()), room),
                     room};
  }
  return std::nullopt;
}

// A control drawn on the page, which a text must not run into: not a plain
// host or frame.
bool DrawsSomething(const QWidget* w) {
  return w->metaObject() != &QWidget::staticMetaObject && !qobject_cast<const QGroupBox*>(w) &&
         !w->inherits("CPage") && w->objectName() != QLatin1String("focusRing");
}

// Everything wrong with the texts of `top` and its descendants.
std::vector<std::string> TextFaults(QWidget* top) {
  std::vector<std::string> faults;
  const auto widgets = top->findChildren<QWidget*>();
  for (QWidget* w : widgets) {
    if (!w->isVisibleTo(top) || w->isWindow()) continue;
    const auto place = PlaceOfText(w);
    if (!place) continue;
    // Cut: wider or taller than its room (a pixel of rounding allowed).
    if (place->text.width() > place->room.width() + 1 || place->text.height() > place->room.height() + 1)
      faults.push_back(Name(w) + ": text " + std::to_string(place->text.width()) + "x" +
                       std::to_string(place->text.height()) + " in " + std::to_string(place->room.width()) + "x" +
                       std::to_string(place->room.height()));
    QWidget* parent = w->parentWidget();
    if (!parent) continue;
    const QRect text = place->text.translated(w->pos());
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
      // A group's title and frame stay clear of the controls of its group:
      // they start below both.
      QStyleOptionGroupBox option;
      option.initFrom(group);
      option.text = group->title();
      option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      const QRect frame =
          group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, group).translated(group->pos());
      for (QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == w || !other->isVisibleTo(top) || !DrawsSomething(other)) continue;
        if (group->geometry().contains(other->geometry()) && other->geometry().top() <= std::max(text.bottom(), frame.top() + 1))
          faults.push_back(Name(w) + ": title or frame runs into " + Name(other));
      }
      continue;
    }
    for (QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      // A picture behind the whole control (the dial's ellipse) is its backdrop.
      if (other == w || !other->isVisibleTo(top) || !DrawsSomething(other) || other->geometry().contains(w->geometry()))
        continue;
      if (text.intersects(other->geometry()))
        faults.push_back(Name(w) + ": text runs into " + Name(other));
    }
  }
  return faults;
}

// Texts and small controls that keep one size whatever the screen: next to
// the scaled ones they tower on a small screen and shrink to nothing on a
// large one. Sizes are compared at the reference work area's scale.
std::vector<std::string> ScaleFaults(QWidget* top) {
  std::vector<std::string> faults;
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(top) || w->isWindow() || !PlaceOfText(w)) continue;
    const double height = QFontMetricsF(w->font()).height() / g_scaleY;
    if (qobject_cast<QGroupBox*>(w) || qobject_cast<QCheckBox*>(w) || qobject_cast<QLabel*>(w)) {
      if (height < 10 || height > 60)
        faults.push_back(Name(w) + ": font " + std::to_string(height) + " px at the reference scale");
    }
  }
  for (QCheckBox* box : top->findChildren<QCheckBox*>()) {
    if (!box->isVisibleTo(top)) continue;
    const double side = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) / g_scaleY;
    if (side < 10 || side > 17) faults.push_back(Name(box) + ": box of " + std::to_string(side) + " px at the reference scale");
  }
  for (CBitmapButton* b : top->findChildren<CBitmapButton*>()) {
    if (!b->isVisibleTo(top)) continue;
    const double side = b->height() / g_scaleY;
    if (side < 8 || side > 26) faults.push_back(Name(b) + ": " + std::to_string(side) + " px at the reference scale");
  }
  return faults;
}

}  // namespace

class ScreenFitTest : public IdentifiedBoardFixture, public ::testing::WithParamInterface<QSize> {
 protected:
  QRect WorkArea() const override { return QRect(QPoint(0, 0), GetParam()); }
  std::string Size() const { return std::to_string(GetParam().width()) + "x" + std::to_string(GetParam().height()); }
  void ExpectFits(QWidget* top, const std::string& what) {
    QCoreApplication::processEvents();
    for (const std::string& fault : TextFaults(top)) ADD_FAILURE() << Size() << " " << what << ": " << fault;
    for (const std::string& fault : ScaleFaults(top)) ADD_FAILURE() << Size() << " " << what << ": " << fault;
  }
};

TEST_P(ScreenFitTest, NoTextIsCutOrRunsIntoAnotherControlOnAnyPage) {
  const QString size = QString::fromStdString(Size());
  ExpectFits(window, "LED board page");
  uitest::GrabAndSave(window, QStringLiteral("fit_%1_led").arg(size));

  g_pRoundPage->OnModeGpio();
  ExpectFits(window, "GPIO input page");
  g_pRoundPage->OnDirectionOutput();
  ExpectFits(window, "GPIO output page");
  uitest::GrabAndSave(window, QStringLiteral("fit_%1_gpio").arg(size));

  window->ToolPages()->Show(CToolPages::Page::kRegisters);
  ExpectFits(window, "register page");
  window->ToolPages()->Show(CToolPages::Page::kTraffic);
  ExpectFits(window, "traffic page");
  window->ToolPages()->Show(CToolPages::Page::kRound);

  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  ASSERT_NE(g_pBootDialog, nullptr);
  g_pBootDialog->show();
  ExpectFits(g_pBootDialog, "update dialog");
  uitest::GrabAndSave(g_pBootDialog, QStringLiteral("fit_%1_boot").arg(size));
  g_pBootDialog->OnBnClickedOk();

  g_strEffectMessage = QStringLiteral("   Blink mode is running\uFF01");
  CLamp_Effect_Play* effect = CLamp_Effect_Play::Open(window);
  ExpectFits(effect, "effect window");
  uitest::GrabAndSave(effect, QStringLiteral("fit_%1_effect").arg(size));
  effect->OnStop();
}

INSTANTIATE_TEST_SUITE_P(WorkAreas, ScreenFitTest,
                         ::testing::Values(QSize(1280, 720), QSize(1366, 768), QSize(1920, 1080), QSize(2560, 1440),
                                           QSize(3840, 2160)),
                         [](const auto& info) {
                           return std::to_string(info.param.width()) + "x" + std::to_string(info.param.height());
                         });
