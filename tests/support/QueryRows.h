#pragma once

#include <QSqlQuery>
#include <QStringList>

// The rows an executed query has left to give, each with its columns joined
// by "|": a whole result compares in one QCOMPARE.
QStringList joinedRows(QSqlQuery &query);

// Every row of `sql` run on the client's mirror, as above; "ERROR" first when
// the statement fails.
QStringList mirrorRows(const QString &sql);
