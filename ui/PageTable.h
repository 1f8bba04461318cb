// The look of a table on a page, drawn by the page like its buttons: a grey
// header band with white captions (the colours of the window's bottom band),
// white rows with a faint rule between them, grey body text, a teal
// selection, and every font Arial scaled to the screen. The model decides
// per cell through the usual roles: ForegroundRole for a text colour of its
// own, FontRole (italic for values that may be stale), ToolTipRole.
#pragma once

#include <QHeaderView>
#include <QStyledItemDelegate>

class QTableView;

class CPageTableHeader : public QHeaderView {
  Q_OBJECT
 public:
  explicit CPageTableHeader(QWidget* parent = nullptr);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

class CPageCellDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  static constexpr QRgb kRuleColour = qRgb(228, 228, 228);
  static constexpr QRgb kSelectedFace = qRgb(32, 200, 200);
};

// Gives the view the page look: header, cell painting, fonts and row height.
// Room a cell or heading leaves on each side of its text.
inline constexpr int kPageTableTextInset = 6;

void SetUpPageTable(QTableView* view);
