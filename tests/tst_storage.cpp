#include "QueryRows.h"
#include "TestHome.h"
#include "storage/Database.h"
#include "storage/Setting.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString defaultUrl = QStringLiteral(QUILLORA_DEFAULT_URL);

// The schema as it must read back from sqlite_master, in creation order
// (SQLite drops the "IF NOT EXISTS" of the settings table).
const QStringList expectedSchema = {
    QStringLiteral("CREATE TABLE dbversion (version text)"),
    QStringLiteral("CREATE TABLE settings (key text, value text, PRIMARY KEY(key))"),
    QStringLiteral("CREATE TABLE buckets (idbuckets text, description text, quota int, used int, "
                   "unit text, div int, PRIMARY KEY(idbuckets))"),
    QStringLiteral("CREATE TABLE policies (idpolicies text, idbuckets text, description text, "
                   "PRIMARY KEY(idpolicies, idbuckets))"),
    QStringLiteral("CREATE TABLE folders (idfolder int, name text, groups text, custom int, "
                   "idbuckets text, idpolicies text, PRIMARY KEY(idfolder))"),
    QStringLiteral("CREATE TABLE metadati (idmetadato INTEGER PRIMARY KEY AUTOINCREMENT, idfolder "
                   "int, nome text, tipo int DEFAULT 0, visibile int DEFAULT 0, required int "
                   "DEFAULT 0, custom int DEFAULT 0)"),
    QStringLiteral("CREATE TABLE tipo_metadato (id int, value text, PRIMARY KEY(id))"),
    QStringLiteral("CREATE TABLE tipo_required (id int, value text, PRIMARY KEY(id))"),
    QStringLiteral("CREATE TABLE stato_metadato (id int, value text, PRIMARY KEY(id))"),
    QStringLiteral("CREATE TABLE files (hash text, hash4k text, last_modified text, fullpath text, "
                   "token text, folderid int, username text, tsupdate real, idbuckets text, "
                   "tsconserve text, computer_name text, PRIMARY KEY(hash, folderid))"),
    QStringLiteral("CREATE TABLE metadati_values (id INTEGER primary key, idmetadata int, value "
                   "text, hash text)"),
    QStringLiteral(
        "CREATE UNIQUE INDEX metadati_values_index ON metadati_values (idmetadata, hash)"),
    QStringLiteral("CREATE VIEW metadati_values_complete as select hash,'' as key, folders.name "
                   "as value from folders join files on (folderid=idfolder) union select hash, '' "
                   "as key, computer_name as value from files union select hash, '' as key, "
                   "fullpath as value from files union select hash, nome as key, value from "
                   "metadati_values INNER JOIN metadati on metadati.idmetadato = "
                   "metadati_values.idmetadata"),
};

const QStringList mirrorTables = {QStringLiteral("buckets"), QStringLiteral("policies"),
                                  QStringLiteral("folders"), QStringLiteral("metadati"),
                                  QStringLiteral("files"),   QStringLiteral("metadati_values")};

