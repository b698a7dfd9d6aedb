#pragma once

#include <QStyledItemDelegate>

class QTextDocument;

// Draws the document list's cells as rich text, so the search marks of
// ListFileDelegate show as highlights; the file name column leaves room for
// its icon.
class HTMLItemDelegate : public QStyledItemDelegate {
public:
    explicit HTMLItemDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Where the text of a cell of `column` starts, from the cell's top left.
    static QPoint textOffset(int column);

private:
    // Shortens a text wider than `width` to what fits, ending in an ellipsis.
    static void elide(QTextDocument *document, const QFont &font, int width);
};
