#include "QueryRows.h"
#include "ServiceFixture.h"
#include "ServiceXml.h"
#include "TestHome.h"
#include "service/DomWalk.h"
#include "service/MirrorSync.h"
#include "service/QVWConn.h"
#include "service/ReplyEnvelope.h"
#include "storage/Database.h"
#include "storage/SearchIndex.h"

#include <QDomDocument>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>

namespace {

// The content of a synchronisation body: `documents` documents numbered from `first`, each
// with `values` field values; `tag` goes into every text, so that a body
// sent again with another tag replaces the texts of the same rows.
QString body(int first, int documents, int values, const QString &user, const QString &tag) {
    QString xml = QStringLiteral("<bucket id=\"B1\"/><folder id=\"1\" name=\"Fatture\" "
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
    return xml;
}

bool apply(const QString &inner) {
    QDomDocument document;
    if (!document.setContent(QStringLiteral("<body>") + inner + QStringLiteral("</body>")))
        return false;
    MirrorSync mirror;
    return mirror.apply(document.documentElement());
}

// The index holds exactly the texts of the rows under their rowids (what the
// triggers keep), FTS5 finds its own structure sound, and the triggers are
// there again for ordinary writes.
void verifyIndexInStep() {
    QCOMPARE(
        mirrorRows(QStringLiteral("SELECT rowid, computer_name, fullpath FROM search_files ORDER "
                                  "BY rowid")),
        mirrorRows(QStringLiteral("SELECT rowid, computer_name, fullpath FROM files ORDER BY "
                                  "rowid")));
    QCOMPARE(mirrorRows(QStringLiteral("SELECT rowid, value FROM search_values ORDER BY rowid")),
             mirrorRows(QStringLiteral("SELECT id, value FROM metadati_values ORDER BY id")));
    QCOMPARE(mirrorRows(QStringLiteral("INSERT INTO search_values (search_values) VALUES "
                                       "('integrity-check')")),
             QStringList());
    QCOMPARE(mirrorRows(QStringLiteral("INSERT INTO search_files (search_files) VALUES "
                                       "('integrity-check')")),
             QStringList());
    // The vocabulary follows the index, not a copy of the texts.
    QCOMPARE(
        mirrorRows(QStringLiteral("SELECT count(*) FROM metadati_values WHERE value LIKE "
                                  "'%zzq%'")),
        mirrorRows(QStringLiteral("SELECT coalesce(sum(doc), 0) FROM search_values_vocab WHERE "
                                  "term = 'zzq'")));
    Database database;
    database.open();
    QVERIFY(SearchIndex::isReady(database.db));
    database.close();
}

QString count(const char *table) {
    return mirrorRows(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))).value(0);
}

// Everything a synchronisation writes, rowids and index included.
QStringList mirror() {
    QStringList out;
    for (const char *sql :
         {"SELECT * FROM buckets ORDER BY rowid", "SELECT * FROM policies ORDER BY rowid",
          "SELECT * FROM folders ORDER BY rowid", "SELECT * FROM metadati ORDER BY rowid",
          "SELECT rowid, quote(hash), quote(hash4k), quote(last_modified), quote(fullpath), "
          "quote(token), quote(folderid), quote(username), quote(tsupdate), quote(idbuckets), "
          "quote(tsconserve), quote(computer_name) FROM files ORDER BY rowid",
          "SELECT id, quote(idmetadata), quote(value), quote(hash) FROM metadati_values ORDER BY "
          "id",
          "SELECT rowid, * FROM search_files ORDER BY rowid",
          "SELECT rowid, * FROM search_values ORDER BY rowid"})
        out << QLatin1String(sql) << mirrorRows(QLatin1String(sql));
    return out;
}

// A tree as text, elements with their attributes and the texts that are not
// mere spacing, leaving out the elements named in `omit`.
QString outline(const QDomNode &root, const QStringList &omit = {}) {
    QString out;
    QDomNode node = root.firstChild();
    while (!node.isNull()) {
        if (node.isElement() && omit.contains(node.toElement().tagName())) {
            // Skip the subtree: on to the next node after it.
            QDomNode at = node;
            while (!at.isNull() && at != root && at.nextSibling().isNull()) {
                at = at.parentNode();
                if (at != root)
                    out += QStringLiteral("</>");
            }
            node = at.isNull() || at == root ? QDomNode() : at.nextSibling();
            continue;
        }
        if (node.isElement()) {
            const QDomElement e = node.toElement();
            out += QLatin1Char('<') + e.tagName();
            const QDomNamedNodeMap attributes = e.attributes();
            QStringList pairs;
            for (int i = 0; i < attributes.count(); ++i)
                pairs << attributes.item(i).nodeName() + QLatin1Char('=') +
                             attributes.item(i).nodeValue();
            pairs.sort();
            out += QLatin1Char(' ') + pairs.join(QLatin1Char(' ')) + QLatin1Char('>');
            if (!node.hasChildNodes())
                out += QStringLiteral("</>");
        } else if (node.isCharacterData() && !node.nodeValue().trimmed().isEmpty()) {
            out += QLatin1Char('[') + node.nodeValue() + QLatin1Char(']');
        }
        node = DomWalk::next(node, root, [&](const QDomNode &) { out += QStringLiteral("</>"); });
    }
    return out;
}