int modeOf(const QString &path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// Every row of a query, columns joined with "|".
QStringList rows(const QSqlDatabase &db, const QString &sql) {
    QSqlQuery query(db);
    if (!query.exec(sql))
        return {QStringLiteral("error: ") + query.lastError().text()};
    return joinedRows(query);
}

bool exec(const QSqlDatabase &db, const QString &sql) {
    QSqlQuery query(db);
    return query.exec(sql);
}

// One row in each mirror table, joined so the search view sees them.
void fillMirror(const QSqlDatabase &db) {
    QVERIFY(exec(db, "INSERT INTO buckets VALUES ('B1', 'Profilo uno', 100, 10, 'MB', 1)"));
    QVERIFY(exec(db, "INSERT INTO policies VALUES ('P1', 'B1', 'Standard')"));
    QVERIFY(
        exec(db, "INSERT INTO folders VALUES (7, 'Fatture', 'Amministrazione', 0, 'B1', 'P1')"));
    QVERIFY(exec(db, "INSERT INTO metadati (idmetadato, idfolder, nome, tipo) "
                     "VALUES (3, 7, 'Cliente', 1)"));
    QVERIFY(exec(db, "INSERT INTO files (hash, fullpath, token, folderid, username, computer_name) "
                     "VALUES ('h1', '/home/anna/fattura-42.pdf', 'T1', 7, 'anna', 'PC-UFFICIO')"));
    QVERIFY(exec(db, "INSERT INTO metadati_values (idmetadata, value, hash) "
                     "VALUES (3, 'Rossi Srl', 'h1')"));
}

const QStringList lookupRows = {
    QStringLiteral("stato_metadato|0|Invisibile"), QStringLiteral("stato_metadato|1|Visibile"),
    QStringLiteral("tipo_metadato|1|Testo"),       QStringLiteral("tipo_metadato|2|Numerico"),
    QStringLiteral("tipo_metadato|3|Data"),        QStringLiteral("tipo_required|0|Facoltativo"),
    QStringLiteral("tipo_required|1|Obbligatorio")};

QStringList lookupTablesOf(const QSqlDatabase &db) {
    return rows(db, "SELECT 'tipo_metadato', id, value FROM tipo_metadato "
                    "UNION ALL SELECT 'tipo_required', id, value FROM tipo_required "
                    "UNION ALL SELECT 'stato_metadato', id, value FROM stato_metadato "
                    "ORDER BY 1, 2");
}

} // namespace

class TestStorage : public QObject {
    Q_OBJECT
private slots:
    void init() { qunsetenv("QUILLORA_SERVICE_URL"); }
    void cleanup() { qunsetenv("QUILLORA_SERVICE_URL"); }

    // --- First start and schema -------------------------------------------

    void firstOpenShowsFreshMirror() {
        TestHome home;
        QVERIFY(!QFileInfo::exists(home.dataDir()));
        Database database;
        QVERIFY(database.open());
        QCOMPARE(database.db.connectionName(), QStringLiteral("quilloralite"));
        QCOMPARE(database.db.driverName(), QStringLiteral("QSQLITE"));
        QCOMPARE(database.db.databaseName(), home.databaseFile());
        QVERIFY(!database.db.databaseName().contains(QStringLiteral("//")));
        QCOMPARE(modeOf(home.dataDir()), 0700);
        QCOMPARE(modeOf(home.databaseFile()), 0600);
        QCOMPARE(rows(database.db, "SELECT version, typeof(version) FROM dbversion"),
                 QStringList{"14|text"});
        QCOMPARE(rows(database.db, "SELECT key, value FROM settings"),
                 QStringList{"url|" + defaultUrl});
        QCOMPARE(lookupTablesOf(database.db), lookupRows);
        for (const QString &table : mirrorTables)
            QCOMPARE(rows(database.db, "SELECT count(*) FROM " + table), QStringList{"0"});
        database.close();
        QVERIFY(!database.db.isOpen());
        // SQLite's own side files follow the database file's mode.
        const QStringList leftovers =
            QDir(home.dataDir()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString &name : leftovers)
            QCOMPARE(modeOf(QDir(home.dataDir()).filePath(name)), 0600);
    }

    void schemaReadsBackAsCreated() {
        TestHome home;
        Database database;
        QVERIFY(database.open());
        // The search index (tst_doclist) comes on top of the schema.
        QCOMPARE(rows(database.db, "SELECT sql FROM sqlite_master WHERE sql IS NOT NULL "
                                   "AND name NOT LIKE 'sqlite_%' AND name NOT LIKE 'search_%' "
                                   "ORDER BY rowid"),
                 expectedSchema);
        database.close();
    }

