#include "QueryRows.h"
#include "ScriptedDialogs.h"
#include "ServiceFixture.h"
#include "TestHome.h"
#include "TrayOverride.h"
#include "mainwindow/CoreMain.h"
#include "mainwindow/FileListQuery.h"
#include "mainwindow/HTMLItemDelegate.h"
#include "mainwindow/ListFileDelegate.h"
#include "mainwindow/LocalFingerprintCache.h"
#include "mainwindow/MetaDataDetailDelegate.h"
#include "preservation/DateFormatDelegate.h"
#include "service/LoginDialog.h"
#include "storage/Database.h"
#include "storage/SearchIndex.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QtTest>

namespace {

const QString kProfile = QStringLiteral("B1");
const QString kOther = QStringLiteral("B2");

bool exec(const QSqlDatabase &db, const QString &sql, const QVariantList &values = {}) {
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec()) {
        qWarning() << sql << query.lastError().text();
        return false;
    }
    return true;
}

// Every row of an executed statement, columns joined with "|".
QStringList rowsOf(const QSqlDatabase &db, const FileListQuery::Statement &statement) {
    QSqlQuery query(db);
    if (!FileListQuery::exec(query, statement))
        return {QStringLiteral("error: ") + query.lastError().text()};
    return joinedRows(query);
}

