#pragma once

#include <QSqlDatabase>
#include <QString>

class QSqlQuery;

// The statements that list a profile's classes by group and by name. Every
// text reaches SQLite as a value, never as SQL, and a text typed by the user
// matches literally: "%" and "_" are letters, not wildcards. Matching is by
// containment, case-insensitive for ASCII letters (SQLite's LIKE).
namespace ClassFilter {

// A LIKE pattern, for use with ESCAPE '\', that matches any text containing
// `text`.
QString containing(const QString &text);

// A WHERE clause over `folders` (for a table model's filter): the classes of
// `idBuckets`, and, when `nameText` is not empty, only those whose name
// contains it. The values are quoted by the database's driver.
QString tableFilter(const QSqlDatabase &db, const QString &idBuckets, const QString &nameText);

// Runs "SELECT idfolder, name FROM folders" for the classes of `idBuckets`
// whose group contains `group` (every group when empty) and whose name
// contains `nameText` (every name when empty).
bool selectClasses(QSqlQuery &query, const QString &idBuckets, const QString &group,
                   const QString &nameText);

// Runs the group list: "Tutti" first, then each distinct group of the profile
// in ascending order.
bool selectGroups(QSqlQuery &query, const QString &idBuckets);

} // namespace ClassFilter