    void createTablesRefillsLookupsOnce() {
        TestHome home;
        Database database;
        QVERIFY(database.open());
        fillMirror(database.db);
        database.createTables();
        database.createTables();
        QCOMPARE(lookupTablesOf(database.db), lookupRows);
        for (const QString &table : mirrorTables)
            QCOMPARE(rows(database.db, "SELECT count(*) FROM " + table), QStringList{"0"});
        // The view is not dropped; it keeps naming the re-created tables.
        fillMirror(database.db);
        QCOMPARE(rows(database.db, "SELECT count(DISTINCT hash) FROM metadati_values_complete"),
                 QStringList{"1"});
        database.close();
    }

    void serviceUrlFromEnvironment() {
        TestHome home;
        qputenv("QUILLORA_SERVICE_URL", "http://127.0.0.1:18443//");
        Setting setting;
        QCOMPARE(setting.value("url"), QStringLiteral("http://127.0.0.1:18443"));

        // A quote in the address is data, not SQL.
        qputenv("QUILLORA_SERVICE_URL", "http://host/o'brien");
        Database database;
        QVERIFY(database.open());
        database.createTables();
        QCOMPARE(rows(database.db, "SELECT value FROM settings WHERE key = 'url'"),
                 QStringList{"http://host/o'brien"});

        // Set but empty: the compiled-in default applies.
        qputenv("QUILLORA_SERVICE_URL", "");
        database.createTables();
        database.close();
        QCOMPARE(setting.value("url"), defaultUrl);
    }

    // --- Version rule -----------------------------------------------------

    void olderVersionIsRecreated() {
        TestHome home;
        Setting setting;
        setting.setValue("username", "anna");
        setting.setValue("proxyUrl", "proxy.local");
        setting.setValue("url", "https://altro.example");
        {
            Database database;
            QVERIFY(database.open());
            fillMirror(database.db);
            QVERIFY(exec(database.db, "UPDATE dbversion SET version = '13'"));
            database.close();
        }
        Database database;
        QVERIFY(database.open());
        QCOMPARE(rows(database.db, "SELECT version FROM dbversion"), QStringList{"14"});
        for (const QString &table : mirrorTables)
            QCOMPARE(rows(database.db, "SELECT count(*) FROM " + table), QStringList{"0"});
        QCOMPARE(lookupTablesOf(database.db), lookupRows);
        QCOMPARE(rows(database.db, "SELECT key, value FROM settings ORDER BY key"),
                 (QStringList{"proxyUrl|proxy.local", "url|" + defaultUrl, "username|anna"}));
        database.close();
    }

    void missingVersionTableIsRecreated() {
        TestHome home;
        Database database;
        QVERIFY(database.open());
        fillMirror(database.db);
        QVERIFY(exec(database.db, "DROP TABLE dbversion"));
        database.close();
        QVERIFY(database.open());
        QCOMPARE(rows(database.db, "SELECT version FROM dbversion"), QStringList{"14"});
        QCOMPARE(rows(database.db, "SELECT count(*) FROM files"), QStringList{"0"});
        database.close();
    }

    void currentVersionSurvivesManyOpens() {
        TestHome home;
        Setting setting;
        setting.setValue("url", "https://altro.example");
        {
            Database database;
            QVERIFY(database.open());
            fillMirror(database.db);
            database.close();
        }
        for (int i = 0; i < 20; ++i) {
            Database database;
            QVERIFY(database.open());
            QVERIFY(database.open()); // again on the open connection
            database.close();
        }
        Database database;
        QVERIFY(database.open());
        for (const QString &table : mirrorTables)
            QCOMPARE(rows(database.db, "SELECT count(*) FROM " + table), QStringList{"1"});
        QCOMPARE(rows(database.db, "SELECT count(*) FROM dbversion"), QStringList{"1"});
        database.close();
        QCOMPARE(setting.value("url"), QStringLiteral("https://altro.example"));
    }

    // --- Mirror contents --------------------------------------------------

