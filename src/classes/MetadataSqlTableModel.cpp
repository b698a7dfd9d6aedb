#include "classes/MetadataSqlTableModel.h"

#include <QPixmap>

namespace {

QPixmap checkMark() {
    return QPixmap(QStringLiteral(":/images/check.png"))
        .scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

MetadataSqlTableModel::MetadataSqlTableModel(QObject *parent, const QSqlDatabase &db)
    : QSqlRelationalTableModel(parent, db) {}

QVariant MetadataSqlTableModel::data(const QModelIndex &index, int role) const {
    const int column = index.column();
    if (column != Visible && column != Required)
        return QSqlRelationalTableModel::data(index, role);
    if (column == Required && role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole && role != Qt::DecorationRole)
        return QSqlRelationalTableModel::data(index, role);

    const bool yes = QSqlRelationalTableModel::data(index, Qt::EditRole).toInt() == 1;
    if (yes)
        return checkMark();
    return role == Qt::DisplayRole ? QVariant(QString())
                                   : QSqlRelationalTableModel::data(index, role);
}
