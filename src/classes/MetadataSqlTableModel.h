#pragma once

#include <QSqlRelationalTableModel>

// The fields of a class with their type's name; the yes/no columns "Visibile"
// and "Obbligatorio" show a check mark for 1.
class MetadataSqlTableModel : public QSqlRelationalTableModel {
    Q_OBJECT
public:
    MetadataSqlTableModel(QObject *parent, const QSqlDatabase &db);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    enum Column { Visible = 4, Required = 5 };
};