    void searchViewFindsDocument_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("key");
        QTest::newRow("class name") << "Fattur"
                                    << "";
        QTest::newRow("computer name") << "UFFICIO"
                                       << "";
        QTest::newRow("path") << "fattura-42"
                              << "";
        QTest::newRow("field value") << "Rossi"
                                     << "Cliente";
    }

    void searchViewFindsDocument() {
        QFETCH(QString, word);
        QFETCH(QString, key);
        TestHome home;
        Database database;
        QVERIFY(database.open());
        fillMirror(database.db);
        // A second document that matches none of the words.
        QVERIFY(
            exec(database.db, "INSERT INTO folders VALUES (8, 'Contratti', '', 0, 'B1', 'P1')"));
        QVERIFY(exec(database.db, "INSERT INTO files (hash, fullpath, token, folderid, "
                                  "computer_name) VALUES ('h2', '/tmp/c.pdf', 'T2', 8, 'LAPTOP')"));
        QVERIFY(exec(database.db, "INSERT INTO metadati_values (idmetadata, value, hash) "
                                  "VALUES (3, 'Bianchi', 'h2')"));
        QSqlQuery query(database.db);
        QVERIFY(query.prepare(
            "SELECT DISTINCT hash, key FROM metadati_values_complete WHERE value LIKE ?"));
        query.addBindValue('%' + word + '%');
        QVERIFY(query.exec());
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("h1"));
        QCOMPARE(query.value(1).toString(), key);
        QVERIFY(!query.next());
        query.finish();
        database.close();
    }

    void fieldValueIsUniquePerDocument() {
        TestHome home;
        Database database;
        QVERIFY(database.open());
        fillMirror(database.db);
        QVERIFY(!exec(database.db, "INSERT INTO metadati_values (idmetadata, value, hash) "
                                   "VALUES (3, 'Verdi', 'h1')"));
        QVERIFY(exec(database.db,
                     "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) "
                     "VALUES (3, 'Verdi', 'h1')"));
        QCOMPARE(rows(database.db, "SELECT idmetadata, value, hash FROM metadati_values"),
                 QStringList{"3|Verdi|h1"});
        // Another document may carry the same field.
        QVERIFY(exec(database.db, "INSERT INTO metadati_values (idmetadata, value, hash) "
                                  "VALUES (3, 'Verdi', 'h2')"));
        database.close();
    }

    void closeCommitsOpenTransaction() {
        TestHome home;
        {
            Database database;
            QVERIFY(database.open());
            QVERIFY(database.db.transaction());
            QVERIFY(exec(database.db, "INSERT INTO buckets (idbuckets) VALUES ('B9')"));
            database.close();
        }
        Database database;
        QVERIFY(database.open());
        QCOMPARE(rows(database.db, "SELECT idbuckets FROM buckets"), QStringList{"B9"});
        database.close();
    }

    void nestedOpenKeepsOuterTransaction() {
        TestHome home;
        Database outer;
        QVERIFY(outer.open());
        QVERIFY(outer.db.transaction());
        QVERIFY(exec(outer.db, "INSERT INTO buckets (idbuckets) VALUES ('B1')"));
        Database inner;
        QVERIFY(inner.open());
        QCOMPARE(rows(inner.db, "SELECT idbuckets FROM buckets"), QStringList{"B1"});
        QVERIFY(exec(outer.db, "INSERT INTO buckets (idbuckets) VALUES ('B2')"));
        outer.close();
        QVERIFY(inner.open());
        QCOMPARE(rows(inner.db, "SELECT idbuckets FROM buckets ORDER BY 1"),
                 (QStringList{"B1", "B2"}));
        inner.close();
    }

    // --- File protection and failures -------------------------------------

    void looserModesCorrectedAtOpen() {
        TestHome home;
        Database database;
        QVERIFY(database.open());
        database.close();
        QVERIFY(::chmod(QFile::encodeName(home.dataDir()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(home.databaseFile()).constData(), 0644) == 0);
        QVERIFY(database.open());
        QCOMPARE(modeOf(home.dataDir()), 0700);
        QCOMPARE(modeOf(home.databaseFile()), 0600);
        database.close();
    }

    void existingEmptyFileGetsSchema() {
        TestHome home;
        QVERIFY(QDir().mkpath(home.dataDir()));
        QFile file(home.databaseFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(::chmod(QFile::encodeName(home.databaseFile()).constData(), 0666) == 0);
        Setting setting;
        QCOMPARE(setting.value("url"), defaultUrl);
        QCOMPARE(modeOf(home.databaseFile()), 0600);
        QCOMPARE(modeOf(home.dataDir()), 0700);
    }

    void unopenableLocationFailsQuietly() {
        TestHome home;
        // The data directory's name is taken by a plain file.
        QFile blocker(home.dataDir());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write("not a directory");
        blocker.close();
        QVERIFY(::chmod(QFile::encodeName(home.dataDir()).constData(), 0644) == 0);

        const QRegularExpression failure(QStringLiteral("^Db nn aperto: \\S"));
        Database database;
        QTest::ignoreMessage(QtDebugMsg, failure);
        QVERIFY(!database.open());
        database.close();

        Setting setting;
        QTest::ignoreMessage(QtDebugMsg, failure);
        QCOMPARE(setting.value("url"), QString());
        QTest::ignoreMessage(QtDebugMsg, failure);
        setting.setValue("username", "anna");
        QTest::ignoreMessage(QtDebugMsg, failure);
        setting.removeValue("username");

        QVERIFY(QFileInfo(home.dataDir()).isFile());
        QCOMPARE(modeOf(home.dataDir()), 0644);
        QVERIFY(blocker.open(QIODevice::ReadOnly));
        QCOMPARE(blocker.readAll(), QByteArray("not a directory"));
    }

    // --- Settings store ---------------------------------------------------

    void urlLosesTrailingSlashesOnly() {
        TestHome home;
        Setting setting;
        setting.setValue("url", "https://altro.example/base//");
        QCOMPARE(setting.value("url"), QStringLiteral("https://altro.example/base"));
        setting.setValue("proxyUrl", "proxy.local//");
        QCOMPARE(setting.value("proxyUrl"), QStringLiteral("proxy.local//"));
        setting.setValue("URL", "x/");
        QCOMPARE(setting.value("URL"), QStringLiteral("x/"));
    }

    void missingKeyReadsEmpty() {
        TestHome home;
        Setting setting;
        QCOMPARE(setting.value("password"), QString());
        QCOMPARE(setting.value(QString()), QString());
        // A key with SQL in it is just a key.
        setting.setValue("a'; DROP TABLE settings; --", "v");
        QCOMPARE(setting.value("a'; DROP TABLE settings; --"), QStringLiteral("v"));
        QCOMPARE(setting.value("url"), defaultUrl);
    }

    void writesSeenByOtherObjects() {
        TestHome home;
        Setting writer;
        Setting reader;
        writer.setValue("username", "anna");
        QCOMPARE(reader.value("username"), QStringLiteral("anna"));
        reader.setValue("username", QStringLiteral("bruno è qui"));
        QCOMPARE(writer.value("username"), QStringLiteral("bruno è qui"));
        writer.setValue("saveLogin", "");
        QCOMPARE(reader.value("saveLogin"), QString());
    }

    void removeValueDeletesKey() {
        TestHome home;
        Setting setting;
        setting.setValue("password", "segreta");
        setting.setValue("proxyPassword", "altra");
        setting.removeValue("password");
        QCOMPARE(setting.value("password"), QString());
        QCOMPARE(setting.value("proxyPassword"), QStringLiteral("altra"));
        Database database;
        QVERIFY(database.open());
        QCOMPARE(rows(database.db, "SELECT key FROM settings ORDER BY key"),
                 (QStringList{"proxyPassword", "url"}));
        database.close();
    }
};

QTEST_MAIN(TestStorage)
#include "tst_storage.moc"
