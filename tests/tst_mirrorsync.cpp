#include "TestHome.h"
#include "service/MirrorSync.h"
#include "storage/Database.h"
#include "storage/SearchIndex.h"

#include <QDomDocument>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {

QStringList rows(const QString &sql) {
    QStringList out;
    Database database;
    database.open();
    {
        QSqlQuery q(database.db);
        if (!q.exec(sql))
            out << QStringLiteral("ERROR");
        while (q.next()) {
            QStringList columns;
            for (int i = 0; i < q.record().count(); ++i)
                columns << q.value(i).toString();
            out << columns.join(QLatin1Char('|'));
        }
    }
    database.close();
    return out;
}

// A synchronisation body of `documents` documents numbered from `first`, each
// with `values` field values; `tag` goes into every text, so that a body
// sent again with another tag replaces the texts of the same rows.
QString body(int first, int documents, int values, const QString &user, const QString &tag) {
    QString xml = QStringLiteral("<body><bucket id=\"B1\"/><folder id=\"1\" name=\"Fatture\" "
                                 "idbuckets=\"B1\"><metadato idmetadato=\"1\" idfolder=\"1\"/>"
                                 "</folder>");
    for (int d = first; d < first + documents; ++d) {
        const QString hash = QStringLiteral("h%1").arg(d);
        xml += QStringLiteral("<file hash=\"%1\" idfolder=\"1\" token=\"T\" username=\"%2\" "
                              "filename=\"C:/doc/%3-%1.pdf\" computer_name=\"pc-%3\">")
                   .arg(hash, user, tag);
        for (int v = 0; v < values; ++v)
            xml += QStringLiteral("<metadatoValue key=\"%1\" hash=\"%2\" value=\"%3 valore %1 "
                                  "di %2 è\"/>")
                       .arg(QString::number(v), hash, tag);
        xml += QStringLiteral("</file>");
    }
    return xml + QStringLiteral("</body>");
}

bool apply(const QString &xml) {
    QDomDocument document;
    if (!document.setContent(xml))
        return false;
    MirrorSync mirror;
    return mirror.apply(document.documentElement());
}

// The index holds exactly the texts of the rows under their rowids (what the
// triggers keep), FTS5 finds its own structure sound, and the triggers are
// there again for ordinary writes.
void verifyIndexInStep() {
    QCOMPARE(rows(QStringLiteral("SELECT rowid, computer_name, fullpath FROM search_files ORDER "
                                 "BY rowid")),
             rows(QStringLiteral("SELECT rowid, computer_name, fullpath FROM files ORDER BY "
                                 "rowid")));
    QCOMPARE(rows(QStringLiteral("SELECT rowid, value FROM search_values ORDER BY rowid")),
             rows(QStringLiteral("SELECT id, value FROM metadati_values ORDER BY id")));
    QCOMPARE(rows(QStringLiteral("INSERT INTO search_values (search_values) VALUES "
                                 "('integrity-check')")),
             QStringList());
    QCOMPARE(rows(QStringLiteral("INSERT INTO search_files (search_files) VALUES "
                                 "('integrity-check')")),
             QStringList());
    // The vocabulary follows the index, not a copy of the texts.
    QCOMPARE(rows(QStringLiteral("SELECT count(*) FROM metadati_values WHERE value LIKE "
                                 "'%zzq%'")),
             rows(QStringLiteral("SELECT coalesce(sum(doc), 0) FROM search_values_vocab WHERE "
                                 "term = 'zzq'")));
    Database database;
    database.open();
    QVERIFY(SearchIndex::isReady(database.db));
    database.close();
}

QString count(const char *table) {
    return rows(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))).value(0);
}

} // namespace

class TestMirrorSync : public QObject {
    Q_OBJECT
private slots:
    // Large bodies are indexed in one pass after the rows; small ones by the
    // triggers. Either way the index must end up what the triggers make.
    void bulkIndexMatchesTheRows() {
        TestHome home;
        QVERIFY(apply(body(0, 700, 8, QStringLiteral("anna"), QStringLiteral("zzq"))));
        QCOMPARE(count("metadati_values"), QStringLiteral("5600"));
        verifyIndexInStep();

        // Small: triggers, some rows replaced.
        QVERIFY(apply(body(690, 20, 8, QStringLiteral("anna"), QStringLiteral("uno"))));
        QCOMPARE(count("files"), QStringLiteral("710"));
        verifyIndexInStep();

        // Large, a few rows replaced among many new ones.
        QVERIFY(apply(body(650, 800, 8, QStringLiteral("anna"), QStringLiteral("due"))));
        QCOMPARE(count("files"), QStringLiteral("1450"));
        QCOMPARE(count("metadati_values"), QStringLiteral("11600"));
        verifyIndexInStep();

        // Large, every row replaced (a login's second pass).
        QVERIFY(apply(body(0, 1450, 8, QStringLiteral("anna"), QStringLiteral("zzq"))));
        QCOMPARE(count("metadati_values"), QStringLiteral("11600"));
        verifyIndexInStep();

        // Ordinary writes after a bulk pass still reach the index.
        MirrorSync().clearOtherUserData(QStringLiteral("mario"));
        QCOMPARE(count("files"), QStringLiteral("0"));
        verifyIndexInStep();
        QVERIFY(apply(body(5, 900, 7, QStringLiteral("mario"), QStringLiteral("tre"))));
        verifyIndexInStep();
    }

    void bulkSyncFailingLeavesMirrorAndIndexAsTheyWere() {
        TestHome home;
        QVERIFY(apply(body(0, 30, 3, QStringLiteral("anna"), QStringLiteral("zzq"))));
        const auto snapshot = [] {
            return rows(QStringLiteral("SELECT rowid, value FROM search_values ORDER BY rowid")) +
                   rows(QStringLiteral("SELECT name FROM sqlite_master ORDER BY name")) +
                   rows(QStringLiteral("SELECT * FROM metadati_values ORDER BY id"));
        };
        // The values come last: their failure undoes everything, the dropped
        // triggers included.
        QVERIFY(rows(QStringLiteral("CREATE TRIGGER broken AFTER INSERT ON metadati_values WHEN "
                                    "new.hash = 'h900' BEGIN INSERT INTO no_such_table VALUES "
                                    "(1); END"))
                    .isEmpty());
        const QStringList before = snapshot();
        QVERIFY(!apply(body(0, 1000, 8, QStringLiteral("anna"), QStringLiteral("due"))));
        QCOMPARE(snapshot(), before);
        verifyIndexInStep();
    }
};

QTEST_MAIN(TestMirrorSync)
#include "tst_mirrorsync.moc"
