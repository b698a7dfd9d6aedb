#include "QueryRows.h"
#include "Session.h"
#include "TestMain.h"
#include "mainwindow/CoreMain.h"
#include "mainwindow/DocumentSearch.h"
#include "mainwindow/FileListQuery.h"
#include "mainwindow/ListFileDelegate.h"
#include "mainwindow/LocalFingerprintCache.h"
#include "mainwindow/MetaDataDetailDelegate.h"
#include "preservation/DateFormatDelegate.h"
#include "storage/Database.h"
#include "storage/SearchIndex.h"

#include <QtWidgets>

namespace {

const QString kMark = QStringLiteral("<span style=\"background-color:yellow\">%1</span>");

QSqlQuery executed(QSqlDatabase db, const FileListQuery::Statement &statement) {
    QSqlQuery query(db);
    return FileListQuery::exec(query, statement) ? std::move(query) : QSqlQuery();
}

bool run(QSqlDatabase db, const QString &sql, const QVariantList &values = {}) {
    return executed(db, {sql, values}).isActive();
}

// A statement's rows; "ERROR" when it fails.
QStringList rowsOf(QSqlDatabase db, const FileListQuery::Statement &statement) {
    QSqlQuery query = executed(db, statement);
    return query.isActive() ? joinedRows(query) : QStringList("ERROR");
}

QStringList column(const QAbstractItemModel &model, int c, int role = Qt::DisplayRole) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r)
        texts << model.index(r, c).data(role).toString();
    return texts;
}

bool addFile(QSqlDatabase db, const QString &hash, const QString &path, const QVariant &token,
             int folder, const QString &when = "05/03/2013 14:07:09",
             const QString &pc = "PC-UFFICIO") {
    return run(db,
               "INSERT OR REPLACE INTO files VALUES (?, '', '2013-03-01T10:00:00', ?, ?, ?, "
               "'anna', 0, '', ?, ?)",
               {hash, path, token, folder, when, pc});
}

// Profile B1: h1-h3 and h7 preserved, h4 and h5 not (empty, missing token);
// h6 of B2 matches every search. Profiles B3-B6 belong to one case each.
bool fillExamples(QSqlDatabase db) {
    return run(db, "INSERT INTO folders (idfolder, name, idbuckets) VALUES (7, 'Fatture', 'B1'), "
                   "(8, 'Contratti', 'B1'), (9, 'Fatture estere', 'B2'), (10, 'Fatture', 'B3'), "
                   "(11, 'Contratti', 'B3'), (12, 'Fatture estere', 'B4'), (13, 'Fatture', 'B5'), "
                   "(14, 'Varie', 'B6')") &&
           run(db, "INSERT INTO metadati (idmetadato, idfolder, nome) VALUES (3, 7, 'Cliente'), "
                   "(4, 7, 'Anno'), (5, 7, 'Note'), (6, 8, 'Parte')") &&
           run(db, "INSERT INTO metadati_values (idmetadata, value, hash) VALUES (3, 'Rossi Srl', "
                   "'h1'), (4, '2013', 'h1'), (5, 'Nota sulla FATTURA', 'h1'), (4, '2012', 'h2'), "
                   "(6, 'Fattura 2013 allegata', 'h3'), (4, '2013', 'h4'), (3, 'fattura 2013', "
                   "'h6'), (5, 'O''Brien \"quoted\"', 'h7')") &&
           addFile(db, "h1", "C:\\Documenti\\fattura.pdf", "T1", 7) &&
           addFile(db, "h2", "C:\\Documenti\\fattura-2012.pdf", "T2", 7, "06/03/2013 09:00:00") &&
           addFile(db, "h3", "/home/anna/contratto.odt", "T3", 8, "01/01/2014 08:00:00") &&
           addFile(db, "h4", "/home/anna/fattura-bozza.pdf", "", 7) &&
           addFile(db, "h5", "/home/anna/fattura-nulla.pdf", QVariant(), 7) &&
           addFile(db, "h6", "/home/anna/fattura 2013.pdf", "T6", 9, "01/01/2015 08:00:00") &&
           addFile(db, "h7", "/home/anna/perché.txt", "T7", 7, "01/02/2013 10:00:00");
}

} // namespace

