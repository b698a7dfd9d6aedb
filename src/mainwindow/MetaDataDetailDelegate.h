#pragma once

#include <QSqlQueryModel>
#include <QString>

// The details table's model: a document's record data and field values
// (columns id, key, value, hash), with the values that contain the search
// text on a yellow background.
class MetaDataDetailDelegate : public QSqlQueryModel {
    Q_OBJECT
public:
    explicit MetaDataDetailDelegate(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The search text; empty colours nothing.
    QString highlightText;
};
