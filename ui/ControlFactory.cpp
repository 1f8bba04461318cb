#include "ui/ControlFactory.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>

#include "ui/BitmapButton.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyStatic.h"
#include "ui/CMyStaticFont.h"
#include "ui/Scaling.h"

#include <algorithm>

namespace {
constexpr int kCheckBoxSide = 13;  // the box at the reference work area

Qt::Alignment TextAlignment(std::uint32_t style) {
  Qt::Alignment a = (style & platform::kStyleCentered) ? Qt::AlignHCenter
                    : (style & platform::kStyleRight)  ? Qt::AlignRight
                                                       : Qt::AlignLeft;
  return a | ((style & platform::kStyleMultiline) ? Qt::AlignTop : Qt::AlignVCenter);
}

// The font of a control that no page gives one of its own (plain texts,
// group titles, check boxes): the dialogs' own font, scaled with the screen
// like every font a page sets, so that it neither towers over the scaled
// texts on a small screen nor shrinks among them on a large one.
constexpr int kDialogFontHeight = 15;
QWidget* WithDialogFont(QWidget* w) {
  w->setFont(ScaledFont(kDialogFontHeight, 0, 400));
  return w;
}

QLabel* SetUpLabel(QLabel* label, const QString& caption, std::uint32_t style) {
  label->setText(caption);
  label->setAlignment(TextAlignment(style));
  label->setWordWrap(style & platform::kStyleMultiline);
  return label;
}
}  // namespace

QWidget* MakeControl(const platform::ControlTemplate& c, QWidget* parent) {
  using platform::ControlClass;
  const QString caption = QString::fromUtf8(c.caption ? c.caption : "");
  switch (c.cls) {
    case ControlClass::Static: return WithDialogFont(SetUpLabel(new QLabel(parent), caption, c.style));
    case ControlClass::MyStatic: return SetUpLabel(new CMyStatic(parent), caption, c.style);
    case ControlClass::StaticFont: return SetUpLabel(new CMyStaticFont(parent), caption, c.style);
    case ControlClass::Edit: {
      auto* w = new CMyEdit(parent);
      w->setText(caption);
      w->setReadOnly(c.style & platform::kStyleReadOnly);
      return w;
    }
    case ControlClass::ComboBox: return new CMyComboBox(parent);
    case ControlClass::RectButton: {
      auto* w = new CMyRectButton(parent);
      w->setText(caption);
      return w;
    }
    case ControlClass::RoundButton: {
      auto* w = new CMyRoundButton(parent);
      w->setText(caption);
      return w;
    }
    case ControlClass::BitmapButton: {
      auto* w = new CBitmapButton(parent);
      w->setAccessibleName(caption);
      return w;
    }
    case ControlClass::CheckBox: {
      auto* box = new QCheckBox(caption, parent);
      // The box itself grows and shrinks with the page, as the style
      // draws it at any size it is given.
      const int side = std::max(8, static_cast<int>(kCheckBoxSide * g_scaleY));
      box->setStyleSheet(QStringLiteral("QCheckBox::indicator { width: %1px; height: %1px; }").arg(side));
      return WithDialogFont(box);
    }
    case ControlClass::GroupBox: return WithDialogFont(new QGroupBox(caption, parent));
    case ControlClass::Picture: {
      auto* w = new QLabel(parent);
      w->setScaledContents(true);
      return w;
    }
    case ControlClass::Slider: return new QSlider(Qt::Horizontal, parent);
    case ControlClass::Progress: return new QProgressBar(parent);
    case ControlClass::Host: return new QWidget(parent);
  }
  return nullptr;
}