class TestDocList : public QObject {
    Q_OBJECT
    TestHome m_home;
    Database m_mirror;
    QSqlDatabase &db = m_mirror.db;

private slots:
    void initTestCase() {
        // Re-creating the tables drops the index's triggers: the index comes
        // back empty and follows the new rows.
        QVERIFY(m_mirror.open() && addFile(db, "h0", "/fattura-vecchia.pdf", "T", 7));
        m_mirror.createTables();
        QVERIFY(fillExamples(db));
        QCOMPARE(rowsOf(db, {"SELECT count(*) FROM search_files", {}}), QStringList{"7"});
        // A mirror written before the index existed gains it, filled, when
        // opened; until then the search works without it.
        for (const QString &name : SearchIndex::objectNames())
            QVERIFY(run(db, "DROP TRIGGER IF EXISTS " + name) &&
                    run(db, "DROP TABLE IF EXISTS " + name) &&
                    run(db, "DROP INDEX IF EXISTS " + name));
        const auto plain = FileListQuery::search("fattura 2013", "B1", "%");
        QCOMPARE(rowsOf(db, FileListQuery::indexedSearch(db, "fattura 2013", "B1", "%")),
                 rowsOf(db, plain));
        m_mirror.close();
        QVERIFY(m_mirror.open() && SearchIndex::isReady(db));
    }
    // The signed-in case has a home of its own and leaves the connection there.
    void init() { QVERIFY(m_mirror.open()); }
    void cleanupTestCase() { m_mirror.close(); }

