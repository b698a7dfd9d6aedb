#include "HTMLItemDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QFontMetrics>
#include <QTextCursor>
#include <QTextDocument>

namespace {
constexpr int kFileNameColumn = 1;
constexpr int kIconRoom = 18;
} // namespace

HTMLItemDelegate::HTMLItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent) {}

QPoint HTMLItemDelegate::textOffset(int column) {
    return QPoint(column == kFileNameColumn ? kIconRoom : 0, 2);
}

void HTMLItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    painter->save();
    QTextDocument document;
    document.setDefaultFont(item.font);
    document.setHtml(item.text);
    item.text.clear();
    QStyle *style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
    const QPoint offset = textOffset(index.column());
    elide(&document, item.font, item.rect.width() - offset.x());
    painter->setClipRect(item.rect);
    painter->translate(item.rect.topLeft() + offset);
    document.drawContents(painter, QRectF(0, 0, item.rect.width(), item.rect.height()));
    painter->restore();
}

void HTMLItemDelegate::elide(QTextDocument *document, const QFont &font, int width) {
    const qreal room = width - 2 * document->documentMargin();
    if (document->idealWidth() <= width)
        return;
    // Cut in the document itself, so the marks of what is kept stay.
    const QString elided = QFontMetrics(font).elidedText(document->toPlainText(), Qt::ElideRight,
                                                         int(qMax<qreal>(room, 0)));
    const QChar ellipsis(0x2026);
    QTextCursor cursor(document);
    cursor.setPosition(int(elided.endsWith(ellipsis) ? elided.size() - 1 : elided.size()));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.insertText(QString(ellipsis));
}

QSize HTMLItemDelegate::sizeHint(const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QTextDocument document;
    document.setDefaultFont(item.font);
    document.setHtml(item.text);
    document.setTextWidth(item.rect.width());
    return QSize(int(document.idealWidth()), int(document.size().height()));
}
