// The preservation wizard against the local service, signed in once: a file dropped on the
// window walked to its token, refusals of the upload and of the values, session renewals, the
// cancel, replacements, and the one-wizard guard.
#include "QueryRows.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "account/DetailDialog.h"
#include "mainwindow/CoreMain.h"
#include "preservation/CalendarWidget.h"
#include "preservation/ConservaFileDialog.h"
#include "preservation/DatePopup.h"
#include "service/QVWConn.h"

#include <QCryptographicHash>
#include <QtWidgets>

class TestPreservation : public QObject {
    Q_OBJECT
    SignedInSession s;
    QTemporaryDir files;

    CoreMain &w() { return *s.window; }
    QString makeFile(const QString &name, const QByteArray &content) {
        QFile file(files.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
                   ? file.fileName()
                   : QString();
    }
    static QString sha1(const QByteArray &bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
    }
    ConservaFileDialog *drop(const QUrl &url) {
        QMimeData mime;
        mime.setUrls({url});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&w(), &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w(), &event);
        return visibleTopLevel<ConservaFileDialog>();
    }
    static int page(ConservaFileDialog *wizard) {
        return child<QTabWidget>(wizard, "tabUpload")->currentIndex();
    }
    // Chooses the class named `name` once the lists have come, then "Avanti"; true once the
    // upload has ended on the field page or on the failure page.
    static bool upload(ConservaFileDialog *wizard, const QString &name) {
        auto *start = child<QPushButton>(wizard, "btmStartUpload");
        auto *list = child<QTableView>(wizard, "twListCateg");
        if (!QTest::qWaitFor([&] { return start->isEnabled(); }, kTimeout))
            return false;
        const QModelIndexList found =
            list->model()->match(list->model()->index(0, 1), Qt::DisplayRole, name, 1,
                                 Qt::MatchExactly);
        if (found.isEmpty())
            return false;
        list->selectRow(found.first().row());
        QPointer<ConservaFileDialog> alive(wizard); // a cancel ends it
        start->click();
        return QTest::qWaitFor([&] { return !alive || (wizard->isVisible() && page(wizard) != 1); },
                               kTimeout) &&
               alive;
    }
    // The editors of the field page in row order: text, number, date.
    static void fill(ConservaFileDialog *wizard, const QString &text, const QString &number,
                     const QString &date = "05/03/2013") {
        auto *rows = child<QWidget>(wizard, "scrollAreaWidgetContents");
        const auto boxes = rows->findChildren<QComboBox *>();
        boxes.at(0)->setEditText(text);
        boxes.at(1)->setEditText(number);
        rows->findChild<CalendarWidget *>()->lineEdit->setText(date);
    }
    // "Conserva", confirmed; true once the answer has been shown.
    static bool send(ConservaFileDialog *wizard, ScriptedDialogs &dialogs) {
        dialogs.expectBox("Conservazione file", "conservare il documento");
        child<QPushButton>(wizard, "btmConserva")->click();
        return QTest::qWaitFor(
            [&] { return !child<QLabel>(wizard, "lblLoading")->isVisible() && dialogs.allAnswered(); },
            kTimeout);
    }
    QStringList localRows(const QString &hash) {
        return mirrorRows("SELECT folderid, token <> '' FROM files WHERE hash = '" + hash +
                          "' ORDER BY folderid");
    }
    static void chooseDate(CalendarWidget *calendar, const QDate &date) {
        QTimer::singleShot(0, [date] {
            auto *popup = qobject_cast<DatePopup *>(QApplication::activeModalWidget());
            QVERIFY(popup);
            popup->findChild<QCalendarWidget *>()->setSelectedDate(date);
            popup->accept();
        });
        calendar->calendarButton->click();
    }

private slots:
    void initTestCase() { QVERIFY(s.start()); }
    void cleanup() {
        s.service().clearScript();
        // Gone without a close: the window's guard must free itself.
        QList<QPointer<QWidget>> wizards;
        for (QWidget *window : QApplication::topLevelWidgets())
            if (qobject_cast<ConservaFileDialog *>(window))
                wizards << window;
        for (const QPointer<QWidget> &wizard : wizards)
            delete wizard.data();
    }

