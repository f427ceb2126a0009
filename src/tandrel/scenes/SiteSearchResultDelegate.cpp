#include "tandrel/scenes/SiteSearchResultDelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QPoint>
#include <QTextDocument>

void SiteSearchResultDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    const QVariant spans = index.data(kSpansRole);
    if (!spans.isValid()) return QStyledItemDelegate::paint(painter, option, index);

    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString text = item.text;
    item.text.clear();
    QStyle* style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    // The text as HTML, each match in bold on a tint.
    QString html;
    int copied = 0;
    const QColor tint = option.palette.color(QPalette::Highlight).lighter(160);
    for (const QVariant& v : spans.toList()) {
        const QPoint span = v.toPoint();
        if (span.x() < copied || span.x() > text.size()) continue;
        html += text.mid(copied, span.x() - copied).toHtmlEscaped();
        html += QStringLiteral("<b style=\"background-color:%1\">").arg(tint.name());
        html += text.mid(span.x(), span.y()).toHtmlEscaped();
        html += QStringLiteral("</b>");
        copied = span.x() + span.y();
    }
    html += text.mid(copied).toHtmlEscaped();

    QTextDocument document;
    document.setDefaultFont(item.font);
    document.setDocumentMargin(0);
    document.setHtml(QStringLiteral("<span style=\"white-space:pre\">") + html + QStringLiteral("</span>"));
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
    painter->save();
    painter->translate(area.topLeft() + QPoint(0, (area.height() - static_cast<int>(document.size().height())) / 2));
    painter->setClipRect(area.translated(-area.topLeft()));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, option.state & QStyle::State_Selected
                                                 ? option.palette.color(QPalette::HighlightedText)
                                                 : option.palette.color(QPalette::Text));
    document.documentLayout()->draw(painter, context);
    painter->restore();
}
