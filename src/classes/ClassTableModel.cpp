#include "classes/ClassTableModel.h"

#include "classes/ClassFilter.h"

#include <QHeaderView>
#include <QTableView>

ClassTableModel::ClassTableModel(QObject *parent, const QSqlDatabase &db, const QString &idBuckets)
    : QSqlTableModel(parent, db)
    , idBuckets(idBuckets) {
    setTable(QStringLiteral("folders"));
    setFilter(ClassFilter::tableFilter(database(), idBuckets, QString()));
    const QStringList headers = {tr("ID"),     tr("Classe"),    tr("Gruppi"),
                                 tr("Custom"), tr("IDBuckets"), tr("IDPolicies")};
    for (int column = 0; column < headers.size(); ++column)
        setHeaderData(column, Qt::Horizontal, headers.at(column));
}

void ClassTableModel::showIn(QTableView *view) {
    view->setModel(this);
    for (int column = 0; column < columnCount(); ++column)
        view->setColumnHidden(column, column != Name);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
}

void ClassTableModel::filterByName(const QString &text) {
    setFilter(ClassFilter::tableFilter(database(), idBuckets, text));
    fetchAll();
}

void ClassTableModel::reload() {
    select();
    fetchAll();
}

void ClassTableModel::fetchAll() {
    while (canFetchMore())
        fetchMore();
}