    void droppedFileIsPreservedAndListed() {
        QVERIFY(!drop(QUrl("https://example.invalid/documento.pdf"))); // a link does nothing
        const QByteArray content = "fattura 2026/118, 1 MiB e un byte dopo: " +
                                   QByteArray(1024 * 1024 + 1 - 41, 'x');
        const QString path = makeFile("fattura 118.pdf", content);
        ConservaFileDialog *wizard = drop(QUrl::fromLocalFile(path));
        QVERIFY(wizard);
        {
            ScriptedDialogs dialogs; // a second drop while it is open
            dialogs.expectBox("Conservazione file", "un altro processo di conservazione");
            QCOMPARE(drop(QUrl::fromLocalFile(path)), wizard);
        }
        // A group lists its classes; a search matches literally within them.
        auto *groups = child<QTableView>(wizard, "tbwListGroup");
        auto *list = child<QTableView>(wizard, "twListCateg");
        QTRY_COMPARE_WITH_TIMEOUT(groups->model() ? groups->model()->rowCount() : 0, 3, kTimeout);
        QCOMPARE(groups->model()->index(0, 0).data().toString(), QString("Tutti"));
        groups->selectRow(1);
        QCOMPARE(list->model()->rowCount(), 1);
        child<QLineEdit>(wizard, "leSearch")->setText("%");
        QCOMPARE(list->model()->rowCount(), 0);
        groups->selectRow(0);
        QCOMPARE(child<QLineEdit>(wizard, "leSearch")->text(), QString());
        QCOMPARE(list->model()->rowCount(), 2);

        s.service().clearRequests();
        s.service().expireSessionsNow(); // the upload renews the session once
        QVERIFY(upload(wizard, "Contratti"));
        QCOMPARE(page(wizard), 2);
        const int classId = s.account.classIds.at(1);
        const QList<int> keys = s.account.fieldIds.value(classId);
        const auto sent = s.service().requests("uploadfile");
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.last().element("hashfile"), sha1(content));
        QCOMPARE(sent.last().fileSha1, sha1(content).toLatin1());
        QCOMPARE(sent.last().parts.value(1).name, QDir::toNativeSeparators(path));
        QCOMPARE(localRows(sha1(content)), QStringList{QString::number(classId) + "|0"});

        fill(wizard, "118/2026", "1500");
        auto *calendar = child<QWidget>(wizard, "scrollAreaWidgetContents")
                             ->findChild<CalendarWidget *>();
        chooseDate(calendar, QDate(2014, 1, 9));
        s.service().expireSessionsNow(); // and so do the values
        ScriptedDialogs dialogs;
        QVERIFY(send(wizard, dialogs));
        QCOMPARE(page(wizard), 3);
        const QString log = requestLog(s.service());
        QVERIFY2(log.startsWith("uploadfile:19 login:1 uploadfile:21 savevaluemetadati:19 login:1 "
                                "savevaluemetadati:22"),
                 qPrintable(log));
        QDomDocument values;
        QVERIFY(values.setContent(s.service().requests("savevaluemetadati").last().xml));
        QStringList pairs;
        for (QDomElement e = values.documentElement().firstChildElement("metadato"); !e.isNull();
             e = e.nextSiblingElement("metadato"))
            pairs << e.attribute("key") + '=' + e.attribute("value");
        QMap<QString, QString> expected{{QString::number(keys[0]), "118/2026"},
                                        {QString::number(keys[1]), "1500"},
                                        {QString::number(keys[2]), "09/01/2014"}};
        QStringList expectedPairs;
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            expectedPairs << it.key() + '=' + it.value();
        QCOMPARE(pairs, expectedPairs); // keys in text order
        QCOMPARE(localRows(sha1(content)), QStringList{QString::number(classId) + "|1"});

