// Getting documents back against the local service, signed in once: a copy restored from the
// list and from the history, which must never destroy or half-write the user's file; the
// history window; the exhibition; the list's context menu and "Rettifica".
#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "app/FileDialog.h"
#include "history/DialogDownloadFile.h"
#include "history/Exhibitor.h"
#include "history/HistoryFile.h"
#include "mainwindow/CoreMain.h"
#include "preservation/ConservaFileDialog.h"
#include "service/QVWConn.h"

#include <QtWidgets>

#include <csignal>
#include <optional>
#include <sys/resource.h>

namespace {

// While it lives, no file of this process grows past `bytes`: a write beyond
// fails as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

} // namespace

class TestRetrieval : public QObject {
    Q_OBJECT
    SignedInSession s;
    QList<FileDialog::Request> asked;
    QString answer;

    CoreMain &w() { return *s.window; }
    QTableView *list() { return child<QTableView>(&w(), "tbwFile"); }
    // Selects the listed document `hash`; false when it is not listed.
    bool select(const QString &hash) {
        const QModelIndexList found = list()->model()->match(
            list()->model()->index(0, 0), Qt::DisplayRole, hash, 1, Qt::MatchExactly);
        if (found.isEmpty())
            return false;
        list()->selectRow(found.first().row());
        return true;
    }
    // File dialogs answer `path` from now on, recording what they were asked.
    void answerFiles(const QString &path) {
        answer = path;
        FileDialog::setHandler([this](QWidget *, const FileDialog::Request &request) {
            asked << request;
            return answer;
        });
    }
    // A document large enough to be cut in the middle, preserved and listed.
    PreservedVersion preserveLarge(const QByteArray &content, const QString &replaced = {}) {
        const int classId = s.account.classIds.first();
        const QList<int> &fields = s.account.fieldIds.value(classId);
        const PreservedVersion version = s.fixture.store().preserve(
            s.account.user, classId, "C:\\Archivio\\grande.bin", content,
            {{fields[0], "G/1"}, {fields[2], "01/02/2013"}}, replaced);
        w().syncCategorie();
        if (!s.synchronised() || !select(version.hash))
            return PreservedVersion();
        return version;
    }
    static QByteArray contentOf(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static int visibleDownloadWindows() {
        int visible = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            visible += qobject_cast<DialogDownloadFile *>(widget) && widget->isVisible();
        return visible;
    }
    // Waits for the boxes scripted in `dialogs`, then lets the windows that went be deleted.
    bool answered(ScriptedDialogs &dialogs) {
        const bool done = QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return done;
    }

private slots:
    void initTestCase() { QVERIFY(s.start()); }
    void cleanup() {
        failOnUnscriptedFiles();
        s.service().clearScript();
        asked.clear();
    }

    void restoreFromList_data() {
        QTest::addColumn<int>("fault"); // -1: none
        QTest::addColumn<bool>("expire");
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<QString>("boxTitle");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("log");
        QTest::newRow("whole") << -1 << false << false << "Scarica file" << "File scaricato" << true
                               << "ripristina:";
        QTest::newRow("expired, sent again") << -1 << true << false << "Scarica file" << "File scaricato"
                                             << true << "ripristina:19 login:1 ripristina:";
        QTest::newRow("cut mid-way") << int(LocalService::Fault::CloseMidReply) << false << false
                                     << "Scarica file" << "errore durante il download" << false
                                     << "ripristina:";
        QTest::newRow("altered") << int(LocalService::Fault::AlterBody) << false << false
                                 << "Scarica file"
                                 << "non corrisponde all'impronta del documento conservato"
                                 << false << "ripristina:";
        QTest::newRow("disk full") << -1 << false << true << "Scarica file"
                                   << "Impossibile scrivere il file" << false << "ripristina:";
    }
    // Over a file that is already there: it is replaced only by the whole, matching copy, and no
    // temporary file is ever left beside it.
    void restoreFromList() {
        QFETCH(int, fault);
        QFETCH(bool, expire);
        QFETCH(bool, diskFull);
        QFETCH(QString, boxTitle);
        QFETCH(QString, boxText);
        QFETCH(bool, saved);
        QFETCH(QString, log);
        QByteArray content(3 << 20, 'x');
        for (int i = 0; i < content.size(); i += 997)
            content[i] = char(i / 997);
        content += QByteArray(QTest::currentDataTag());
        const PreservedVersion version = preserveLarge(content);
        QVERIFY(version.isValid());

        QTemporaryDir target;
        const QString path = target.filePath("grande.bin");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("la copia di prima") > 0);
        old.close();
        answerFiles(path);
        if (fault >= 0)
            s.service().injectFault(LocalService::Fault(fault), "ripristina");
        if (expire)
            s.service().expireSessionsNow();
        s.service().clearRequests();
        ScriptedDialogs dialogs;
        dialogs.expectBox(boxTitle, boxText);
        std::optional<FileSizeLimit> room;
        if (diskFull)
            room.emplace(content.size() / 2);
        child<QPushButton>(&w(), "btmRipristina")->click();
        QVERIFY(answered(dialogs));
        room.reset();

        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().caption, QString("Scarica file"));
        QCOMPARE(asked.first().dir, QDir::homePath() + "/grande.bin");
        QCOMPARE(requestLog(s.service()).remove(QRegularExpression("\\d+$")), log);
        QVERIFY(contentOf(path) == (saved ? content : QByteArray("la copia di prima")));
        QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"grande.bin"});
        QCOMPARE(visibleDownloadWindows(), 0);
        // What went with the restore does not answer a later renewal.
        s.service().expireSessionsNow();
        w().syncCategorie();
        QVERIFY(s.synchronised());
        QCOMPARE(s.service().requests("ripristina").size(), expire ? 2 : 1);
    }

    void restoreCancelledOrRefused_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << true;
        QTest::newRow("refused") << false;
    }
    void restoreCancelledOrRefused() {
        QFETCH(bool, cancel);
        QVERIFY(select(s.account.documents.first().hash));
        QTemporaryDir target;
        const QString path = target.filePath("documento.pdf");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("mio") == 3);
        old.close();
        answerFiles(path);
        ScriptedDialogs dialogs;
        if (cancel) {
            s.service().delayReply(kTimeout, "ripristina");
            dialogs.expectBox("Scarica file", "errore durante il download");
        } else {
            s.service().scriptReply(500, serviceReply("11", "<statusdescription>Documento "
                                                            "sconosciuto</statusdescription>"),
                                    "ripristina");
            dialogs.expectBox("Download file", "Documento sconosciuto");
        }
        child<QPushButton>(&w(), "btmRipristina")->click();
        if (cancel) {
            QVERIFY(QTest::qWaitFor([] { return visibleDownloadWindows() == 1; }, kTimeout));
            DialogDownloadFile *window = visibleTopLevel<DialogDownloadFile>();
            QCOMPARE(window->windowTitle(), QString("Rispristino file"));
            child<QPushButton>(window, "btmCancel")->click();
        }
        QVERIFY(answered(dialogs));
        QCOMPARE(contentOf(path), QByteArray("mio"));
        QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"documento.pdf"});
        QVERIFY(QTest::qWaitFor([] { return visibleDownloadWindows() == 0; }, kTimeout));
    }

    // A destination nothing can be written to is said so before anything is asked.
    void restoreToUnwritableTarget() {
        QVERIFY(select(s.account.documents.first().hash));
        answerFiles(QDir::homePath() + "/non-esiste/documento.pdf");
        s.service().clearRequests();
        ScriptedDialogs dialogs;
        dialogs.expectBox("Scarica file", "Impossibile scrivere il file");
        child<QPushButton>(&w(), "btmRipristina")->click();
        QVERIFY(dialogs.allAnswered());
        QVERIFY(s.service().requests("ripristina").isEmpty());
        QVERIFY(!QFileInfo::exists(QDir::homePath() + "/non-esiste"));
    }

    // The versions of a replaced document, and the older one restored from the history.
    void historyRestoresAVersion() {
        const QByteArray first(300000, 'a'), second(300000, 'b');
        const PreservedVersion v1 = preserveLarge(first);
        const PreservedVersion v2 = preserveLarge(second, v1.hash);
        QVERIFY(v1.isValid() && v2.isValid());
        child<QPushButton>(&w(), "btmStoria")->click();
        HistoryFile *history = nullptr;
        QVERIFY(QTest::qWaitFor([&] { return (history = visibleTopLevel<HistoryFile>()); }, kTimeout));
        auto *table = child<QTableWidget>(history, "tbwListHistory");
        QVERIFY(QTest::qWaitFor([&] { return table->rowCount() == 2; }, kTimeout));
        const auto request = s.service().requests("history").last();
        QCOMPARE(request.element("hash"), v2.hash);
        QCOMPARE(request.element("folderid"), QString::number(v2.classId));
        QCOMPARE(table->item(0, HistoryFile::Hash)->text(), v1.hash);
        QCOMPARE(table->item(0, HistoryFile::File)->text(), QString("grande.bin"));
        QCOMPARE(table->item(0, HistoryFile::Path)->text(), QString("C:\\Archivio"));
        QCOMPARE(table->item(1, HistoryFile::Token)->text(), v2.token);
        QVERIFY(child<QPushButton>(history, "btmRipristina")->isHidden());

        table->setCurrentCell(0, HistoryFile::File);
        emit table->itemClicked(table->item(0, HistoryFile::File));
        QVERIFY(child<QPushButton>(history, "btmRipristina")->isVisible());
        QTemporaryDir target;
        answerFiles(target.filePath("versione1.bin"));
        ScriptedDialogs dialogs;
        dialogs.expectBox("Ripristino file", "File ripristinato");
        child<QPushButton>(history, "btmRipristina")->click();
        QVERIFY(answered(dialogs));
        QCOMPARE(asked.first().caption, QString("Ripristino file"));
        QCOMPARE(asked.first().dir, QDir::homePath() + "/grande.bin");
        QVERIFY(contentOf(target.filePath("versione1.bin")) == first);
        history->close();
    }

    void historyReplies_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("box");
        QTest::newRow("no versions") << serviceReply("29", "") << 0 << QString();
        QTest::newRow("a version without token")
            << serviceReply("29", "<file hash=\"h\" filename=\"/srv/a.pdf\" filesize=\"3\"/>") << 1
            << QString();
        QTest::newRow("another status") << serviceReply("5", "") << 0 << "Errore nel caricamento.";
    }
    void historyReplies() {
        QFETCH(QByteArray, reply);
        QFETCH(int, rows);
        QFETCH(QString, box);
        s.service().scriptReply(200, reply, "history");
        ScriptedDialogs dialogs;
        if (!box.isEmpty())
            dialogs.expectBox("Storia file", box);
        HistoryFile history(w().findChild<QVWConn *>(QString(), Qt::FindDirectChildrenOnly)->cookieJar(), s.account.documents[0].hash,
                            QString::number(s.account.documents[0].classId), nullptr);
        history.show();
        auto *loading = child<QWidget>(&history, "formWidget")->findChild<QLabel *>("lblLoading");
        QVERIFY(QTest::qWaitFor([&] { return loading->isHidden() && dialogs.allAnswered(); },
                                kTimeout));
        auto *table = child<QTableWidget>(&history, "tbwListHistory");
        QCOMPARE(table->rowCount(), rows);
        QCOMPARE(table->columnCount(), 7);
        QVERIFY(child<QPushButton>(&history, "btmEsibisci")->isHidden());
        if (rows == 0)
            return;
        QCOMPARE(table->item(0, HistoryFile::Path)->text(), QString("/srv"));
        // Without a token there is nothing to exhibit.
        table->setCurrentCell(0, 0);
        const int sent = s.service().requests("getexhibitorconfig").size();
        child<QPushButton>(&history, "btmEsibisci")->click();
        QVERIFY(!history.findChild<Exhibitor *>()->isVisible());
        QCOMPARE(s.service().requests("getexhibitorconfig").size(), sent);
    }

    // An exhibition opens its page once; a refusal without a service reply says so twice; and a
    // later renewal of the session does not send it again.
    void exhibition() {
        const PreservedVersion doc = s.account.documents.at(1);
        QVERIFY(select(doc.hash));
        {
            RecordedUrls urls;
            child<QPushButton>(&w(), "btmEsibisci")->click();
            QVERIFY(QTest::qWaitFor([&] { return !urls.urls().isEmpty(); }, kTimeout));
            QCOMPARE(urls.urls().first().toString(),
                     s.fixture.baseUrlString() + "/vazedo/Exhibitor?unique_code=" + doc.exhibitCode);
            QCOMPARE(s.service().requests("getexhibitorconfig").last().element("token"), doc.token);
            QVERIFY(!w().findChild<Exhibitor *>()->isVisible());
        }
        s.service().expireSessionsNow();
        w().syncCategorie();
        QVERIFY(s.synchronised());
        QCOMPARE(s.service().requests("getexhibitorconfig").size(), 1);

        s.service().injectFault(LocalService::Fault::CloseMidReply, "getexhibitorconfig");
        ScriptedDialogs dialogs;
        const QString prefix = "Si è verificato un errore durante l'esibizione del file: ";
        dialogs.expectBox("Esibisci file", prefix);
        dialogs.expectBox("Errore", " ");
        QVERIFY(select(doc.hash)); // the synchronisation listed the documents anew
        child<QPushButton>(&w(), "btmEsibisci")->click();
        QVERIFY(answered(dialogs));
        QCOMPARE(dialogs.boxes().at(0).text, prefix + dialogs.boxes().at(1).text);
        QVERIFY(!w().findChild<Exhibitor *>()->isVisible());
    }

    void contextMenu_data() {
        QTest::addColumn<QString>("entry");
        QTest::newRow("Storia") << "Storia";
        QTest::newRow("Esibisci") << "Esibisci";
        QTest::newRow("Scarica") << "Scarica";
        QTest::newRow("Rettifica") << "Rettifica";
    }
    // Each entry of the menu acts on the row under the mouse; "Scarica" and "Rettifica" with the
    // file dialog cancelled send and open nothing.
    void contextMenu() {
        QFETCH(QString, entry);
        const PreservedVersion doc = s.account.documents.at(2);
        QVERIFY(select(doc.hash));
        answerFiles(QString());
        s.service().clearRequests();
        RecordedUrls urls;
        QStringList offered;
        QTimer::singleShot(0, this, [&] {
            QMenu *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction *action : menu->actions())
                offered << action->text();
            menu->close();
            for (QAction *action : menu->actions())
                if (action->text() == entry)
                    action->trigger();
        });
        const QRect row = list()->visualRect(list()->currentIndex());
        emit list()->customContextMenuRequested(row.center());
        QCOMPARE(offered, (QStringList{"Storia", "Esibisci", "Scarica", "Rettifica"}));
        if (entry == "Storia") {
            HistoryFile *history = nullptr;
            QVERIFY(QTest::qWaitFor([&] { return (history = visibleTopLevel<HistoryFile>()); },
                                    kTimeout));
            QVERIFY(QTest::qWaitFor([&] { return !s.service().requests("history").isEmpty(); },
                                    kTimeout));
            QCOMPARE(s.service().requests("history").first().element("hash"), doc.hash);
            history->close();
        } else if (entry == "Esibisci") {
            QVERIFY(QTest::qWaitFor([&] { return !urls.urls().isEmpty(); }, kTimeout));
            QVERIFY(urls.urls().first().toString().endsWith(doc.exhibitCode));
        } else {
            QCOMPARE(asked.size(), 1);
            QCOMPARE(asked.first().caption,
                     entry == "Scarica" ? QString("Scarica file") : QString("Seleziona un file"));
            QCoreApplication::processEvents();
            QVERIFY(s.service().requests().isEmpty());
            QVERIFY(!visibleTopLevel<ConservaFileDialog>());
        }
    }
};

QUILLORA_TEST_MAIN(TestRetrieval)
#include "tst_retrieval.moc"
