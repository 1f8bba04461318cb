#include "ui/ReadingOrder.h"

#include <QApplication>
#include <QGroupBox>

#include <algorithm>

namespace {

bool TakesTab(const QWidget* w) {
  return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy() && w->isEnabled();
}

// One thing in the reading order of a container: a control, a group box with
// the controls that sit on it, or a child widget (a page, a host) read on
// its own.
struct Block {
  QRect rect;
  QWidget* control = nullptr;          // a control that takes the focus
  QWidget* container = nullptr;        // read recursively
  std::vector<QWidget*> grouped;       // the controls on a group box
};

void Read(QWidget* container, std::vector<QWidget*>& out);

void ReadBlocks(std::vector<Block> blocks, std::vector<QWidget*>& out) {
  // Top to bottom; a block joins the row of the one before while it starts
  // above that row's first block's middle. Then each row left to right.
  std::stable_sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) {
    return a.rect.top() != b.rect.top() ? a.rect.top() < b.rect.top() : a.rect.left() < b.rect.left();
  });
  std::size_t i = 0;
  while (i < blocks.size()) {
    const int middle = blocks[i].rect.center().y();
    std::size_t end = i + 1;
    while (end < blocks.size() && blocks[end].rect.top() < middle) ++end;
    std::stable_sort(blocks.begin() + static_cast<std::ptrdiff_t>(i), blocks.begin() + static_cast<std::ptrdiff_t>(end),
                     [](const Block& a, const Block& b) { return a.rect.left() < b.rect.left(); });
    for (std::size_t k = i; k < end; ++k) {
      const Block& b = blocks[k];
      if (b.control) {
        out.push_back(b.control);
      } else if (b.container) {
        Read(b.container, out);
      } else {
        std::vector<Block> inner;
        for (QWidget* w : b.grouped) inner.push_back(Block{w->geometry(), w, nullptr, {}});
        ReadBlocks(std::move(inner), out);
      }
    }
    i = end;
  }
}

bool HasTabStops(QWidget* w) {
  if (TakesTab(w)) return true;
  for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!child->isWindow() && child->isVisibleTo(w) && HasTabStops(child)) return true;
  return false;
}

void Read(QWidget* container, std::vector<QWidget*>& out) {
  std::vector<QWidget*> children;
  for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!child->isWindow() && child->isVisibleTo(container)) children.push_back(child);
  // Group boxes first: the controls that sit on one are read with it.
  std::vector<Block> blocks;
  std::vector<QWidget*> placed;
  for (QWidget* child : children) {
    auto* group = qobject_cast<QGroupBox*>(child);
    if (!group) continue;
    Block b{group->geometry(), nullptr, nullptr, {}};
    for (QWidget* other : children)
      if (other != group && !qobject_cast<QGroupBox*>(other) && TakesTab(other) &&
          group->geometry().contains(other->geometry())) {
        b.grouped.push_back(other);
        placed.push_back(other);
      }
    if (!b.grouped.empty()) blocks.push_back(std::move(b));
    if (HasTabStops(group)) blocks.push_back(Block{group->geometry(), nullptr, group, {}});
  }
  for (QWidget* child : children) {
    if (qobject_cast<QGroupBox*>(child) || std::find(placed.begin(), placed.end(), child) != placed.end()) continue;
    // A control that takes the focus is one stop, whatever it holds inside
    // (a table's viewport, a combo box's line).
    if (TakesTab(child)) blocks.push_back(Block{child->geometry(), child, nullptr, {}});
    else if (HasTabStops(child)) blocks.push_back(Block{child->geometry(), nullptr, child, {}});
  }
  ReadBlocks(std::move(blocks), out);
}

}  // namespace

std::vector<QWidget*> ReadingOrder(QWidget* root) {
  std::vector<QWidget*> out;
  if (root) Read(root, out);
  return out;
}

bool FocusNextInReadingOrder(QWidget* window, bool next) {
  const std::vector<QWidget*> order = ReadingOrder(window);
  if (order.empty()) return false;
  QWidget* focus = QApplication::focusWidget();
  // A control inside a compound one (a combo box's line) stands for it.
  while (focus && focus->focusProxy()) focus = focus->focusProxy();
  auto at = std::find_if(order.begin(), order.end(), [&](QWidget* w) {
    return focus && (w == focus || w->isAncestorOf(focus));
  });
  std::size_t index;
  if (at == order.end()) index = next ? 0 : order.size() - 1;
  else {
    const std::size_t here = static_cast<std::size_t>(at - order.begin());
    index = next ? (here + 1) % order.size() : (here + order.size() - 1) % order.size();
  }
  order[index]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  return true;
}