    void search_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("expected");
        // Newest first. Class and computer names, paths and values are searched,
        // not times; "%" and "_" are LIKE's wildcards; SQLite folds ASCII only.
        // clang-format off
        const char *const rows[][3] = {
            {"", "B1", "h3 h2 h1 h7"}, {"  fattura  2013 ", "B1", "h3 h1"}, {"2013", "B1", "h3 h1"},
            {"contratti", "B1", "h3"}, {"pc-uff rossi", "B1", "h1"}, {"fattura 2013", "B2", "h6"},
            {"", "B1' OR '1'='1", ""}, {"   ", "B1", ""}, {"fat%2012", "B1", "h2"},
            {"fattura_2012", "B1", "h2"}, {"O'Brien \"quoted\"", "B1", "h7"},
            {"perché", "B1", "h7"}, {"PERCHÉ", "B1", ""}};
        // clang-format on
        for (const auto &row : rows)
            QTest::addRow("%s '%s'", row[1], row[0]) << row[0] << row[1] << row[2];
    }

    void search() {
        QFETCH(QString, text);
        QFETCH(QString, profile);
        QFETCH(QString, expected);
        QStringList plain = rowsOf(db, FileListQuery::search(text, profile, "%"));
        QCOMPARE(rowsOf(db, FileListQuery::indexedSearch(db, text, profile, "%")), plain);
        // The page's first list is the empty search's.
        QVERIFY(!text.isEmpty() || rowsOf(db, FileListQuery::fullLoad(profile, "%")) == plain);
        const QStringList hashes = expected.split(' ', Qt::SkipEmptyParts);
        QCOMPARE(plain.replaceInStrings(QRegularExpression("\\|.*"), QString()), hashes);
        // What the page's search threads run: rows as found, sorted after; the
        // first rows by walking the mirror, all of them here.
        auto sorted = [&](const FileListQuery::Statement &statement, QStringList out = {}) {
            QSqlQuery query = executed(db, statement);
            FileListQuery::Rows rows = FileListQuery::read(query);
            FileListQuery::sortNewestFirst(rows);
            for (const QVariantList &row : std::as_const(rows))
                out << row.first().toString();
            return out;
        };
        const auto found = FileListQuery::Order::AsFound;
        QCOMPARE(sorted(FileListQuery::indexedSearch(db, text, profile, "%", found)), hashes);
        if (text.isEmpty() || !FileListQuery::words(text).isEmpty())
            QCOMPARE(sorted(FileListQuery::firstMatches(text, profile, "%", 100)), hashes);
    }

    void indexGivesTheStatementsResults() {
        const QStringList vocabulary =
            QString("Fattura|fattura|FATTURA|2013|2012|Rossi & Figli|Müller|MÜLLER|è|È|Straße|"
                    "STRASSE|Über|über|100%|a_b|cliente_01|Ünïcödé|perché|Perché|O'Brien|"
                    "\"virgolette\"|日本語テキスト|x")
                .split('|');
        QRandomGenerator random(20130305);
        auto pick = [&] { return vocabulary.at(random.bounded(vocabulary.size())); };
        const QString value =
            "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)";
        QString moved; // the first preserved file of B3
        QVERIFY(db.transaction());
        for (int i = 0; i < 1500; ++i) {
            const QString hash = QString::asprintf("d%05d", i);
            const QString path = (random.bounded(2) ? "C:\\Arch\\" : "/home/u/") + pick() + "_";
            const QVariant token = random.bounded(10) ? QVariant("T") : QVariant();
            // Classes 10 and 11 are of B3, 12 of another profile. Distinct
            // times: both statements give the same order.
            const int folder = 10 + random.bounded(3);
            const QDateTime when = QDateTime({2013, 3, 1}, {10, 0}).addSecs(61 * i);
            moved = moved.isEmpty() && folder == 10 && token.isValid() ? hash : moved;
            QVERIFY(addFile(db, hash, path + QString::number(i), token, folder,
                            when.toString("dd/MM/yyyy hh:mm:ss"),
                            random.bounded(2) ? "PC-UFFICIO" : pick()));
            for (int field = 3; field <= 6; ++field)
                QVERIFY(!random.bounded(3) || run(db, value, {field, pick() + ' ' + pick(), hash}));
            // A value of a field the mirror does not know is not searched.
            QVERIFY(i % 97 || run(db, value, {99, "orfano", hash}));
        }
        // A preserved file renamed; its fingerprint also in another profile,
        // under another name: either name finds it (the first queries).
        QVERIFY(run(db, "UPDATE files SET fullpath = 'C:\\rinominato' WHERE hash = ?", {moved}));
        QVERIFY(addFile(db, moved, "/home/u/copia.pdf", "TX", 12) && db.commit());
        QStringList queries = {"rinominato", "copia", "orfano"};
        // Random pieces of the values in random capitals, one to three words.
        for (int q = 0; q < 150; ++q) {
            QStringList words;
            for (int w = 1 + random.bounded(3); w > 0; --w) {
                const QString source = pick();
                QString piece = source.mid(random.bounded(source.size()), 1 + random.bounded(6));
                for (QChar &c : piece)
                    c = random.bounded(2) ? c.toUpper() : c;
                words << piece.split(' ', Qt::SkipEmptyParts).value(0, "ab");
            }
            queries << words.join(' ');
        }
        int viaIndex = 0;
        for (const QString &text : queries) {
            const FileListQuery::Statement fast = FileListQuery::indexedSearch(db, text, "B3", "%");
            const QStringList expected = rowsOf(db, FileListQuery::search(text, "B3", "%"));
            QVERIFY2(rowsOf(db, fast) == expected && !expected.contains("ERROR"), qPrintable(text));
            viaIndex += fast.sql.contains("MATCH");
        }
        QVERIFY(viaIndex > queries.size() / 2);
        QVERIFY(rowsOf(db, FileListQuery::search("fattura", "B3", "%")).size() > 100);
        QCOMPARE(rowsOf(db, FileListQuery::search("orfano", "B3", "%")), QStringList());
    }

    void highlightMarksOnlyTheVisibleTextWithTheCellsLetters() {
        QCOMPARE(ListFileDelegate::markText("fattura 2013", "A 2"),
                 "fattur" + kMark.arg("a 2") + "013");
        QVERIFY(addFile(db, "fa7", "C:\\fat\\fattura <FAT>", "fatTOKEN", 13, "05/03/2013 14:07:09",
                        "PC-FAT"));
        QVERIFY(addFile(db, "s1", "/home/anna/doc/relazione", "T1", 13, "02/01/2013 00:00:00"));
        QVERIFY(addFile(db, "s2", "\\home\\anna\\doc\\relazione", "T2", 13, "01/01/2013 00:00:00"));
        QVERIFY(addFile(db, "s3", "C:\\doc\\documenti\\doc", "T3", 13, "01/01/2012 00:00:00"));
        ListFileDelegate model;
        model.setQuery(executed(db, FileListQuery::fullLoad("B5", "%")));
        // Either separator gives the same name; only the name at the end
        // goes, not its repetitions in folder names.
        QCOMPARE(column(model, 1) + column(model, 3),
                 (QStringList{"fattura &lt;FAT&gt;", "relazione", "relazione", "doc", "C:\\fat\\",
                              "/home/anna/doc/", "\\home\\anna\\doc\\", "C:\\doc\\documenti\\"}));
        // Every occurrence takes the letters of the first; the cell's own
        // characters are escaped for the rich-text delegate.
        QStringList cells;
        model.highlightText = "FAT";
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(0, c).data().toString();
        model.highlightText = "2013";
        cells << model.index(0, 1).data().toString() << model.index(0, 5).data().toString();
        QCOMPARE(cells,
                 (QStringList{"fa7", kMark.arg("fat") + "tura &lt;" + kMark.arg("fat") + "&gt;",
                              "PC-" + kMark.arg("FAT"), "C:\\" + kMark.arg("fat") + "\\",
                              kMark.arg("Fat") + "ture", "2013-03-05 14:07:09", "fatTOKEN", "13",
                              "fattura &lt;FAT&gt;", "2013-03-05 14:07:09"}));
        // Views draw a check box for any value under the check-state role.
        QVERIFY(!model.index(0, 2).data(Qt::CheckStateRole).isValid() &&
                !model.index(0, 2).data(Qt::FontRole).isValid());
    }

    void iconFollowsTheLocalFileWithoutRereadingIt() {
        const QString dir = m_home.path() + "/";
        // `ahead` seconds on: an edit keeping the size must still show in the times.
        auto write = [&](const QString &name, const char *text, int ahead = 0) {
            QFile out(dir + name);
            return out.open(QIODevice::WriteOnly) && out.write(text) == 5 && out.flush() &&
                   out.setFileTime(QDateTime::currentDateTime().addSecs(ahead),
                                   QFileDevice::FileModificationTime);
        };
        // SHA-1 of "copia" and of "altro", the second stored with the other
        // separator and not there yet.
        QVERIFY(write("copia", "copia") && addFile(db, "ac53b3388a1823bc85476760c799676279d8bc1d",
                                                   dir + "copia", "T1", 14, "01/01/2013 00:00:00"));
        QVERIFY(addFile(db, "5364d1de52e1ce6e7919565687d286c0d5281a89",
                        QString(dir + "altro").replace('/', '\\'), "T2", 14));
        ListFileDelegate model;
        model.setQuery(executed(db, FileListQuery::fullLoad("B6", "%")));
        const QImage both = QPixmap(":/images/cloudandpc.png").toImage();
        const qint64 reads = LocalFingerprintCache::instance().reads();
        // Which rows show the local copy, then how many files were read.
        auto shown = [&] {
            QString text;
            for (int row = 0; row < 2; ++row) {
                const QVariant icon = model.index(row, 1).data(Qt::DecorationRole);
                text += icon.value<QPixmap>().toImage() == both ? '+' : '-';
            }
            return text + QString::number(LocalFingerprintCache::instance().reads() - reads);
        };
        QVERIFY(both != QPixmap(":/images/cloudonly.png").toImage());
        for (int i = 0; i < 5; ++i)
            QCOMPARE(shown(), QString("-+1"));
        QVERIFY(write("copia", "Copia", 5));
        QCOMPARE(shown(), QString("--2"));
        QVERIFY(write("copia", "copia"));
        QCOMPARE(shown(), QString("-+3"));
        QVERIFY(QFile::rename(dir + "copia", dir + "spostato") && write("altro", "altro"));
        QCOMPARE(shown(), QString("+-4"));
    }

    void detailsListRecordDataThenFieldsById() {
        MetaDataDetailDelegate model;
        model.setQuery(executed(db, FileListQuery::details("h1")));
        QCOMPARE(column(model, 1) + column(model, 2),
                 (QStringList{"Token", "Conservato da", "Conservato il", "Computer name",
                              "Ultima modifica", "Cliente", "Anno", "Note", "T1", "anna",
                              "05/03/2013 14:07:09", "PC-UFFICIO", "2013-03-01T10:00:00",
                              "Rossi Srl", "2013", "Nota sulla FATTURA"}));
        model.highlightText = "fattura";
        QCOMPARE(column(model, 2, Qt::BackgroundRole), QStringList(7) << "#ffff00");
        // The key column is never coloured, even when it holds the text.
        model.highlightText = "cliente";
        QCOMPARE(column(model, 1, Qt::BackgroundRole) + column(model, 2, Qt::BackgroundRole),
                 QStringList(16));
        model.highlightText.clear();
        QCOMPARE(column(model, 2, Qt::BackgroundRole), QStringList(8));
        // Not preserved: fields only. A fingerprint is bound, never pasted.
        model.setQuery(executed(db, FileListQuery::details("h4")));
        QCOMPARE(column(model, 1), QStringList{"Anno"});
        model.setQuery(executed(db, FileListQuery::details("h1' OR '1'='1")));
        QVERIFY(model.query().isActive() && model.rowCount() == 0);
    }

    // The account's documento_1..3.pdf: classes Fatture, Contratti, Fatture;
    // values "N/2013", "N00", "0N/03/2013".
    void documentPageSearchSortAndDetails() {
        SignedInSession session;
        QVERIFY(session.start());
        CoreMain &window = *session.window;
        auto *list = child<QTableView>(&window, "tbwFile");
        auto *search = child<QLineEdit>(&window, "leSearch");
        auto *toggle = child<QPushButton>(&window, "btmHideDetail");
        auto *bar = child<QWidget>(&window, "hwBottoniera");
        auto *details = child<QTableView>(&window, "tbwMetadati");
        auto detailsOpen = [&](bool open) {
            return details->isHidden() != open &&
                   toggle->text() == (open ? "Chiudi Dettagli" : "Mostra Dettagli");
        };
        QVERIFY(list->isColumnHidden(0) && list->isColumnHidden(6) && list->isColumnHidden(7));
        QVERIFY(bar->isHidden() && detailsOpen(false));
        QVERIFY(qobject_cast<DateFormatDelegate *>(list->itemDelegateForColumn(5)));
        toggle->click();
        QVERIFY(detailsOpen(true));

        // Typed on: only the latest text's rows ever reach the list.
        QSignalSpy found(window.findChild<DocumentSearch *>(), &DocumentSearch::rowsFound);
        for (const char *text : {"F", "FA", "FAT", "FATTURE"})
            search->setText(text);
        // Two matches by class, marked, the first selected; details stay open.
        QTRY_COMPARE(column(*list->model(), 4), QStringList(2, kMark.arg("Fatture")));
        for (const QVariantList &arguments : std::as_const(found))
            QCOMPARE(arguments.first().toString(), QString("FATTURE"));
        QCOMPARE(list->selectionModel()->selectedRows(),
                 QModelIndexList{list->model()->index(0, 0)});
        QVERIFY(!bar->isHidden() && detailsOpen(true));
        // Drawn as rich text, the marks show as highlights.
        const QImage shot =
            list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto *pixels = reinterpret_cast<const QRgb *>(shot.constBits());
        QVERIFY(std::count(pixels, pixels + shot.width() * shot.height(), qRgb(255, 255, 0)) > 50);
        // The one match's details, its amount marked.
        search->setText("200");
        QTRY_COMPARE(column(*details->model(), 1).value(0), QString("Token"));
        QCOMPARE(column(*details->model(), 2, Qt::BackgroundRole).lastIndexOf("#ffff00"),
                 column(*details->model(), 2).indexOf("200"));
        search->setText("   ");
        QTRY_VERIFY(list->model()->rowCount() == 0 && bar->isHidden());

        // Header clicks: ascending, then descending.
        search->clear();
        QTRY_COMPARE(list->model()->rowCount(), 3);
        const QPoint section(list->horizontalHeader()->sectionViewportPosition(1) + 5, 5);
        const QStringList names = {"documento_1.pdf", "documento_2.pdf", "documento_3.pdf"};
        QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {}, section);
        QCOMPARE(column(*list->model(), 1), names);
        QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {}, section);
        QCOMPARE(column(*list->model(), 1), (QStringList{names[2], names[1], names[0]}));

        // A reload after a synchronisation lists everything despite the text.
        search->setText("200");
        QTRY_COMPARE(list->model()->rowCount(), 1);
        window.syncCategorie();
        QVERIFY(session.synchronised() && search->text() == "200");
        QCOMPARE(list->model()->rowCount(), 3);

        // "Vedi Dettagli" with the details closed: selected, details opened,
        // and at the top: two rows high, the second needs scrolling there.
        toggle->click();
        list->setFixedHeight(list->horizontalHeader()->height() + 2 * list->rowHeight(0) +
                             2 * list->frameWidth());
        const QModelIndex second = list->model()->index(1, 1);
        const QString name = second.data().toString();
        window.onSelectFile(second.data(Qt::EditRole).toString());
        const QModelIndex top = list->model()->index(list->rowAt(0), 1);
        QCOMPARE(list->selectionModel()->selectedRows(1), QModelIndexList{top});
        QVERIFY(top.row() == 1 && top.data() == name && detailsOpen(true));
    }

    void dateColumnShowsDayFirst() {
        DateFormatDelegate date;
        QCOMPARE(date.displayText("2013-03-05T14:07:09", {}), QString("05/03/2013 14:07:09"));
        QCOMPARE(date.displayText("2013-03-05 14:07:09", {}), QString("05/03/2013 14:07:09"));
        QCOMPARE(date.displayText(QDateTime({2014, 1, 9}, {23, 5, 1}), {}),
                 QString("09/01/2014 23:05:01"));
        QCOMPARE(date.displayText("05/03/2013", {}) + date.displayText({}, {}), QString());
    }
};

QUILLORA_TEST_MAIN(TestDocList)
#include "tst_doclist.moc"
