#include "HTMLItemDelegate.h"

#include <QApplication>
#include <QPainter>
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
    painter->translate(item.rect.topLeft() + textOffset(index.column()));
    document.drawContents(painter, QRectF(0, 0, item.rect.width(), item.rect.height()));
    painter->restore();
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
