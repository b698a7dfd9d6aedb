#include "MetaDataDetailDelegate.h"

#include <QColor>

namespace {
constexpr int kValueColumn = 2;
}

MetaDataDetailDelegate::MetaDataDetailDelegate(QObject *parent)
    : QSqlQueryModel(parent) {}

QVariant MetaDataDetailDelegate::data(const QModelIndex &index, int role) const {
    if (!index.isValid())
        return QVariant();
    if (role == Qt::BackgroundRole && index.column() == kValueColumn && !highlightText.isEmpty() &&
        QSqlQueryModel::data(index, Qt::DisplayRole)
            .toString()
            .contains(highlightText, Qt::CaseInsensitive))
        return QColor(Qt::yellow);
    // Text only where text is expected: a view reads any non-null value under
    // a style role (a check state, a font) as meant for it.
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return QSqlQueryModel::data(index, role).toString();
    return QSqlQueryModel::data(index, role);
}
