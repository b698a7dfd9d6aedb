#include "QueryRows.h"
#include "ServiceXml.h"
#include "TestHome.h"
#include "TestMain.h"
#include "service/MirrorSync.h"
#include "service/ReplyEnvelope.h"
#include "service/SyncParser.h"

#include <QDomDocument>
#include <QtTest>

// A reply of `documents` documents numbered from `first`, `values` values each; `tag` goes into
// every text, so a reply sent again with another tag rewrites the texts of the same rows.
static QByteArray reply(int first, int documents, int values, const QString &tag) {
    QString xml = QStringLiteral(R"(<folder id="1"><metadato idmetadato="1"/></folder>)");
    for (int d = first; d < first + documents; ++d) {
        xml += QStringLiteral(R"(<file hash="h%1" filename="%2%1" computer_name="%2"/>)")
                   .arg(QString::number(d), tag);
        for (int v = 0; v < values; ++v)
            xml += QStringLiteral(R"(<metadatoValue key="%1" hash="h%2" value="%3 %1 è"/>)")
                       .arg(QString::number(v), QString::number(d), tag);
    }
    return serviceReply(QStringLiteral("5"), xml);
}

// The index holds the rows' texts under their rowids, as the triggers keep it, and is sound.
static void verifyIndexInStep() {
    const auto rows = [](const char *sql) { return mirrorRows(QLatin1String(sql)); };
    QCOMPARE(rows("SELECT rowid, computer_name, fullpath FROM search_files ORDER BY rowid") +
                 rows("SELECT rowid, value FROM search_values ORDER BY rowid"),
             rows("SELECT rowid, computer_name, fullpath FROM files ORDER BY rowid") +
                 rows("SELECT id, value FROM metadati_values ORDER BY id"));
    QVERIFY(rows("INSERT INTO search_values (search_values) VALUES ('integrity-check')").isEmpty());
    QVERIFY(rows("INSERT INTO search_files (search_files) VALUES ('integrity-check')").isEmpty());
}

// Everything a synchronisation writes, rowids, index and triggers included.
static QStringList mirror() {
    QStringList out;
    for (const char *table : {"buckets", "policies", "folders", "metadati", "files",
                              "metadati_values", "search_files", "search_values", "sqlite_master"})
        out << mirrorRows(QStringLiteral("SELECT rowid, * FROM %1 ORDER BY 1").arg(table));
    return out;
}

// A reply as it arrives, a few bytes at a time (splitting characters and tokens).
static bool applyInSlices(const QByteArray &data, QByteArray *envelope) {
    SyncParser parser;
    for (qsizetype at = 0; at < data.size(); at += 7)
        parser.feed(data.mid(at, 7));
    parser.finish();
    *envelope = parser.envelope();
    return parser.commit();
}

