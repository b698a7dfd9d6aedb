#include "Database.h"

#include "SearchIndex.h"
#include "ServiceUrl.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace {

const char *const connectionName = "quilloralite";
const char *const schemaVersion = "14";

QStringList schemaStatements() {
    // The url goes into a quoted SQL literal: a quote in an address taken from
    // the environment must not break or extend the statement.
    QString url = ServiceUrl::defaultUrl();
    url.replace(QLatin1Char('\''), QLatin1String("''"));
    return {
        QStringLiteral("DROP TABLE IF EXISTS dbversion"),
        QStringLiteral("CREATE TABLE dbversion (version text)"),
        QStringLiteral("INSERT INTO dbversion (version) VALUES (") + QLatin1String(schemaVersion) +
            QStringLiteral(")"),
        QStringLiteral(
            "CREATE TABLE IF NOT EXISTS settings (key text, value text, PRIMARY KEY(key))"),
        QStringLiteral("INSERT OR REPLACE INTO settings (key, value) VALUES ('url', '") + url +
            QStringLiteral("')"),
        QStringLiteral("DROP TABLE IF EXISTS buckets"),
        QStringLiteral("CREATE TABLE buckets (idbuckets text, description text, quota int, used "
                       "int, unit text, div int, PRIMARY KEY(idbuckets))"),
        QStringLiteral("DROP TABLE IF EXISTS policies"),
        QStringLiteral("CREATE TABLE policies (idpolicies text, idbuckets text, description text, "
                       "PRIMARY KEY(idpolicies, idbuckets))"),
        QStringLiteral("DROP TABLE IF EXISTS folders"),
        QStringLiteral("CREATE TABLE folders (idfolder int, name text, groups text, custom int, "
                       "idbuckets text, idpolicies text, PRIMARY KEY(idfolder))"),
        QStringLiteral("DROP TABLE IF EXISTS metadati"),
        QStringLiteral("CREATE TABLE metadati (idmetadato INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "idfolder int, nome text, tipo int DEFAULT 0, visibile int DEFAULT 0, "
                       "required int DEFAULT 0, custom int DEFAULT 0)"),
        QStringLiteral("DROP TABLE IF EXISTS tipo_metadato"),
        QStringLiteral("CREATE TABLE tipo_metadato (id int, value text, PRIMARY KEY(id))"),
        QStringLiteral("INSERT INTO tipo_metadato (id, value) VALUES (1, 'Testo')"),
        QStringLiteral("INSERT INTO tipo_metadato (id, value) VALUES (2, 'Numerico')"),
        QStringLiteral("INSERT INTO tipo_metadato (id, value) VALUES (3, 'Data')"),
        QStringLiteral("DROP TABLE IF EXISTS tipo_required"),
        QStringLiteral("CREATE TABLE tipo_required (id int, value text, PRIMARY KEY(id))"),
        QStringLiteral("INSERT INTO tipo_required (id, value) VALUES (0, 'Facoltativo')"),
        QStringLiteral("INSERT INTO tipo_required (id, value) VALUES (1, 'Obbligatorio')"),
        QStringLiteral("DROP TABLE IF EXISTS stato_metadato"),
        QStringLiteral("CREATE TABLE stato_metadato (id int, value text, PRIMARY KEY(id))"),
        QStringLiteral("INSERT INTO stato_metadato (id, value) VALUES (1, 'Visibile')"),
        QStringLiteral("INSERT INTO stato_metadato (id, value) VALUES (0, 'Invisibile')"),
        QStringLiteral("DROP TABLE IF EXISTS files"),
        QStringLiteral("CREATE TABLE files (hash text, hash4k text, last_modified text, fullpath "
                       "text, token text, folderid int, username text, tsupdate real, idbuckets "
                       "text, tsconserve text, computer_name text, PRIMARY KEY(hash, folderid))"),
        QStringLiteral("DROP TABLE IF EXISTS metadati_values"),
        QStringLiteral("CREATE TABLE metadati_values (id INTEGER primary key, idmetadata int, "
                       "value text, hash text)"),
        QStringLiteral(
            "CREATE UNIQUE INDEX metadati_values_index ON metadati_values (idmetadata, hash)"),
        QStringLiteral(
            "CREATE VIEW metadati_values_complete as select hash,'' as key, folders.name as value "
            "from folders join files on (folderid=idfolder) union select hash, '' as key, "
            "computer_name as value from files union select hash, '' as key, fullpath as value "
            "from files union select hash, nome as key, value from metadati_values INNER JOIN "
            "metadati on metadati.idmetadato = metadati_values.idmetadata"),
    };
}

