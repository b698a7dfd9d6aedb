#pragma once

#include <QObject>
#include <QSqlDatabase>

struct sqlite3;

// The per-user SQLite mirror of the account and the settings table. Every use
// is framed by open() and close(); all Database objects share one named
// connection.
class Database : public QObject {
    Q_OBJECT
public:
    explicit Database(QObject *parent = nullptr);

    // Makes sure the data directory and the file exist, opens the shared
    // connection and brings the schema to the current version. False (with a
    // debug message) when the file cannot be opened.
    bool open();
    // The mirror's file, for a connection of another thread.
    static QString filePath();
    // The library's own handle of a connection, null when it is not SQLite's.
    static sqlite3 *sqliteHandle(const QSqlDatabase &db);
    // Commits a transaction left open, then closes the connection.
    void close();
    // Re-creates the schema when the stored version is not the current one.
    void checkVersion();
    // Drops and re-creates the mirror; the settings survive except "url".
    void createTables();

    QSqlDatabase db;
};
