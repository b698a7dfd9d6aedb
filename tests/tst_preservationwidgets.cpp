// The preservation's small windows, and the classes dialog against the local service.
#include "QueryRows.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "account/DetailDialog.h"
#include "app/ProgressScale.h"
#include "classes/Categorie.h"
#include "classes/MetadatiCategories.h"
#include "preservation/CalendarWidget.h"
#include "preservation/DatePopup.h"
#include "preservation/DialogUploadFile.h"
#include "service/QVWConn.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QStringList listed(const QTableView *view) {
    QStringList names;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        names << view->model()->index(row, 1).data().toString();
    names.sort();
    return names;
}

// Opens the calendar and, inside its own loop, picks `date` and presses `button`.
void pick(CalendarWidget &editor, QDate date, QDialogButtonBox::StandardButton button) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        if (auto *popup = visibleTopLevel<DatePopup>()) {
            seen = true;
            child<QCalendarWidget>(popup, "calendarWidget")->setSelectedDate(date);
            child<QDialogButtonBox>(popup, "buttonBox")->button(button)->click();
        }
    });
    editor.calendarButton->click();
    QVERIFY(seen);
}

} // namespace

class TestPreservationWidgets : public QObject {
    Q_OBJECT

private slots:
    // Within int the bar takes the sizes as they are; past it they are scaled, not wrapped.
    void progressKeepsItsShare_data() {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("shown");
        const qint64 gib = qint64(1) << 30;
        QTest::newRow("small") << qint64(250) << qint64(1000) << "25%";
        QTest::newRow("int's largest") << qint64(INT_MAX) << qint64(INT_MAX) << "100%";
        QTest::newRow("5 GiB, a fifth") << gib << 5 * gib << "20%";
        QTest::newRow("5 GiB, all") << 5 * gib << 5 * gib << "100%";
    }
    void progressKeepsItsShare() {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QProgressBar bar;
        showProgress(&bar, done, total);
        QTEST(bar.text(), "shown");
        if (total <= INT_MAX)
            QCOMPARE(QList<qint64>({bar.maximum(), bar.value()}), QList<qint64>({total, done}));
    }

    // A chosen date replaces what was typed, day first; a cancelled calendar leaves it.
    void calendarWritesDayFirst_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("text");
        QTest::newRow("one-digit day and month") << QDate(2014, 1, 9) << true << "09/01/2014";
        QTest::newRow("two-digit day and month") << QDate(2013, 12, 25) << true << "25/12/2013";
        QTest::newRow("cancelled") << QDate(2014, 1, 9) << false << "31/12/1999";
    }
    void calendarWritesDayFirst() {
        QFETCH(QDate, date);
        QFETCH(bool, accepted);
        CalendarWidget editor(nullptr);
        editor.show();
        QTest::keyClicks(editor.lineEdit, "31/12/1999");
        pick(editor, date, accepted ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
        QTEST(editor.lineEdit->text(), "text");
        editor.cancelButton->click();
        QCOMPARE(editor.lineEdit->text(), QString());
    }

    // Cancel leaves the window following the upload; OK gives it up and stops following.
    void uploadCancelAsksFirst() {
        TestHome home;
        QNetworkCookieJar jar;
        QVWConn conn(&jar, false);
        DialogUploadFile window(&conn, "C:/documenti/fattura.pdf", nullptr);
        window.show();
        QSignalSpy cancelled(&window, &DialogUploadFile::cancelUpload);
        auto *bar = child<QProgressBar>(&window, "pgProgressUpload");
        ScriptedDialogs dialogs;
        for (auto answer : {QMessageBox::Cancel, QMessageBox::Ok})
            dialogs.expectBox("Annulla operazione", "annullare l'operazione corrente?", answer);
        child<QPushButton>(&window, "btmCancelUpload")->click();
        emit conn.avanzamentoUpload(30, 120);
        QVERIFY(window.isVisible() && cancelled.isEmpty());
        QCOMPARE(bar->text(), "25%");
        child<QPushButton>(&window, "btmCancelUpload")->click();
        QVERIFY(!window.isVisible() && cancelled.count() == 1);
        emit conn.avanzamentoUpload(120, 120);
        QCOMPARE(bar->text(), "25%");
    }

    void detailIsHtmlUnderItsTitle() {
        DetailDialog detail("<b>Data</b> obbligatoria: 3 &lt; 4", "Dettaglio errore", nullptr);
        QCOMPARE(child<QTextEdit>(&detail, "teDescription")->toPlainText(),
                 "Data obbligatoria: 3 < 4");
        QCOMPARE(detail.windowTitle(), "Dettaglio errore");
    }

    // Only the dialog's own synchronisation fills the list; the search text matches literally.
    void classesFollowTheirSynchronisation() {
        TestHome home;
        ServiceFixture fixture;
        QNetworkCookieJar jar;
        QVWConn conn(&jar, false);
        const TestAccount account = fixture.createAccount("anna", "segreta", 0);
        QSignalSpy signedIn(&conn, &QVWConn::loginSuccessful);
        conn.login(account.user, account.password, true);
        QVERIFY(signedIn.wait(kTimeout));
        Categorie dialog(&jar, account.profileId, "Archivio", nullptr);
        dialog.show();
        QCOMPARE(mirrorRows("DELETE FROM folders WHERE name = 'Contratti'"), QStringList());
        auto *list = child<QTableView>(&dialog, "twCategorie");
        auto *indici = child<QPushButton>(&dialog, "btmMetadati");
        auto *search = child<QLineEdit>(&dialog, "leSearch");
        dialog.syncCategorie();
        QVERIFY(listed(list).isEmpty() && !indici->isEnabled());
        const QStringList both{"Contratti", "Fatture"};
        QTRY_COMPARE_WITH_TIMEOUT(listed(list), both, kTimeout);
        list->selectRow(0);
        QVERIFY(indici->isEnabled());
        search->setText("%");
        QVERIFY(listed(list).isEmpty() && !indici->isEnabled());
        search->setText("fatt");
        QCOMPARE(listed(list), QStringList{"Fatture"});
        list->selectRow(0);
        indici->click();
        auto *fields = dialog.findChild<MetadatiCategories *>();
        QCOMPARE(fields && fields->isVisible() ? fields->windowTitle() : "",
                 "Indici della classe Fatture");
        search->clear();
        QCOMPARE(listed(list), both);
        // A failed synchronisation is told and ends the dialog rejected.
        fixture.service().scriptReply(
            500, serviceReply("16", "<statusdescription>Archivio fermo</statusdescription>"),
            "syncfolder");
        QSignalSpy finished(&dialog, &QDialog::finished);
        ScriptedDialogs dialogs;
        dialogs.expectBox("Errore", "Archivio fermo");
        dialog.syncCategorie();
        QVERIFY(finished.wait(kTimeout));
        QCOMPARE(finished.first().first().toInt(), int(QDialog::Rejected));
        QVERIFY(dialogs.allAnswered() && !dialog.isVisible());
    }
};

QUILLORA_TEST_MAIN(TestPreservationWidgets)
#include "tst_preservationwidgets.moc"