class TestMirrorSync : public QObject {
    Q_OBJECT
private slots:
    // The newest stamp of the user's preserved documents, always as a plain decimal.
    void codeSyncIsAPlainDecimal_data() {
        QTest::addColumn<QString>("stamps");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << ""
                              << "0.0";
        QTest::newRow("whole") << "100000"
                               << "100000.0";
        QTest::newRow("milliseconds") << "1715000000.123"
                                      << "1715000000.123";
        QTest::newRow("newest") << "10 12.5 3"
                                << "12.5";
    }
    void codeSyncIsAPlainDecimal() {
        QFETCH(QString, stamps);
        TestHome home; // another user's and an unpreserved document are newer
        QString xml = R"(<file hash="o" token="T" username="luigi" tsupdate="9e9"/>
                         <file hash="u" token="" username="anna" tsupdate="9e9"/>)";
        for (const QString &stamp : stamps.split(' ', Qt::SkipEmptyParts))
            xml +=
                QString(R"(<file hash="%1" token="T" username="anna" tsupdate="%1"/>)").arg(stamp);
        QVERIFY(MirrorSync().applyReply(serviceReply("5", xml)));
        QTEST(MirrorSync().codeSync("anna"), "expected");
    }
    // Large bodies are indexed in one pass after the rows, small ones by the triggers: the index
    // must end up what the triggers make, and a failed bulk pass undo rows, index and triggers.
    void indexMatchesTheRowsAndFailedBulkSyncLeavesThemAsTheyWere() {
        TestHome home;
        for (const auto &[first, count, tag] :
             {std::tuple(0, 700, "zzq"), {690, 20, "uno"}, {650, 800, "due"}, {0, 1450, "tre"}}) {
            QVERIFY(MirrorSync().applyReply(reply(first, count, 8, tag)));
            verifyIndexInStep();
        }
        MirrorSync().clearOtherUserData(QStringLiteral("mario"));
        QVERIFY(MirrorSync().applyReply(reply(0, 30, 3, "zzq")));
        // The values come last.
        QVERIFY(mirrorRows("CREATE TRIGGER broken AFTER INSERT ON metadati_values WHEN new.hash = "
                           "'h900' BEGIN SELECT x FROM nowhere; END")
                    .isEmpty());
        const QStringList before = mirror();
        QVERIFY(!MirrorSync().applyReply(reply(0, 1000, 8, "due")));
        QCOMPARE(mirror(), before);
        verifyIndexInStep();
    }

    // As the tree would: text after the document refuses it, wherever the bytes are cut, and
    // whatever a document holds is left out with it while its rows are still written.
    void streamedReplyEndsWhereItsTreeEnds() {
        TestHome home;
        QByteArray envelope;
        QVERIFY(!applyInSlices(reply(0, 3, 1, "x") + " \n altro", &envelope));
        QCOMPARE(mirrorRows("SELECT count(*) FROM files"), QStringList{"0"});
        QVERIFY(applyInSlices(serviceReply("5", R"(<file hash="a">testo<folder id="4"/></file>)"),
                              &envelope));
        QCOMPARE(mirrorRows("SELECT hash FROM files") + mirrorRows("SELECT idfolder FROM folders"),
                 (QStringList{"a", "4"}));
        QVERIFY(!envelope.contains("testo") && !envelope.contains("folder"));
    }

    // A reply read as it is parsed must leave exactly the mirror its document tree leaves, and
    // its envelope is that tree without the documents and values, all else as it was.
    void streamedReplyWritesWhatItsTreeWrites_data() {
        QTest::addColumn<QByteArray>("data");
        // Escapes, nested and repeated classes, stray fields and values, a body in the body...
        QTest::newRow("edge cases") << serviceReply(QStringLiteral("5"), QStringLiteral(R"(
<bucket id="B1" description="&amp; &lt;1&gt;"/><policie policie="P1" idbucket="B1"/><folder id="1">
<metadato idmetadato="11" idfolder="1"/><folder id="2"><metadato idmetadato="11" idfolder="9"/>
</folder></folder><folder id="1"/><metadato idmetadato="99"/><folder id="x"><![CDATA[t]]></folder>
<file hash="a" tsupdate="12.5" filename="C:\città"><metadatoValue key="11" hash="a" value="1"/>
<metadatoValue key="11" hash="a" value="2 &amp;"/></file><file hash="a" token="T2"/><file
hash="h795"/><metadatoValue key="x"/><x:file xmlns:x="urn:x"/><body><file hash="c"/></body>
<!-- nota --><?pi d?><statusdescription a="&#13;&#10;">1&#13;
2<![CDATA[<3]]>&amp;</statusdescription>)"));
        QTest::newRow("no body") << QByteArray("<r><statusnumber>5</statusnumber></r>");
        QTest::newRow("large") << reply(0, 800, 8, "zzq");
    }
    void streamedReplyWritesWhatItsTreeWrites() {
        QFETCH(QByteArray, data);
        QDomDocument document;
        QVERIFY(document.setContent(data));
        const QDomElement tree = document.elementsByTagName("body").item(0).toElement();
        QStringList written[2];
        QByteArray streamedEnvelope;
        for (int streamed : {0, 1}) {
            TestHome home;
            QVERIFY(MirrorSync().applyReply(reply(790, 20, 2, "old")));
            QVERIFY(streamed ? applyInSlices(data, &streamedEnvelope) : MirrorSync().apply(tree));
            written[streamed] = mirror();
        }
        QCOMPARE(written[1], written[0]);
        bool overLimits = true;
        const QByteArray stripped = ReplyEnvelope::strip(data, &overLimits);
        QDomDocument envelope, streamed;
        QVERIFY(!overLimits && (stripped.isNull() || envelope.setContent(stripped)));
        QVERIFY(streamed.setContent(streamedEnvelope));
        QList<QDomNode> left;
        for (const char *tag : {"file", "metadatoValue"})
            for (int i = 0; i < tree.elementsByTagName(tag).size(); ++i)
                left << tree.elementsByTagName(tag).item(i);
        for (QDomNode &node : left)
            node.parentNode().removeChild(node);
        QCOMPARE(envelope.toString(), left.isEmpty() ? QString() : document.toString());
        QCOMPARE(streamed.toString(), document.toString());
    }
};

QUILLORA_TEST_MAIN(TestMirrorSync)
#include "tst_mirrorsync.moc"
