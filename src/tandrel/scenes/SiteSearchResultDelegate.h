#pragma once
// Draws a line of the site search's results with its matches marked (bold, on the highlight
// colour's tint); file groups are drawn as any item. The line's text and where its matches stand
// come from the item's data (kSpansRole: a list of QPoint(start, length) in UTF-16 units of the
// display text); screen readers get the plain display text.
#include <QStyledItemDelegate>

class SiteSearchResultDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kSpansRole = Qt::UserRole + 10;
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
