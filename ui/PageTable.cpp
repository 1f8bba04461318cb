#include "ui/PageTable.h"

#include <QPainter>
#include <QTableView>

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

namespace {

constexpr QRgb kHeaderBand = qRgb(90, 90, 90);
constexpr QRgb kHeaderRule = qRgb(130, 130, 130);
// Text sits this far in from the cell's edges.
constexpr int kTextInset = kPageTableTextInset;

}  // namespace

CPageTableHeader::CPageTableHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setFont(ScaledFont(18, 7, 700));
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setHighlightSections(false);
  setSectionsClickable(false);
}

void CPageTableHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  painter->save();
  painter->fillRect(rect, QColor(kHeaderBand));
  painter->setPen(QColor(kHeaderRule));
  painter->drawLine(rect.topRight(), rect.bottomRight());
  painter->setPen(Qt::white);
  painter->setFont(font());
  const QString caption = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
  const QRect textRect = rect.adjusted(kTextInset, 0, -kTextInset, 0);
  painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    painter->fontMetrics().elidedText(caption, Qt::ElideRight, textRect.width()));
  painter->restore();
}

void CPageCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  painter->save();
  const QRect r = option.rect;
  const bool selected = option.state & QStyle::State_Selected;
  painter->fillRect(r, selected ? QColor(kSelectedFace) : QColor(Qt::white));
  painter->setPen(QColor(kRuleColour));
  painter->drawLine(r.bottomLeft(), r.bottomRight());

  QColor text(ui::kDefaultCtrlTextColour);
  const QVariant foreground = index.data(Qt::ForegroundRole);
  if (foreground.typeId() == QMetaType::QColor) text = foreground.value<QColor>();
  else if (foreground.typeId() == QMetaType::QBrush) text = foreground.value<QBrush>().color();
  if (selected) text = Qt::white;
  QFont font = option.font;
  if (const QVariant v = index.data(Qt::FontRole); v.typeId() == QMetaType::QFont) font = v.value<QFont>();
  painter->setFont(font);
  painter->setPen(text);
  const QRect textRect = r.adjusted(kTextInset, 0, -kTextInset, 0);
  const QString value = index.data(Qt::DisplayRole).toString();
  painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    QFontMetrics(font).elidedText(value, Qt::ElideRight, textRect.width()));
  painter->restore();
}

void SetUpPageTable(QTableView* view) {
  view->setHorizontalHeader(new CPageTableHeader(view));
  view->setItemDelegate(new CPageCellDelegate(view));
  const QFont font = ScaledFont(18, 7, 400);
  view->setFont(font);
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->setFrameShape(QFrame::NoFrame);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->verticalHeader()->hide();
  const int rowHeight = QFontMetrics(font).height() + 4;
  view->verticalHeader()->setMinimumSectionSize(rowHeight);
  view->verticalHeader()->setDefaultSectionSize(rowHeight);
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->horizontalHeader()->setFixedHeight(QFontMetrics(view->horizontalHeader()->font()).height() + 10);
  view->horizontalHeader()->setStretchLastSection(true);
  QPalette pal = view->palette();
  pal.setColor(QPalette::Base, Qt::white);
  pal.setColor(QPalette::Window, Qt::white);
  view->setPalette(pal);
  view->viewport()->setAutoFillBackground(true);
}