        QPointer<ConservaFileDialog> alive(wizard);
        child<QPushButton>(wizard, "btmVediDettagli")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!alive, kTimeout);
        QVERIFY(s.synchronised());
        // "Vedi Dettagli" selects the document once the synchronisation lists it.
        auto *listed = child<QTableView>(&w(), "tbwFile");
        QTRY_COMPARE_WITH_TIMEOUT(listed->selectionModel()->selectedRows(1).value(0).data(
                                      Qt::EditRole).toString(),
                                  QDir::toNativeSeparators(path), kTimeout);
        QVERIFY(drop(QUrl::fromLocalFile(path))); // the guard is free again
    }

    void refusals_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("detailButton");
        const auto refusal = [](const char *status, const QString &text) {
            return serviceReply(status, "<statusdescription>" + text + "</statusdescription>");
        };
        QTest::newRow("upload, 39 characters")
            << "uploadfile" << refusal("13", QString(39, 'q'))
            << "Upload del file non riuscito\n" + QString(39, 'q') << false;
        QTest::newRow("values, 40 characters")
            << "savevaluemetadati" << refusal("16", QString(40, 'q'))
            << "Conservazione del documento non riuscita" << true;
        QTest::newRow("values, pieces") << "savevaluemetadati"
                                        << refusal("16", "a&lt;b&gt;&lt;br/&gt;c")
                                        << "Conservazione del documento non riuscita\na<b>\nc"
                                        << false;
    }
    void refusals() {
        QFETCH(QString, action);
        QFETCH(QByteArray, reply);
        QFETCH(QString, title);
        QFETCH(bool, detailButton);
        const QByteArray content = QByteArray("rifiutato ") + QTest::currentDataTag() + ' ' +
                                   QByteArray::number(QRandomGenerator::global()->generate());
        ConservaFileDialog *wizard = drop(QUrl::fromLocalFile(makeFile("r.txt", content)));
        QVERIFY(wizard);
        s.service().scriptReply(500, reply, action);
        QVERIFY(upload(wizard, "Fatture"));
        ScriptedDialogs dialogs;
        if (action == "savevaluemetadati") {
            fill(wizard, "1/2026", "");
            QVERIFY(send(wizard, dialogs));
            // Values refused: the token-less row and its values go; "Indietro" keeps the values.
            QCOMPARE(localRows(sha1(content)), QStringList());
            QCOMPARE(mirrorRows("SELECT count(*) FROM metadati_values WHERE hash = '" +
                                sha1(content) + "'"),
                     QStringList{"0"});
        } else {
            // The upload refused: its row stays token-less, no way back to the fields.
            QCOMPARE(localRows(sha1(content)).size(), 1);
        }
        QCOMPARE(page(wizard), 4);
        QCOMPARE(child<QLabel>(wizard, "lblTitleFailure")->text(), title);
        QCOMPARE(child<QPushButton>(wizard, "btmShowDetailError")->isVisibleTo(wizard),
                 detailButton);
        QCOMPARE(child<QPushButton>(wizard, "btmIndietroFailure")->isVisibleTo(wizard),
                 action != "uploadfile");
        if (action == "uploadfile") {
            // The next attempt on the class replaces the row left behind.
            QPointer<ConservaFileDialog> alive(wizard);
            wizard->close();
            QTRY_VERIFY(!alive);
            QVERIFY(upload(wizard = drop(QUrl::fromLocalFile(files.filePath("r.txt"))), "Fatture"));
            QCOMPARE(localRows(sha1(content)).size(), 1);
            return;
        }
        if (detailButton) {
            child<QPushButton>(wizard, "btmShowDetailError")->click();
            auto *detail = wizard->findChild<DetailDialog *>();
            QVERIFY(detail && detail->isVisible());
            QCOMPARE(child<QTextEdit>(detail, "teDescription")->toPlainText(), QString(40, 'q'));
        }
        child<QPushButton>(wizard, "btmIndietroFailure")->click();
        QCOMPARE(page(wizard), 2);
        QVERIFY(send(wizard, dialogs)); // the values as they were, now accepted
        QCOMPARE(page(wizard), 3);
        QCOMPARE(localRows(sha1(content)).size(), 0); // listed once the service's record comes
    }

    void validationMarksTheFieldsNamed() {
        const QByteArray content = "da validare";
        ConservaFileDialog *wizard = drop(QUrl::fromLocalFile(makeFile("v.txt", content)));
        QVERIFY(upload(wizard, "Fatture"));
        fill(wizard, "", "dodici");
        ScriptedDialogs dialogs;
        dialogs.expectBox("Conservazione file", "conservare il documento");
        dialogs.expectBox("Conservazione file", "validazione degli indici non è riuscita");
        child<QPushButton>(wizard, "btmConserva")->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        QCOMPARE(page(wizard), 2);
        const auto labels = child<QWidget>(wizard, "scrollAreaWidgetContents")
                                ->findChildren<QLabel *>();
        QStringList red;
        for (QLabel *label : labels)
            if (label->styleSheet() == "color:red;")
                red << label->text();
        QCOMPARE(red, QStringList({"* Numero", "Importo"}));
        QFocusEvent focus(QEvent::FocusIn);
        auto *box = child<QWidget>(wizard, "scrollAreaWidgetContents")->findChild<QComboBox *>();
        QApplication::sendEvent(box, &focus);
        const QString help = child<QTextEdit>(wizard, "tbHelp")->toPlainText();
        QVERIFY2(help.indexOf("Errore") >= 0 && help.indexOf("Errore") < help.indexOf("Suggerimenti") &&
                     help.contains("Numero del documento"),
                 qPrintable(help));
        fill(wizard, "7/2026", "12");
        QVERIFY(send(wizard, dialogs));
        QCOMPARE(page(wizard), 3);
        for (QLabel *label : labels)
            QVERIFY(label->styleSheet() != "color:red;");
    }

    void cancelDuringTheFingerprintSendsNothing() {
        const QString path = makeFile("grande.bin", QByteArray(3 * 1024 * 1024, 'g'));
        ConservaFileDialog *wizard = drop(QUrl::fromLocalFile(path));
        QPointer<ConservaFileDialog> alive(wizard);
        s.service().clearRequests();
        ScriptedDialogs dialogs;
        dialogs.expectBox("Annulla operazione", "annullare l'operazione corrente");
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, [&] {
            auto *bar = wizard->findChild<QProgressBar *>("pgProgressUpload");
            if (bar && bar->maximum() == 3 * 1024 * 1024) {
                cancel.stop();
                wizard->findChild<QPushButton *>("btmCancelUpload")->click();
            }
        });
        cancel.start(0);
        upload(wizard, "Fatture");
        QTRY_VERIFY_WITH_TIMEOUT(!alive, kTimeout);
        QVERIFY2(!requestLog(s.service()).contains("uploadfile"), qPrintable(requestLog(s.service())));
        QCOMPARE(mirrorRows("SELECT count(*) FROM files WHERE fullpath LIKE '%grande.bin'"),
                 QStringList{"0"});
    }

    void replacement_data() {
        QTest::addColumn<int>("document");
        QTest::addColumn<bool>("identical");
        QTest::newRow("different file") << 1 << false;
        QTest::newRow("byte-identical file") << 2 << true;
    }
    void replacement() {
        QFETCH(int, document);
        QFETCH(bool, identical);
        const PreservedVersion old = s.account.documents.at(document);
        const QByteArray content =
            identical ? QString("%PDF-1.4\ndocumento %1 di %2\n%%EOF\n")
                            .arg(document + 1)
                            .arg(s.account.user)
                            .toUtf8()
                      : QByteArray("rettifica del documento");
        QCOMPARE(sha1(content) == old.hash, identical);
        auto *jar = w().findChild<QVWConn *>(QString(), Qt::FindDirectChildrenOnly)->cookieJar();
        std::unique_ptr<ConservaFileDialog> wizard(
            new ConservaFileDialog(makeFile("nuovo.pdf", content), jar, s.account.profileId,
                                   "Profilo di prova", old.hash, true, nullptr));
        QVERIFY(wizard->windowTitle().endsWith(QFileInfo(QString(old.fileName).replace('\\', '/'))
                                                   .fileName() +
                                               " con nuovo.pdf"));
        QTRY_VERIFY_WITH_TIMEOUT(wizard->isVisible() && page(wizard.get()) == 2, kTimeout);
        QCOMPARE(s.service().requests("sostituiscifile").last().element("hash"), old.hash);
        QSignalSpy replaced(wizard.get(), &ConservaFileDialog::sostituizioneCompleted);
        ScriptedDialogs dialogs;
        dialogs.expectBox("Rettifica file", "conservare il documento");
        child<QPushButton>(wizard.get(), "btmConserva")->click();
        QTRY_COMPARE_WITH_TIMEOUT(page(wizard.get()), 3, kTimeout);
        QCOMPARE(replaced.count(), 1);
        QCOMPARE(s.service().requests("sostituiscivaluemetadati").last().element("hashprecedente"),
                 old.hash);
        // The old rows go, unless the new file is the old one.
        const QString kept = QString::number(old.classId) + "|1";
        QCOMPARE(localRows(old.hash), identical ? QStringList{kept} : QStringList());
        QCOMPARE(localRows(sha1(content)), QStringList{kept});
    }
};

QUILLORA_TEST_MAIN(TestPreservation)
#include "tst_preservation.moc"
