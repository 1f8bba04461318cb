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

namespace {
Qt::Alignment TextAlignment(std::uint32_t style) {
  Qt::Alignment a = (style & platform::kStyleCentered) ? Qt::AlignHCenter
                    : (style & platform::kStyleRight)  ? Qt::AlignRight
                                                       : Qt::AlignLeft;
  return a | ((style & platform::kStyleMultiline) ? Qt::AlignTop : Qt::AlignVCenter);
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
    case ControlClass::Static: return SetUpLabel(new QLabel(parent), caption, c.style);
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
    case ControlClass::CheckBox: return new QCheckBox(caption, parent);
    case ControlClass::GroupBox: return new QGroupBox(caption, parent);
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
