#include "ui/CMyComboBox.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QEvent>
#include <QLineEdit>
#include <QScreen>

#include "ui/TextControlColours.h"

CMyComboBox::CMyComboBox(QWidget* parent)
    : CTextControl<QComboBox>(parent) {
  // Pages only ever offer fixed choices; typing into the box is not a thing.
  setEditable(false);
  ApplyColours();
}

void CMyComboBox::showPopup() {
  CTextControl<QComboBox>::showPopup();
  QAbstractItemView* list = view();
  QWidget* popup = list ? list->window() : nullptr;
  if (!popup || popup == window() || !popup->isVisible()) return;
  const QPoint below = mapToGlobal(QPoint(0, height()));
  const QPoint above = mapToGlobal(QPoint(0, 0)) - QPoint(0, popup->height());
  QPoint at = below;
  if (QScreen* on = screen()) {
    const QRect area = on->availableGeometry();
    if (below.y() + popup->height() > area.bottom() + 1 && above.y() >= area.top()) at = above;
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - popup->width())));
  }
  popup->move(at);
  // Opened over the box, the list was scrolled to put the current entry
  // there; from below it shows the current entry where it is in the list.
  list->scrollTo(list->currentIndex());
}

bool CMyComboBox::event(QEvent* event) {
  const bool handled = CTextControl<QComboBox>::event(event);
  // setEditable(true) creates the edit part long after construction; colour it
  // when it is first polished, once the combo box has finished setting it up.
  if (event->type() == QEvent::ChildPolished) {
    auto* child = static_cast<QChildEvent*>(event)->child();
    if (QLineEdit* edit = lineEdit(); edit && child == edit)
      ui::ApplyCtrlColours(edit, m_crText, QPalette::Text, m_crBk, QPalette::Base);
  }
  return handled;
}

void CMyComboBox::ApplyColours() {
  const QColor white(Qt::white);

  // The face: white whatever the page's colours are; the chosen entry on it
  // is the box's read-only edit part, which takes the member text colour.
  QPalette face = palette();
  for (auto role : {QPalette::Button, QPalette::Base, QPalette::Window})
    face.setColor(QPalette::All, role, white);
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    face.setColor(group, QPalette::ButtonText, m_crText);
    face.setColor(group, QPalette::Text, m_crText);
    face.setColor(group, QPalette::WindowText, m_crText);
  }
  setPalette(face);

  // The open list: white, with the entries in the member text colour.
  if (QAbstractItemView* list = view()) {
    QPalette pal = list->palette();
    pal.setColor(QPalette::All, QPalette::Base, white);
    pal.setColor(QPalette::All, QPalette::Window, white);
    for (auto group : {QPalette::Active, QPalette::Inactive}) pal.setColor(group, QPalette::Text, m_crText);
    list->setPalette(pal);
  }

  // An edit part takes both member colours.
  if (QLineEdit* edit = lineEdit())
    ui::ApplyCtrlColours(edit, m_crText, QPalette::Text, m_crBk, QPalette::Base);
}
