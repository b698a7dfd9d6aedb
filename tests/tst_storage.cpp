#include "QueryRows.h"
#include "TestHome.h"
#include "TestMain.h"
#include "storage/Database.h"
#include "storage/Setting.h"

#include <QSqlQuery>

#include <sys/stat.h>

static int modeOf(const QString &path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

class TestStorage : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qunsetenv("QUILLORA_SERVICE_URL"); }

    // Other versions are rebuilt from the service: settings kept, but not the address.
    void mirrorVersion_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("kept");
        QTest::newRow("current") << "SELECT 1" << true;
        QTest::newRow("older") << "UPDATE dbversion SET version = '13'" << false;
        QTest::newRow("no version table") << "DROP TABLE dbversion" << false;
    }
    void mirrorVersion() {
        QFETCH(QString, damage);
        QFETCH(bool, kept);
        const TestHome home;
        Database database;
        QVERIFY(database.open());
        for (const QString &sql :
             QStringList{"INSERT INTO files (hash) VALUES ('h1')",
                         "INSERT INTO settings VALUES ('username', 'anna')",
                         "UPDATE settings SET value = 'x' WHERE key = 'url'", damage})
            QVERIFY(QSqlQuery(database.db).exec(sql));
        database.close();
        QCOMPARE(mirrorRows("SELECT hash FROM files"), kept ? QStringList{"h1"} : QStringList{});
        QCOMPARE(mirrorRows("SELECT version FROM dbversion"), QStringList{"14"});
        QCOMPARE(
            mirrorRows("SELECT key, value FROM settings ORDER BY key"),
            (QStringList{"url|" + (kept ? QString("x") : QUILLORA_DEFAULT_URL), "username|anna"}));
    }
    // A nested open must not reopen (and so drop) the outer transaction, and close commits it,
    // even while the search's own connection is in mid-statement; its log is the owner's only.
    void connectionsNeitherDropNorHoldUpEachOthersWork() {
        const TestHome home;
        Database outer, inner;
        QSqlDatabase reader = QSqlDatabase::addDatabase("QSQLITE", "reader");
        reader.setDatabaseName(Database::filePath());
        QSqlQuery scan(reader);
        QVERIFY(outer.open() && reader.open() && scan.exec("SELECT key FROM settings") &&
                scan.next() && outer.db.transaction());
        QVERIFY(QSqlQuery(outer.db).exec("INSERT INTO buckets (idbuckets) VALUES ('B1')"));
        QVERIFY(inner.open());
        QVERIFY(QSqlQuery(inner.db).exec("INSERT INTO buckets (idbuckets) VALUES ('B2')"));
        outer.close();
        QCOMPARE(mirrorRows("SELECT idbuckets FROM buckets ORDER BY 1"), (QStringList{"B1", "B2"}));
        QCOMPARE(modeOf(home.databaseFile() + "-wal"), 0600);
    }
    // Remembered passwords are kept in clear: owner only, even if loosened since.
    void onlyTheOwnerReachesTheMirror() {
        const TestHome home;
        const QByteArray dir = QFile::encodeName(home.dataDir());
        const QByteArray file = QFile::encodeName(home.databaseFile());
        for (bool loosened : {false, true}) {
            QVERIFY(!loosened || (::chmod(dir, 0755) == 0 && ::chmod(file, 0644) == 0));
            Database database;
            QVERIFY(database.open());
            database.close();
            QCOMPARE(modeOf(home.dataDir()), 0700);
            QCOMPARE(modeOf(home.databaseFile()), 0600);
        }
    }
    void unopenableLocationFailsQuietly() {
        const TestHome home;
        QFile blocker(home.dataDir()); // the directory's name taken by a file
        QVERIFY(blocker.open(QIODevice::WriteOnly) && blocker.write("dati") == 4);
        blocker.close();
        for (int i = 0; i < 4; ++i)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Db nn aperto: \\S"));
        QVERIFY(!Database().open());
        Setting setting;
        setting.setValue("username", "anna");
        setting.removeValue("username");
        QCOMPARE(setting.value("url"), QString());
        QVERIFY(blocker.open(QIODevice::ReadOnly) && blocker.readAll() == "dati");
    }
    void settingsSeenByOtherObjects() {
        const TestHome home;
        Setting writer, reader;
        writer.setValue("username", "anna");
        writer.setValue("password", "segreta");
        QCOMPARE(reader.value("username"), QStringLiteral("anna"));
        reader.setValue("username", QStringLiteral("bruno è qui"));
        reader.removeValue("password");
        QCOMPARE(writer.value("username"), QStringLiteral("bruno è qui"));
        QCOMPARE(mirrorRows("SELECT key FROM settings ORDER BY key"),
                 (QStringList{"url", "username"}));
    }
    // The service address is set from the environment or by hand; either way
    // only its trailing slashes go.
    void urlLosesTrailingSlashesOnly_data() {
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        const auto row = [](const char *name, const char *env, const char *key, const char *value,
                            const char *stored) {
            QTest::newRow(name) << QByteArray(env) << key << QString(value) << stored;
        };
        row("url", nullptr, "url", "https://a.example/b//", "https://a.example/b");
        row("inner slash", nullptr, "url", "https://a.example/b", "https://a.example/b");
        row("other key", nullptr, "proxyUrl", "proxy.local//", "proxy.local//");
        row("environment", "http://host/o'brien//", "url", nullptr, "http://host/o'brien");
        row("empty environment", "", "url", nullptr, QUILLORA_DEFAULT_URL);
    }
    void urlLosesTrailingSlashesOnly() {
        QFETCH(QByteArray, environment);
        QFETCH(QString, key);
        QFETCH(QString, value);
        if (!environment.isNull())
            qputenv("QUILLORA_SERVICE_URL", environment);
        const TestHome home;
        if (!value.isNull())
            Setting().setValue(key, value);
        QTEST(Setting().value(key), "stored");
    }
};

QUILLORA_TEST_MAIN(TestStorage)
#include "tst_storage.moc"