QString dataDirectory() {
    const QString organisation = QStringLiteral("Marvessa Spa");
    QCoreApplication::setOrganizationName(organisation);
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, organisation,
                             QCoreApplication::applicationName());
    QString path = QFileInfo(settings.fileName()).absolutePath();
    path.remove(organisation, Qt::CaseSensitive);
    path += QDir::separator() + QStringLiteral("QuilloraLite");
    QCoreApplication::setOrganizationName(QString());
    // Removing the organisation can leave an empty path component behind.
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::fromNativeSeparators(path)));
}

// Without a keychain the mirror holds the remembered passwords in clear text,
// and it is the user's own data anyway: only the owner may reach the
// directory and the file.
void restrictToOwner(const QString &path) {
    constexpr QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    const QFile::Permissions current = QFile::permissions(path);
    if (current & others)
        QFile::setPermissions(path, current & ~others);
}

void makeDataDirectory(const QString &dir) {
    const QFileInfo info(dir);
    if (!info.exists()) {
        QDir().mkpath(info.absolutePath());
        QDir().mkdir(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    } else if (info.isDir()) {
        restrictToOwner(dir);
    }
}

// Created empty before SQLite sees it, so the file never exists with the
// default, world-readable mode.
void makeDatabaseFile(const QString &file) {
    const QFileInfo info(file);
    if (!info.exists()) {
        QFile empty(file);
        empty.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner);
    } else if (info.isFile()) {
        restrictToOwner(file);
    }
}

QString fileIn(const QString &dir) {
    return dir + QDir::separator() + QStringLiteral("quilloralite.db");
}

} // namespace

Database::Database(QObject *parent)
    : QObject(parent) {}

QString Database::filePath() {
    return fileIn(dataDirectory());
}

sqlite3 *Database::sqliteHandle(const QSqlDatabase &db) {
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(handle.constData());
    return nullptr;
}

bool Database::open() {
    const QString dir = dataDirectory();
    makeDataDirectory(dir);
    const QString file = fileIn(dir);
    makeDatabaseFile(file);

    const QString name = QLatin1String(connectionName);
    db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                      : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    // Reopening an already open file would only throw away the statements and
    // the transaction of whoever opened it first.
    if (!db.isOpen() || db.databaseName() != file) {
        db.setDatabaseName(file);
        if (!db.open()) {
            qDebug().noquote() << QStringLiteral("Db nn aperto: ") + db.lastError().driverText();
            return false;
        }
        // The search reads on a connection of its own while this one writes:
        // neither may make the other wait or fail.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        // The log of a large synchronisation is not kept at its size for ever.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_size_limit = 8388608"));
    }
    checkVersion();
    SearchIndex::ensure(db);
    return true;
}

void Database::close() {
    // COMMIT without a transaction fails harmlessly.
    if (db.isOpen())
        db.commit();
    db.close();
}

void Database::checkVersion() {
    QString version = QStringLiteral("0");
    {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT version FROM dbversion")) && query.next())
            version = query.value(0).toString();
    }
    if (version != QLatin1String(schemaVersion))
        createTables();
}

void Database::createTables() {
    QSqlQuery query(db);
    for (const QString &statement : schemaStatements())
        query.exec(statement);
    // Dropping the tables dropped the index's triggers with them.
    SearchIndex::ensure(db);
}
