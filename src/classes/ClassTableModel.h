#pragma once

#include <QSqlTableModel>
#include <QString>

class QTableView;

// The classes of one profile as mirrored in `folders`, for a list that shows
// their names only. It reads nothing until reload(); callers open the
// database around every call that reads, and the rows are read in full so
// that they outlive its closing.
class ClassTableModel : public QSqlTableModel {
    Q_OBJECT
public:
    ClassTableModel(QObject *parent, const QSqlDatabase &db, const QString &idBuckets);

    // The name column only, as wide as the view, not editable.
    void showIn(QTableView *view);
    // Narrows the list to the names containing `text` (all when empty); once
    // loaded, it re-reads at once.
    void filterByName(const QString &text);
    void reload();

    enum Column { Id = 0, Name = 1 };

private:
    void fetchAll();

    QString idBuckets;
};
