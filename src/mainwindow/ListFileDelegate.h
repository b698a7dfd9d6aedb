#pragma once

#include "mainwindow/FileListQuery.h"

#include <QAbstractTableModel>
#include <QString>

class QSqlQuery;

// The document list's model: the rows of a list statement, with the
// full path shown as file name (column 1) and folder (column 3), the
// local-copy icon beside the file name, and the search text marked in the
// visible text columns for HTMLItemDelegate.
class ListFileDelegate : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Hash = 0, FileName = 1, Folder = 3, Date = 5, Token = 6, FolderId = 7, Columns = 8 };

    explicit ListFileDelegate(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    // Under the edit role, a cell's value as stored.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void setRows(FileListQuery::Rows rows);
    // Every row of an executed list statement.
    void setQuery(QSqlQuery &&query);

    // The search text to mark; empty marks nothing.
    QString highlightText;

    // Markup around a marked piece of text.
    static QString highlight(const QString &piece);
    // `text` as rich text with every occurrence of `search` (ignoring case)
    // marked with the letters of its first occurrence.
    static QString markText(const QString &text, const QString &search);
    // A stored path with "\" and "/" both taken as separators, written with
    // the platform's separator.
    static QString normalisedPath(const QString &path);

private:
    QVariant localCopyIcon(int row) const;
    QString raw(int row, int column) const;

    FileListQuery::Rows m_rows;
};
