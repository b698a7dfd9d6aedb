// The signed-in session over time: a service that stalls or restarts, a
// password changed under way, the next user after a sign-out, the browser and
// a second start. One signed-in window serves every case.
#include "ScriptedDialogs.h"
#include "Session.h"
#include "TestMain.h"

#include "account/ChangePwdDialog.h"
#include "app/UrlOpener.h"
#include "mainwindow/CoreMain.h"
#include "service/Inactivity.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

class TestSession : public QObject {
    Q_OBJECT

    SignedInSession session;

    QComboBox *profiles() { return child<QComboBox>(session.window.get(), "cbBuckets"); }
    // Switches to the profile at `index` and waits for the synchronisation to end.
    bool switchProfile(int index) {
        profiles()->setCurrentIndex(index);
        return session.synchronised();
    }
    QList<LocalService::RecordedRequest> loginsSince(quint64 serial) {
        QList<LocalService::RecordedRequest> logins;
        for (const auto &r : session.service().requests(QStringLiteral("login")))
            if (r.serial > serial)
                logins << r;
        return logins;
    }
    quint64 lastSerial() {
        const auto &all = session.service().requests();
        return all.isEmpty() ? 0 : all.last().serial;
    }

private slots:
    void initTestCase() { QVERIFY(session.start()); }

    void init() {
        // Every case starts on the first profile, with the window in front.
        session.window->showApp();
        QVERIFY(QTest::qWaitFor([this] { return session.window->isVisible(); }, kTimeout));
        if (profiles()->currentIndex() != 0)
            QVERIFY(switchProfile(0));
    }

    void stalledServiceEndsAsNetworkFailure() {
        Inactivity::setTimeoutMs(2000);
        session.service().delayReply(kTimeout * 2, QStringLiteral("syncfolder"));
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Errore"),
                              QStringLiteral("Il servizio non risponde da 2 secondi: controllare "
                                             "la connessione e riprovare"));
            profiles()->setCurrentIndex(1);
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        }
        Inactivity::setTimeoutMs(60000);
        session.service().clearScript();
        // The combo names the profile whose documents are still listed.
        QCOMPARE(profiles()->currentIndex(), 0);
        QCOMPARE(profiles()->currentData().toString(), session.account.profileId);
    }

    void restartedServiceIsSignedInAgain() {
        QVERIFY(session.fixture.restart());
        const quint64 before = lastSerial();
        QVERIFY(switchProfile(1));
        QCOMPARE(profiles()->currentData().toString(), session.account.emptyProfileId);
        QCOMPARE(loginsSince(before).size(), 1);
        const auto syncs = session.service().requests(QStringLiteral("syncfolder"));
        QCOMPARE(syncs.last().statusNumber, QStringLiteral("5"));
    }

    void changedPasswordWithMarkupRenewsTheSession() {
        const QString newPassword = QStringLiteral("a&b<c>\"d'</newpwd><x>");
        session.window->onClickChangePassword();
        ChangePwdDialog *dialog = nullptr;
        QVERIFY(QTest::qWaitFor([&] { return (dialog = visibleTopLevel<ChangePwdDialog>()); },
                                kTimeout));
        child<QLineEdit>(dialog, "txtOldPassword")->setText(session.account.password);
        child<QLineEdit>(dialog, "txtNewPwd")->setText(newPassword);
        child<QLineEdit>(dialog, "txtConfirmPwd")->setText(newPassword);
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Modifica password"),
                              QStringLiteral("Password modificata"));
            child<QPushButton>(dialog, "btmSalva")->click();
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        }
        QVERIFY(session.fixture.store().checkPassword(session.account.user, newPassword));
        session.account.password = newPassword;

        session.service().expireSessionsNow();
        const quint64 before = lastSerial();
        QVERIFY(switchProfile(1));
        const auto logins = loginsSince(before);
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins.first().element(QStringLiteral("password")), newPassword);
        QCOMPARE(profiles()->currentData().toString(), session.account.emptyProfileId);
    }

    void nextUserSeesNoFiguresOfThePrevious() {
        QVERIFY(session.fixture.store().createUser(QStringLiteral("luigi"),
                                                   QStringLiteral("Verdi7?")));
        QVERIFY(session.signOut());
        CoreMain *window = session.window.get();
        QVERIFY(signInThroughDialog(QStringLiteral("luigi"), QStringLiteral("Verdi7?"), false,
                                    [window] { return window->isVisible(); }));
        QVERIFY(session.synchronised());
        QCOMPARE(child<QLabel>(window, "lblUserConn")->text(),
                 QStringLiteral("Sei connesso come: luigi"));
        QCOMPARE(profiles()->count(), 0);
        QVERIFY(child<QTabWidget>(window, "tabWidget")->indexOf(
                    child<QWidget>(window, "tabStatistiche")) < 0);
        QVERIFY(session.signOut());
        QVERIFY(session.signIn());
        QVERIFY(child<QLabel>(window, "lblUserConn")->text().contains(QStringLiteral(" di ")));
    }

    void browserThatCannotOpenGivesTheAddress() {
        UrlOpener::setHandler([](const QUrl &) { return false; });
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Apertura pagina"),
                              session.fixture.baseUrlString() + QStringLiteral("/vazedo/Help/"));
            child<QToolButton>(session.window.get(), "btmHelp")->click();
            QVERIFY(dialogs.allAnswered());
        }
        failOnUnscriptedUrls();
    }

    void secondStartBringsTheWindowForward() {
        // Closed to the notification area, another window in front.
        session.window->hide();
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        session.window->showApp();
        QVERIFY(QTest::qWaitFor(
            [this] { return QApplication::activeWindow() == session.window.get(); }, kTimeout));
    }
};

QUILLORA_TEST_MAIN(TestSession)
#include "tst_session.moc"