const char *const kEdgeBody =
    "<bucket id=\"B1\" description=\"Profilo &amp; co &lt;1&gt; &quot;q&quot;\" "
    "quota=\"100\"/><policie policie=\"P1\" idbucket=\"B1\"/>"
    "<!-- a comment --><folder id=\"1\" name=\"Fatture\" idbuckets=\"B1\">"
    "<metadato idmetadato=\"11\" idfolder=\"1\" name=\"Numero\" type=\"2\"/>"
    "<folder id=\"2\" name=\"Interna\"><metadato idmetadato=\"12\" idfolder=\"2\"/>"
    "<metadato idmetadato=\"11\" idfolder=\"9\" name=\"Doppio\"/></folder></folder>"
    "<folder id=\"1\" name=\"Doppia\"/><metadato idmetadato=\"99\" name=\"Fuori\"/>"
    "<folder id=\"x\"><![CDATA[testo]]></folder>"
    "<file hash=\"aaaa\" idfolder=\"1\" token=\"T1\" tsupdate=\"12.5\" username=\"anna\" "
    "filename=\"C:\\doc\\città.pdf\">\n  <metadatoValue key=\"11\" hash=\"aaaa\" "
    "value=\"primo\"/>\n  <metadatoValue key=\"11\" hash=\"aaaa\" value=\"ultimo &amp; "
    "vero\"/>\n</file><file hash=\"aaaa\" idfolder=\"1\" token=\"T2\"/>"
    "<file hash=\"bbbb\" idfolder=\"2\"><metadatoValue key=\"12\" hash=\"bbbb\"/></file>"
    "<metadatoValue key=\"x\" value=\"sciolto\"/><x:file xmlns:x=\"urn:x\" hash=\"zz\"/>"
    "<statusdescription>ok</statusdescription><body><file hash=\"cccc\"/></body>";

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

    // A reply read as it is parsed must leave exactly the mirror its document
    // tree leaves.
    void streamedReplyWritesWhatItsTreeWrites_data() {
        QTest::addColumn<QByteArray>("data");
        const QString ok = QStringLiteral("5");
        QTest::newRow("edge cases") << serviceReply(ok, QLatin1String(kEdgeBody));
        QTest::newRow("empty body") << serviceReply(ok, QString());
        QTest::newRow("no body") << QByteArray("<response>\n  <statusnumber>5</statusnumber>\n"
                                               "</response>\n");
        QTest::newRow("large") << serviceReply(
            ok, body(0, 800, 8, QStringLiteral("anna"), QStringLiteral("zzq")));
    }
    void streamedReplyWritesWhatItsTreeWrites() {
        QFETCH(QByteArray, data);
        const QString planted = body(790, 20, 2, QStringLiteral("anna"), QStringLiteral("old"));
        QStringList streamed;
        {
            TestHome home;
            QVERIFY(apply(planted));
            QVERIFY(MirrorSync().applyReply(data));
            streamed = mirror();
        }
        TestHome home;
        QVERIFY(apply(planted));
        QDomDocument document;
        QVERIFY(document.setContent(data));
        const QDomElement body =
            document.elementsByTagName(QStringLiteral("body")).item(0).toElement();
        QVERIFY(MirrorSync().apply(body));
        QCOMPARE(streamed, mirror());
        verifyIndexInStep();
    }

    void envelopeLeavesOutOnlyTheBodysDocumentsAndValues() {
        const QByteArray data =
            serviceReply(QStringLiteral("5"), QLatin1String(kEdgeBody)) + "\n<!-- after -->";
        const QByteArray envelope = ReplyEnvelope::strip(data);
        QVERIFY(!envelope.isNull());
        QVERIFY(envelope.size() < data.size());
        QDomDocument whole, small;
        QVERIFY(whole.setContent(data));
        QVERIFY(small.setContent(envelope));
        QVERIFY(!envelope.contains("metadatoValue"));
        // Outside the first body nothing goes.
        const QByteArray outside = QByteArray("<?xml version=\"1.0\"?><r><file a=\"1\"/><body>") +
                                   "<file/></body><body><file b=\"2\"/></body></r>";
        QDomDocument outsideWhole, outsideSmall;
        QVERIFY(outsideWhole.setContent(outside));
        QVERIFY(outsideSmall.setContent(ReplyEnvelope::strip(outside)));
        QCOMPARE(outline(outsideSmall),
                 QStringLiteral("<r ><file a=1></><body ></><body ><file b=2></></></>"));
        // The body's own file elements (the nested body is inside it) go.
        const QStringList data2 = {QStringLiteral("file"), QStringLiteral("metadatoValue")};
        QDomElement wholeBody = whole.elementsByTagName(QStringLiteral("body")).item(0).toElement();
        QDomElement smallBody = small.elementsByTagName(QStringLiteral("body")).item(0).toElement();
        QCOMPARE(outline(smallBody), outline(wholeBody, data2));
        // Around the body, the tree is the whole one.
        QCOMPARE(outline(small, {QStringLiteral("body")}),
                 outline(whole, {QStringLiteral("body")}));
        QVERIFY(outline(smallBody).contains(QStringLiteral("<x:file hash=zz xmlns:x=urn:x>")));
    }

    void envelopeIsNotMadeOfUnusualReplies_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("not xml") << QByteArray("<html><body><file></body>");
        QTest::newRow("plain text") << QByteArray("Service Unavailable");
        QTest::newRow("nothing to leave out")
            << serviceReply(QStringLiteral("5"), QStringLiteral("<folder id=\"1\"/>"));
        QTest::newRow("latin-1") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                               "<r><body><file/></body></r>");
        QTest::newRow("bad utf-8") << QByteArray("<r><body><file v=\"\xff\"/></body></r>");
        QTest::newRow("dtd") << QByteArray("<!DOCTYPE r [<!ENTITY e \"x\">]><r><body><file/>"
                                           "&e;</body></r>");
        QTest::newRow("text in a document") << QByteArray("<r><body><file>19</file></body></r>");
        QTest::newRow("status in a document")
            << QByteArray("<r><body><file><statusnumber>1</statusnumber></file></body></r>");
    }
    void envelopeIsNotMadeOfUnusualReplies() {
        QFETCH(QByteArray, data);
        QVERIFY(ReplyEnvelope::strip(data).isNull());
    }

    // The login dialog applies the login's body a second time after removing
    // another user's documents: the body it holds is the envelope, the rows
    // come back from the whole reply.
    void secondPassRestoresTheRowsTheEnvelopeLacks() {
        TestHome home;
        ServiceFixture fixture;
        QVERIFY2(fixture.isRunning(), qPrintable(fixture.errorString()));
        const TestAccount account =
            fixture.createAccount(QStringLiteral("anna"), QStringLiteral("segreta"), 3);
        QVERIFY(apply(body(0, 2, 2, QStringLiteral("mario"), QStringLiteral("suo"))));
        QNetworkCookieJar jar;
        QVWConn conn(&jar, false);
        QDomElement received;
        connect(&conn, &QVWConn::loginSuccessful, &conn,
                [&](const QDomElement &b) { received = b; });
        conn.login(account.user, account.password, true);
        QTRY_VERIFY_WITH_TIMEOUT(!received.isNull(), 60000);
        QCOMPARE(received.elementsByTagName(QStringLiteral("file")).count(), 0);
        QCOMPARE(received.elementsByTagName(QStringLiteral("folder")).count(), 2);
        QCOMPARE(count("files"), QStringLiteral("5"));
        const QStringList firstPass =
            mirrorRows(
                QStringLiteral("SELECT hash, token, username FROM files WHERE username = 'anna' "
                               "ORDER BY hash")) +
            mirrorRows(QStringLiteral(
                "SELECT idmetadata, value, hash FROM metadati_values WHERE hash "
                "IN (SELECT hash FROM files WHERE username = 'anna') ORDER BY 3, 1"));
        QCOMPARE(firstPass.size(), 3 + 9);

        conn.clearOtherUserData(account.user);
        QCOMPARE(count("files"), QStringLiteral("0"));
        QSignalSpy done(&conn, &QVWConn::syncCategorieOK);
        conn.onSyncFolder(received);
        QCOMPARE(done.count(), 1);
        QCOMPARE(
            mirrorRows(QStringLiteral("SELECT hash, token, username FROM files ORDER BY hash")) +
                mirrorRows(QStringLiteral("SELECT idmetadata, value, hash FROM metadati_values "
                                          "ORDER BY 3, 1")),
            firstPass);
        verifyIndexInStep();

        // A body of the caller's own is applied as it is.
        QDomDocument own;
        QVERIFY(own.setContent(QStringLiteral("<body><file hash=\"proprio\" idfolder=\"1\"/>"
                                              "</body>")));
        conn.onSyncFolder(own.documentElement());
        QCOMPARE(count("files"), QStringLiteral("4"));
        QCOMPARE(count("folders"), QStringLiteral("0"));
    }

    void bulkSyncFailingLeavesMirrorAndIndexAsTheyWere() {
        TestHome home;
        QVERIFY(apply(body(0, 30, 3, QStringLiteral("anna"), QStringLiteral("zzq"))));
        const auto snapshot = [] {
            return mirrorRows(
                       QStringLiteral("SELECT rowid, value FROM search_values ORDER BY rowid")) +
                   mirrorRows(QStringLiteral("SELECT name FROM sqlite_master ORDER BY name")) +
                   mirrorRows(QStringLiteral("SELECT * FROM metadati_values ORDER BY id"));
        };
        // The values come last: their failure undoes everything, the dropped
        // triggers included.
        QVERIFY(
            mirrorRows(QStringLiteral("CREATE TRIGGER broken AFTER INSERT ON metadati_values WHEN "
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