QStringList hashesOf(const QSqlDatabase &db, const FileListQuery::Statement &statement) {
    QStringList hashes;
    for (const QString &row : rowsOf(db, statement))
        hashes << row.section(QLatin1Char('|'), 0, 0);
    return hashes;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

template <typename T> T *findVisible() {
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

QString sha1Hex(const QByteArray &bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

// A small mirror: profile B1 with classes 7 "Fatture" and 8 "Contratti",
// profile B2 with class 9 "Fatture estere"; fields 3 "Cliente", 4 "Anno",
// 5 "Note" of class 7 and 6 "Parte" of class 8.
class Mirror {
public:
    Mirror() {
        ok = database.open();
        db = database.db;
        ok = ok && exec(db, "INSERT INTO folders VALUES (7, 'Fatture', 'Amm', 0, 'B1', 'P')") &&
             exec(db, "INSERT INTO folders VALUES (8, 'Contratti', 'Amm', 0, 'B1', 'P')") &&
             exec(db, "INSERT INTO folders VALUES (9, 'Fatture estere', 'Amm', 0, 'B2', 'P')") &&
             exec(db,
                  "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (3, 7, 'Cliente')") &&
             exec(db, "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (4, 7, 'Anno')") &&
             exec(db, "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (5, 7, 'Note')") &&
             exec(db, "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (6, 8, 'Parte')");
    }
    ~Mirror() { database.close(); }

    bool addFile(const QString &hash, const QString &path, const QString &token, int folder,
                 const QString &when = QStringLiteral("05/03/2013 14:07:09"),
                 const QString &computer = QStringLiteral("PC-UFFICIO")) {
        return exec(db,
                    "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, "
                    "folderid, username, tsconserve, computer_name) VALUES (?, '', "
                    "'2013-03-01T10:00:00', ?, ?, ?, 'anna', ?, ?)",
                    {hash, path, token, folder, when, computer});
    }
    bool addValue(const QString &hash, int field, const QString &value) {
        return exec(db,
                    "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, "
                    "?, ?)",
                    {field, value, hash});
    }

    QStringList search(const QString &text) {
        return hashesOf(db, FileListQuery::search(text, kProfile, QStringLiteral("%")));
    }
    QStringList indexed(const QString &text) {
        return hashesOf(db, FileListQuery::indexedSearch(db, text, kProfile, QStringLiteral("%")));
    }

    Database database;
    QSqlDatabase db;
    bool ok = false;
};

// The example documents of the listing and search rules.
bool fillExamples(Mirror &m) {
    return m.addFile("h1", "C:\\Documenti\\fattura.pdf", "T1", 7, "05/03/2013 14:07:09") &&
           m.addValue("h1", 3, "Rossi Srl") && m.addValue("h1", 4, "2013") &&
           m.addFile("h2", "C:\\Documenti\\fattura-2012.pdf", "T2", 7, "06/03/2013 09:00:00") &&
           m.addValue("h2", 3, "Bianchi Spa") && m.addValue("h2", 4, "2012") &&
           m.addFile("h3", "/home/anna/contratto.odt", "T3", 8, "01/01/2014 08:00:00") &&
           m.addValue("h3", 6, "Fattura 2013 allegata") &&
           // not preserved: empty and missing token
           m.addFile("h4", "/home/anna/fattura-bozza.pdf", "", 7) && m.addValue("h4", 4, "2013") &&
           m.addFile("h5", "/home/anna/fattura-nulla.pdf", QString(), 7) &&
           // another profile, matching every search
           m.addFile("h6", "/home/anna/fattura 2013.pdf", "T6", 9, "01/01/2015 08:00:00") &&
           m.addValue("h6", 3, "fattura 2013");
}

} // namespace

class TestDocList : public QObject {
    Q_OBJECT
private slots:
    // --- Listing rules --------------------------------------------------------

    void fullLoadListsPreservedDocumentsOfTheProfileNewestFirst() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(fillExamples(m));
        const QStringList rows =
            rowsOf(m.db, FileListQuery::fullLoad(kProfile, QStringLiteral("%")));
        QCOMPARE(rows, (QStringList{
                           "h3|/home/anna/contratto.odt|PC-UFFICIO|/home/anna/contratto.odt|"
                           "Contratti|2014-01-01 08:00:00|T3|8",
                           "h2|C:\\Documenti\\fattura-2012.pdf|PC-UFFICIO|C:\\Documenti\\fattura-"
                           "2012.pdf|Fatture|2013-03-06 09:00:00|T2|7",
                           "h1|C:\\Documenti\\fattura.pdf|PC-UFFICIO|C:\\Documenti\\fattura.pdf|"
                           "Fatture|2013-03-05 14:07:09|T1|7"}));
        QCOMPARE(m.search(QString()), (QStringList{"h3", "h2", "h1"}));
        // The profile and the path pattern are bound, not pasted.
        const FileListQuery::Statement load = FileListQuery::fullLoad("B1'--", "%");
        QVERIFY(!load.sql.contains("B1"));
        QCOMPARE(rowsOf(m.db, load), QStringList());
    }

    void searchNeverListsUnpreservedOrForeignDocuments() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(fillExamples(m));
        for (const char *text : {"fattura", "2013", "fattura 2013", "pdf"}) {
            const QStringList found = m.search(text);
            QVERIFY2(!found.contains("h4") && !found.contains("h5") && !found.contains("h6"),
                     qPrintable(text));
            QCOMPARE(m.indexed(text), found);
        }
        // h6 is listed in its own profile.
        QCOMPARE(hashesOf(m.db, FileListQuery::search("fattura 2013", kOther, "%")),
                 QStringList{"h6"});
    }

    // --- Search semantics -----------------------------------------------------

    void everyWordInSomeValueAnyCapitals() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(fillExamples(m));
        // h1: file name and year in two fields; h3: both words in one value;
        // h2: fattura but 2012 only.
        QCOMPARE(m.search("fattura 2013"), (QStringList{"h3", "h1"}));
        QCOMPARE(m.search("FATTURA 2013"), (QStringList{"h3", "h1"}));
        QCOMPARE(m.search("FaTtUrA"), (QStringList{"h3", "h2", "h1"}));
        // Class name and computer name are searched as well.
        QCOMPARE(m.search("contratti"), QStringList{"h3"});
        QCOMPARE(m.search("pc-uff rossi"), QStringList{"h1"});
    }

    void spacesAroundAndBetweenWords() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(fillExamples(m));
        for (const char *spaces : {" ", "   "}) {
            const FileListQuery::Statement statement = FileListQuery::search(spaces, kProfile, "%");
            QVERIFY(statement.sql.contains("files.hash IN ()"));
            QCOMPARE(statement.values, (QVariantList{"%", kProfile}));
            QCOMPARE(m.search(spaces), QStringList());
            QCOMPARE(m.indexed(spaces), QStringList());
        }
        QCOMPARE(m.search("  fattura 2013"), m.search("fattura 2013"));
        QCOMPARE(m.search("fattura 2013 "), m.search("fattura 2013"));
        const FileListQuery::Statement two = FileListQuery::search("fattura  2013", kProfile, "%");
        QVERIFY(two.sql.contains(") t0 "));
        QVERIFY(two.sql.contains(") t2 ON t0.hash = t2.hash "));
        QVERIFY(!two.sql.contains(" t1"));
        QCOMPARE(two.values, (QVariantList{"fattura", "2013", "%", kProfile}));
        QCOMPARE(m.search("fattura  2013"), m.search("fattura 2013"));
    }

    void wildcardsQuotesAndNonAsciiText() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(fillExamples(m));
        QVERIFY(m.addFile("h7", "/home/anna/perché.txt", "T7", 7, "01/02/2013 10:00:00"));
        QVERIFY(m.addValue("h7", 5, "Straße 5 O'Brien \"quoted\" 100%"));
        QCOMPARE(m.search("fat%2012"), QStringList{"h2"});
        QCOMPARE(m.search("fattura_2012"), QStringList{"h2"});
        QCOMPARE(m.search("_013"), (QStringList{"h3", "h1"}));
        QCOMPARE(m.search("O'Brien"), QStringList{"h7"});
        QCOMPARE(m.search("\"quoted\""), QStringList{"h7"});
        QCOMPARE(m.search("'; DROP TABLE files; --"), QStringList());
        QCOMPARE(m.search("perché"), QStringList{"h7"});
        // SQLite folds ASCII letters only.
        QCOMPARE(m.search("PERCHÉ"), QStringList());
        QCOMPARE(m.search("PERCHé"), QStringList{"h7"});
        QCOMPARE(m.search("STRAßE"), QStringList{"h7"});
        QCOMPARE(m.search("strasse"), QStringList());
        for (const char *text : {"fat%2012", "fattura_2012", "_013", "O'Brien", "\"quoted\"",
                                 "perché", "PERCHÉ", "PERCHé", "STRAßE", "strasse", "100%"})
            QCOMPARE(m.indexed(text), m.search(text));
        QCOMPARE(rowsOf(m.db, FileListQuery::fullLoad(kProfile, "%")).size(), 4);
    }

    // --- The word index -------------------------------------------------------

    void indexGivesTheStatementsResults() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(SearchIndex::isReady(m.db));
        const QStringList vocabulary = {
            "Fattura",       "fattura",        "FATTURA",        "2013",   "2012",
            "Rossi & Figli", "Müller",         "MÜLLER",         "è",      "È",
            "Straße",        "STRASSE",        "Über",           "über",   "100%",
            "a_b",           "cliente_01",     "Ünïcödé",        "perché", "Perché",
            "O'Brien",       "\"virgolette\"", "日本語テキスト", "x"};
        QRandomGenerator random(20130305);
        m.db.transaction();
        const int documents = 1500;
        for (int i = 0; i < documents; ++i) {
            const QString hash = QStringLiteral("d%1").arg(i, 5, 10, QLatin1Char('0'));
            auto pick = [&] { return vocabulary.at(random.bounded(vocabulary.size())); };
            const int folder = 7 + random.bounded(3);
            const QString token =
                random.bounded(10) == 0 ? QString() : QStringLiteral("T%1").arg(i);
            const QString path = (random.bounded(2) ? QStringLiteral("C:\\Arch\\") : "/home/u/") +
                                 pick() + QStringLiteral("_%1.pdf").arg(i);
            QVERIFY(m.addFile(hash, path, token, folder,
                              QStringLiteral("%1/03/2013 10:%2:00")
                                  .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                  .arg(i % 60, 2, 10, QLatin1Char('0')),
                              random.bounded(2) ? "PC-UFFICIO" : pick()));
            for (int field = 3; field <= 6; ++field) {
                if (random.bounded(3))
                    QVERIFY(m.addValue(hash, field, pick() + QLatin1Char(' ') + pick()));
            }
            // A value of a field the mirror does not know is not searched.
            if (i % 97 == 0)
                QVERIFY(m.addValue(hash, 99, "orfano"));
        }
        // The same fingerprint in two classes of different profiles.
        QVERIFY(m.addFile("d00001", "/home/u/copia.pdf", "TX", 9));
        // Synchronisation replaces rows: the index must follow.
        for (int i = 0; i < 200; ++i) {
            const QString hash = QStringLiteral("d%1").arg(i, 5, 10, QLatin1Char('0'));
            QVERIFY(m.addValue(hash, 3, QStringLiteral("sostituito %1").arg(i)));
        }
        QVERIFY(exec(m.db, "UPDATE files SET fullpath = '/home/u/rinominato.pdf' WHERE hash = "
                           "'d00002'"));
        QVERIFY(exec(m.db, "DELETE FROM metadati_values WHERE hash = 'd00003'"));
        m.db.commit();

        QStringList queries = {"fattura",
                               "FATTURA",
                               "Fattura 2013",
                               "2013 rossi",
                               "rossi & figli",
                               "müller",
                               "MÜLLER",
                               "mÜller",
                               "über",
                               "ÜBER",
                               "Über",
                               "è",
                               "È",
                               "straße",
                               "STRASSE",
                               "strasse",
                               "100%",
                               "0%",
                               "a_b",
                               "A_B",
                               "_b",
                               "%",
                               "_",
                               "fa%ra",
                               "fat_ura",
                               "cliente_0",
                               "perché",
                               "PERCHÉ",
                               "o'brien",
                               "\"virg",
                               "日本語",
                               "本語テ",
                               "fatture",
                               "estere",
                               "contratti",
                               "pc-",
                               "orfano",
                               "sostituito 1",
                               "rinominato",
                               "x",
                               "xx",
                               "arch\\",
                               "  fattura   2013 ",
                               "copia",
                               "fatture estere",
                               "sostituito 12 fattura",
                               "d0000"};
        // Random pieces of the values, in random capitals, one to three words.
        for (int q = 0; q < 150; ++q) {
            QStringList words;
            const int count = 1 + random.bounded(3);
            for (int w = 0; w < count; ++w) {
                const QString source = vocabulary.at(random.bounded(vocabulary.size()));
                const int from = random.bounded(source.size());
                QString piece = source.mid(from, 1 + random.bounded(6));
                for (QChar &c : piece) {
                    if (random.bounded(2))
                        c = c.toUpper();
                }
                words << piece.split(' ', Qt::SkipEmptyParts).value(0, QStringLiteral("ab"));
            }
            queries << words.join(' ');
        }
        int viaIndex = 0;
        for (const QString &text : queries) {
            const FileListQuery::Statement plain = FileListQuery::search(text, kProfile, "%");
            const FileListQuery::Statement fast =
                FileListQuery::indexedSearch(m.db, text, kProfile, "%");
            viaIndex += fast.sql.contains("MATCH") ? 1 : 0;
            const QStringList expected = rowsOf(m.db, plain);
            QVERIFY2(!expected.value(0).startsWith("error"), qPrintable(expected.value(0)));
            QCOMPARE(sorted(rowsOf(m.db, fast)), sorted(expected));
        }
        QVERIFY(viaIndex > queries.size() / 2);
        QVERIFY(m.search("fattura").size() > 100);
        QVERIFY(!m.search("sostituito 1").isEmpty());
        QVERIFY(m.search("orfano").isEmpty());
    }

    void indexIsMadeForOlderMirrorsAndAfterRecreation() {
        TestHome home;
        {
            Mirror m;
            QVERIFY(m.ok);
            QVERIFY(fillExamples(m));
            // A mirror written before the index existed.
            for (const QString &name : SearchIndex::objectNames()) {
                QSqlQuery q(m.db);
                q.exec("SELECT type FROM sqlite_master WHERE name = '" + name + "'");
                if (q.next()) {
                    const QString type = q.value(0).toString();
                    q.finish();
                    QVERIFY(exec(m.db, "DROP " + type + " " + name));
                }
            }
            QVERIFY(!SearchIndex::isReady(m.db));
            // Without the index the search gives the statement's rows.
            QCOMPARE(m.indexed("fattura 2013"), m.search("fattura 2013"));
        }
        Database database;
        QVERIFY(database.open());
        QVERIFY(SearchIndex::isReady(database.db));
        const FileListQuery::Statement fast =
            FileListQuery::indexedSearch(database.db, "fattura 2013", kProfile, "%");
        QVERIFY(fast.sql.contains("MATCH"));
        QCOMPARE(hashesOf(database.db, fast), (QStringList{"h3", "h1"}));

        // Re-creating the tables drops the triggers; the index comes back
        // empty and follows the new rows.
        database.createTables();
        QVERIFY(SearchIndex::isReady(database.db));
        QVERIFY(exec(database.db, "INSERT INTO folders VALUES (7, 'Fatture', '', 0, 'B1', 'P')"));
        QVERIFY(exec(database.db, "INSERT INTO files (hash, fullpath, token, folderid, tsconserve) "
                                  "VALUES ('n1', '/tmp/nuova-fattura.pdf', 'T', 7, "
                                  "'01/01/2020 00:00:00')"));
        QCOMPARE(hashesOf(database.db,
                          FileListQuery::indexedSearch(database.db, "nuova", kProfile, "%")),
                 QStringList{"n1"});
        QSqlQuery count(database.db);
        QVERIFY(count.exec("SELECT count(*) FROM search_files"));
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toInt(), 1);
        count.finish();
        database.close();
    }

    // --- Highlight and paths --------------------------------------------------

    void highlightMarksWithTheCellsLetters() {
        QCOMPARE(ListFileDelegate::markText("fattura.pdf", "FAT"),
                 QString("<span style=\"background-color:yellow\">fat</span>tura.pdf"));
        QCOMPARE(ListFileDelegate::markText("Fattura FATTURA", "fattura"),
                 QString("<span style=\"background-color:yellow\">Fattura</span> "
                         "<span style=\"background-color:yellow\">Fattura</span>"));
        QCOMPARE(ListFileDelegate::markText("fattura 2013.pdf", "fattura 2013"),
                 QString("<span style=\"background-color:yellow\">fattura 2013</span>.pdf"));
        QCOMPARE(ListFileDelegate::markText("fattura.pdf", "fattura 2013"), QString("fattura.pdf"));
        QCOMPARE(ListFileDelegate::markText("a<b & c.pdf", "B &"),
                 QString("a&lt;<span style=\"background-color:yellow\">b &amp;</span> c.pdf"));
    }

    void modelMarksOnlyTheVisibleTextColumns() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(m.addFile("fa7", "C:\\fat\\fattura.pdf", "fatTOKEN", 7, "05/03/2013 14:07:09",
                          "PC-FAT"));
        ListFileDelegate model;
        QSqlQuery query(m.db);
        QVERIFY(FileListQuery::exec(query, FileListQuery::search("", kProfile, "%")));
        model.setQuery(std::move(query));
        QCOMPARE(model.rowCount(), 1);
        model.highlightText = "FAT";
        const QString mark = "<span style=\"background-color:yellow\">%1</span>";
        QCOMPARE(model.data(model.index(0, 0)).toString(), QString("fa7"));
        QCOMPARE(model.data(model.index(0, 1)).toString(), mark.arg("fat") + "tura.pdf");
        QCOMPARE(model.data(model.index(0, 2)).toString(), "PC-" + mark.arg("FAT"));
        QCOMPARE(model.data(model.index(0, 3)).toString(), "C:\\" + mark.arg("fat") + "\\");
        QCOMPARE(model.data(model.index(0, 4)).toString(), mark.arg("Fat") + "ture");
        QCOMPARE(model.data(model.index(0, 6)).toString(), QString("fatTOKEN"));
        QCOMPARE(model.data(model.index(0, 7)).toString(), QString("7"));
        model.highlightText = "2013";
        QCOMPARE(model.data(model.index(0, 5)).toString(), QString("2013-03-05 14:07:09"));
        model.highlightText.clear();
        QCOMPARE(model.data(model.index(0, 1)).toString(), QString("fattura.pdf"));
        // Style roles are not answered with text.
        QVERIFY(!model.data(model.index(0, 2), Qt::CheckStateRole).isValid());
        QVERIFY(!model.data(model.index(0, 2), Qt::FontRole).isValid());
    }

    void slashAndBackslashPathsGiveTheSameNameAndFolder() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(m.addFile("s1", "/home/anna/doc/relazione.txt", "T1", 7, "02/01/2013 00:00:00"));
        QVERIFY(
            m.addFile("s2", "\\home\\anna\\doc\\relazione.txt", "T2", 7, "01/01/2013 00:00:00"));
        QVERIFY(m.addFile("s3", "C:\\doc\\documenti\\doc", "T3", 7, "01/01/2012 00:00:00"));
        ListFileDelegate model;
        QSqlQuery query(m.db);
        QVERIFY(FileListQuery::exec(query, FileListQuery::fullLoad(kProfile, "%")));
        model.setQuery(std::move(query));
        QCOMPARE(model.rowCount(), 3);
        for (int row = 0; row < 2; ++row) {
            QCOMPARE(model.data(model.index(row, 1)).toString(), QString("relazione.txt"));
            QCOMPARE(model.data(model.index(row, 1), Qt::UserRole).toString(),
                     QString("relazione.txt"));
            QCOMPARE(model.data(model.index(row, 3), Qt::UserRole).toString(),
                     QString("/home/anna/doc"));
        }
        QCOMPARE(model.data(model.index(0, 3)).toString(), QString("/home/anna/doc/"));
        QCOMPARE(model.data(model.index(1, 3)).toString(), QString("\\home\\anna\\doc\\"));
        // Only the name at the end goes, not its repetitions in folder names.
        QCOMPARE(model.data(model.index(2, 1)).toString(), QString("doc"));
        QCOMPARE(model.data(model.index(2, 3)).toString(), QString("C:\\doc\\documenti\\"));
    }

    // --- Local-copy icon ------------------------------------------------------

    void iconFollowsTheLocalFileWithoutRereadingIt() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        const QString dir = home.path() + "/docs";
        QVERIFY(QDir().mkpath(dir));
        const QByteArray content(10000, 'q');
        QFile file(dir + "/copia.bin");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QVERIFY(m.addFile(sha1Hex(content), dir + "/copia.bin", "T1", 7));
        // The same path written the other way round.
        QVERIFY(m.addFile("0000000000000000000000000000000000000000",
                          QString(dir + "/altro.bin").replace('/', '\\'), "T2", 7));
        ListFileDelegate model;
        QSqlQuery query(m.db);
        QVERIFY(FileListQuery::exec(query, FileListQuery::fullLoad(kProfile, "%")));
        model.setQuery(std::move(query));
        QCOMPARE(model.rowCount(), 2);
        const int row = model.data(model.index(0, 1)).toString() == "copia.bin" ? 0 : 1;
        const QImage both = QPixmap(":/images/cloudandpc.png").toImage();
        const QImage cloud = QPixmap(":/images/cloudonly.png").toImage();
        QVERIFY(both != cloud);
        auto icon = [&](int r) {
            return model.data(model.index(r, 1), Qt::DecorationRole).value<QPixmap>().toImage();
        };
        LocalFingerprintCache &cache = LocalFingerprintCache::instance();
        const qint64 before = cache.reads();
        QCOMPARE(icon(row), both);
        QCOMPARE(icon(1 - row), cloud);
        QCOMPARE(cache.reads(), before + 1);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(icon(row), both);
        QCOMPARE(cache.reads(), before + 1);

        // Edited with the same size: different times, read again.
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.write("Q");
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5),
                                 QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(icon(row), cloud);
        QCOMPARE(cache.reads(), before + 2);
        // Back as it was: preserved copy again.
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QCOMPARE(icon(row), both);
        // Moved away.
        QVERIFY(file.rename(dir + "/spostato.bin"));
        QCOMPARE(icon(row), cloud);
        // The other row's file appears, backslashes and all.
        QFile other(dir + "/altro.bin");
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        QCOMPARE(icon(1 - row), cloud);
    }

    // --- Details ----------------------------------------------------------------

    void detailsListRecordDataThenFieldsById() {
        TestHome home;
        Mirror m;
        QVERIFY(m.ok);
        QVERIFY(fillExamples(m));
        QVERIFY(m.addValue("h1", 5, "Nota sulla FATTURA"));
        MetaDataDetailDelegate model;
        QSqlQuery query(m.db);
        QVERIFY(FileListQuery::exec(query, FileListQuery::details("h1")));
        model.setQuery(std::move(query));
        QStringList keys, values;
        for (int r = 0; r < model.rowCount(); ++r) {
            keys << model.data(model.index(r, 1)).toString();
            values << model.data(model.index(r, 2)).toString();
        }
        QCOMPARE(keys, (QStringList{"Token", "Conservato da", "Conservato il", "Computer name",
                                    "Ultima modifica", "Cliente", "Anno", "Note"}));
        QCOMPARE(values,
                 (QStringList{"T1", "anna", "05/03/2013 14:07:09", "PC-UFFICIO",
                              "2013-03-01T10:00:00", "Rossi Srl", "2013", "Nota sulla FATTURA"}));

        model.highlightText = "fattura";
        QCOMPARE(model.data(model.index(7, 2), Qt::BackgroundRole).value<QColor>(),
                 QColor(Qt::yellow));
        QVERIFY(!model.data(model.index(5, 2), Qt::BackgroundRole).isValid());
        // The key column is never coloured, even when it holds the text.
        model.highlightText = "cliente";
        QVERIFY(!model.data(model.index(5, 1), Qt::BackgroundRole).isValid());
        QVERIFY(!model.data(model.index(5, 2), Qt::BackgroundRole).isValid());
        model.highlightText.clear();
        QVERIFY(!model.data(model.index(7, 2), Qt::BackgroundRole).isValid());

        // Not preserved: fields only. A fingerprint is bound, never pasted.
        QSqlQuery draft(m.db);
        QVERIFY(FileListQuery::exec(draft, FileListQuery::details("h4")));
        model.setQuery(std::move(draft));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.data(model.index(0, 1)).toString(), QString("Anno"));
        QSqlQuery odd(m.db);
        QVERIFY(FileListQuery::exec(odd, FileListQuery::details("h1' OR '1'='1")));
        model.setQuery(std::move(odd));
        QCOMPARE(model.rowCount(), 0);
    }

    // --- The document page of the main window ------------------------------------

    void documentPageSearchSortAndDetails() {
        TestHome home;
        TrayOverride tray(true);
        ScriptedDialogs dialogs;
        ServiceFixture fixture;
        QVERIFY2(fixture.isRunning(), qPrintable(fixture.errorString()));
        TestAccount account = fixture.createAccount("mario", "Segreta1!", 0);
        const int invoices = account.classIds.at(0);
        const QList<int> fields = account.fieldIds.value(invoices);
        const QString local = home.path() + "/Documenti";
        QVERIFY(QDir().mkpath(local));
        const QStringList names = {"fattura-rossi.pdf", "Contratto.pdf", "nota.txt"};
        const QStringList texts = {"Fattura Rossi", "contratto BIANCHI", "Appunti FATTURA"};
        for (int i = 0; i < names.size(); ++i) {
            QVERIFY(fixture.store()
                        .preserve("mario", invoices, local + "/" + names.at(i),
                                  QByteArray("contenuto ") + QByteArray::number(i),
                                  {{fields.at(0), texts.at(i)},
                                   {fields.at(1), QString::number(2010 + i)},
                                   {fields.at(2), "01/02/2013"}})
                        .isValid());
        }

        CoreMain window;
        LoginDialog *login = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((login = findVisible<LoginDialog>()), 20000);
        login->findChild<QLineEdit *>("leUsername")->setText("mario");
        login->findChild<QLineEdit *>("lePassword")->setText("Segreta1!");
        login->findChild<QCheckBox *>("ckbSalvaCredenziali")->setChecked(false);
        login->findChild<QPushButton *>("btmOk")->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 20000);

        auto *list = window.findChild<QTableView *>("tbwFile");
        auto *details = window.findChild<QTableView *>("tbwMetadati");
        auto *search = window.findChild<QLineEdit *>("leSearch");
        auto *toggle = window.findChild<QPushButton *>("btmHideDetail");
        auto *bar = window.findChild<QWidget *>("hwBottoniera");
        QAbstractItemModel *model = list->model();
        QVERIFY(model);
        QCOMPARE(model->rowCount(), 3);
        QStringList headers;
        for (int c = 0; c < model->columnCount(); ++c)
            headers << model->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{"Hash", "File", "Computer name", "Percorso", "Classi",
                                       "Conservato il", "Token", "IdFolder"}));
        for (int c : {0, 6, 7})
            QVERIFY(list->isColumnHidden(c));
        QVERIFY(qobject_cast<DateFormatDelegate *>(list->itemDelegateForColumn(5)));
        QVERIFY(dynamic_cast<HTMLItemDelegate *>(list->itemDelegate()));
        QVERIFY(bar->isHidden());

        // The details toggle.
        QVERIFY(details->isHidden());
        QCOMPARE(toggle->text(), QString("Mostra Dettagli"));
        toggle->click();
        QVERIFY(!details->isHidden());
        QCOMPARE(toggle->text(), QString("Chiudi Dettagli"));
        toggle->click();
        QVERIFY(details->isHidden());
        QCOMPARE(toggle->text(), QString("Mostra Dettagli"));
        toggle->click();

        // A search: two matches, marked, the first selected with its details.
        search->setText("FATTURA");
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(list->selectionModel()->selectedRows().first().row(), 0);
        QVERIFY(!bar->isHidden());
        QVERIFY(!details->isHidden());
        QCOMPARE(toggle->text(), QString("Chiudi Dettagli"));
        QStringList files;
        for (int r = 0; r < model->rowCount(); ++r)
            files << model->index(r, 1).data().toString();
        QVERIFY(files.contains("<span style=\"background-color:yellow\">fattura</span>-rossi.pdf"));
        QVERIFY(files.contains("nota.txt"));
        QAbstractItemModel *values = details->model();
        QCOMPARE(values->index(0, 1).data().toString(), QString("Token"));
        QCOMPARE(values->index(4, 1).data().toString(), QString("Ultima modifica"));
        bool yellow = false;
        for (int r = 5; r < values->rowCount(); ++r) {
            const bool marked = values->index(r, 2).data(Qt::BackgroundRole).isValid();
            QCOMPARE(marked, values->index(r, 2).data().toString().contains("fattura",
                                                                            Qt::CaseInsensitive));
            yellow = yellow || marked;
        }
        QVERIFY(yellow);

        // Only spaces: nothing listed, no selection, no bar.
        search->setText("   ");
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(bar->isHidden());

        // Header clicks: ascending, then descending.
        search->clear();
        QCOMPARE(model->rowCount(), 3);
        auto fileNames = [&] {
            QStringList names;
            for (int r = 0; r < model->rowCount(); ++r)
                names << model->index(r, 1).data().toString();
            return names;
        };
        const QPoint section(list->horizontalHeader()->sectionViewportPosition(1) + 5, 5);
        QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {}, section);
        QCOMPARE(fileNames(), (QStringList{"Contratto.pdf", "fattura-rossi.pdf", "nota.txt"}));
        QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {}, section);
        QCOMPARE(fileNames(), (QStringList{"nota.txt", "fattura-rossi.pdf", "Contratto.pdf"}));

        // A reload after a synchronisation lists everything despite the text.
        search->setText("rossi");
        QCOMPARE(model->rowCount(), 1);
        window.syncCategorie();
        QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QWidget *>("lblLoading")->isHidden(), 20000);
        QCOMPARE(list->model()->rowCount(), 3);
        QCOMPARE(search->text(), QString("rossi"));

        // "Vedi Dettagli": selected, at the top, details forced open.
        toggle->click();
        QVERIFY(details->isHidden());
        // One row high: scrolling the chosen row to the top is then visible.
        list->setFixedHeight(list->horizontalHeader()->height() + list->rowHeight(0) +
                             2 * list->frameWidth());
        window.onSelectFile(local + "/nota.txt");
        model = list->model();
        QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
        const QModelIndex chosen = list->selectionModel()->selectedRows(1).first();
        QCOMPARE(chosen.data().toString(), QString("nota.txt"));
        QCOMPARE(list->rowAt(0), chosen.row());
        QVERIFY(!details->isHidden());
        QCOMPARE(toggle->text(), QString("Chiudi Dettagli"));
        QVERIFY(dialogs.allAnswered());
    }

    // --- Rendering ---------------------------------------------------------------

    void dateColumnShowsDayFirst() {
        DateFormatDelegate delegate;
        const QLocale locale;
        QCOMPARE(delegate.displayText("2013-03-05T14:07:09", locale),
                 QString("05/03/2013 14:07:09"));
        QCOMPARE(delegate.displayText("2013-03-05 14:07:09", locale),
                 QString("05/03/2013 14:07:09"));
        QCOMPARE(delegate.displayText(QDateTime(QDate(2014, 1, 9), QTime(23, 5, 1)), locale),
                 QString("09/01/2014 23:05:01"));
        QCOMPARE(delegate.displayText("05/03/2013", locale), QString());
        QCOMPARE(delegate.displayText(QVariant(), locale), QString());
    }

    void htmlDelegateDrawsTheMarkAsHighlight() {
        QCOMPARE(HTMLItemDelegate::textOffset(1), QPoint(18, 2));
        QCOMPARE(HTMLItemDelegate::textOffset(2), QPoint(0, 2));
        QCOMPARE(HTMLItemDelegate::textOffset(4), QPoint(0, 2));

        QStandardItemModel model(1, 3);
        model.setData(model.index(0, 1), ListFileDelegate::markText("fattura.pdf", "FAT"));
        model.setData(model.index(0, 2), ListFileDelegate::markText("fattura.pdf", "FAT"));
        model.setData(model.index(0, 0), QString("fattura.pdf"));
        QTableView view;
        view.setModel(&model);
        HTMLItemDelegate delegate;
        auto yellowPixels = [&](int column) {
            QStyleOptionViewItem option;
            option.initFrom(&view);
            option.rect = QRect(0, 0, 200, 30);
            option.widget = &view;
            QImage image(200, 30, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            delegate.paint(&painter, option, model.index(0, column));
            painter.end();
            int count = 0;
            int firstX = -1;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (image.pixelColor(x, y) == QColor(Qt::yellow)) {
                        ++count;
                        if (firstX < 0 || x < firstX)
                            firstX = x;
                    }
                }
            }
            return qMakePair(count, firstX);
        };
        const auto marked = yellowPixels(1);
        QVERIFY(marked.first > 20);
        // The same text, 18 pixels further right beside the icon.
        QCOMPARE(marked.second - yellowPixels(2).second, 18);
        QCOMPARE(yellowPixels(0).first, 0);
        const QSize hint = delegate.sizeHint(QStyleOptionViewItem(), model.index(0, 1));
        QVERIFY(hint.width() > 0 && hint.height() > 0);
    }
};

QTEST_MAIN(TestDocList)
#include "tst_doclist.moc"
