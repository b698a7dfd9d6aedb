// The main window, signed in once against the local service: the browser, quota, failures,
// classes, a service that stalls or restarts, a password changed under way, the tray,
// signing out and in (the next user), a second start, closing.
#include "QueryRows.h"
#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "account/ChangePwdDialog.h"
#include "account/ProxyDialog.h"
#include "app/UrlOpener.h"
#include "classes/MetadatiCategories.h"
#include "mainwindow/CoreMain.h"
#include "mainwindow/QuotaChartView.h"
#include "service/Inactivity.h"
#include "service/LoginDialog.h"
#include "service/QVWConn.h"

#include <QNetworkProxy>
#include <QSqlQuery>
#include <QtCharts>
#include <QtWidgets>

class TestMainWindow : public QObject {
    Q_OBJECT
    SignedInSession s;

    CoreMain &w() { return *s.window; }
    template <typename T = QWidget> T *ui(const char *name) { return child<T>(&w(), name); }
    QComboBox *profiles() { return ui<QComboBox>("cbBuckets"); }
    static QString column(const QTableView *view, int column = 1) {
        QStringList texts;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            texts << view->model()->index(row, column).data().toString();
        return texts.join('|');
    }
    QString classes() { return column(ui<QTableView>("twCategorie")); }
    // What the service saw for a synchronisation, or for choosing the profile at `index`.
    QString resync(int index = -1) {
        s.service().clearRequests();
        index < 0 ? w().syncCategorie() : profiles()->setCurrentIndex(index);
        return s.synchronised() ? requestLog(s.service()) : "still synchronising";
    }
    const QString renewed = "syncfolder:19 login:1 syncfolder:5";

private slots:
    void initTestCase() { QVERIFY(s.start()); }

    void helpOpensInTheBrowserOrIsGivenInABox() {
        const QUrl help(s.fixture.baseUrlString() + "/vazedo/Help/");
        {
            RecordedUrls opened;
            ui<QToolButton>("btmHelp")->click();
            emit ui<QLabel>("lblUserConn")->linkActivated("#altro");
            QCOMPARE(opened.urls(), QList<QUrl>{help});
        }
        // No browser takes it: a box gives the address.
        UrlOpener::setHandler([](const QUrl &) { return false; });
        ScriptedDialogs dialogs;
        dialogs.expectBox("Apertura pagina", help.toString());
        ui<QToolButton>("btmHelp")->click();
        QVERIFY(dialogs.allAnswered());
        failOnUnscriptedUrls();
    }

    void quota_data() {
        // Where the figures (quota, used, divisor) are set, what the label shows, the room
        // of the free and used slices (* labelled); no figures: the profile without quota.
        for (const char *column : {"where", "figures", "shown", "room"})
            QTest::addColumn<QString>(column);
        const auto row = [](const char *name, const char *where, const char *figures,
                            const char *shown, const char *room) {
            QTest::newRow(name) << where << figures << shown << room;
        };
        row("79 %", "service", "100000 79000 1000", "79 di 100", "21* 79*");
        row("80 %: red", "service", "100000 80000 1000", "80 di 100", "20* 80*");
        row("over the quota: red", "service", "10000 12000 1000", "12 di 10", "0 12*");
        row("profile without quota", "", "", "", "");
        // Odd figures in the mirror count as 0.
        row("divisor 0", "mirror", "10000 5000 0", "0 di 0", "0 0");
        row("words", "mirror", "dieci 5000 1000", "5 di 0", "0 5*");
        row("beyond 32 bits", "mirror", "10000 99999999999 1000", "0 di 10", "10* 0");
        row("negative divisor", "mirror", "-2147483648 0 -1", "0 di 2147483648", "2147483648* 0");
    }
    void quota() {
        QFETCH(QString, where);
        QFETCH(QString, figures);
        QFETCH(QString, shown);
        QFETCH(QString, room);
        const QStringList f = figures.split(' ');
        const QString id = where.isEmpty() ? s.account.emptyProfileId : s.account.profileId;
        if (profiles()->currentData() != id)
            QCOMPARE(resync(profiles()->findData(id)), QString("syncfolder:5"));
        if (where == "service") {
            QVERIFY(QSqlQuery(s.fixture.store().database())
                        .exec(QString("UPDATE profiles SET quota = %1, used = %2, div = %3, unit = "
                                      "'MB' WHERE id = '%4'").arg(f[0], f[1], f[2], id)));
            QCOMPARE(resync(), QString("syncfolder:5"));
        } else if (where == "mirror") {
            QCOMPARE(mirrorRows(QString("UPDATE buckets SET quota = '%1', used = '%2', div = '%3' "
                                        "WHERE idbuckets = '%4'").arg(f[0], f[1], f[2], id)),
                     QStringList());
            w().updateQuota();
        }
        auto *label = ui<QLabel>("lblUserConn");
        const QString suffix = shown.isEmpty() ? "" : " (" + shown + " MB) (Acquista spazio)";
        const QString plain = QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        QCOMPARE(suffix.isEmpty() ? label->text() : plain, "Sei connesso come: mario" + suffix);
        QVERIFY(suffix.isEmpty() || label->text().contains("<a href=\"#buyquota\">"));
        const bool red = QString(QTest::currentDataTag()).endsWith("red");
        QCOMPARE(label->styleSheet(), QString("QLabel {color:%1;}").arg(red ? "red" : "black"));
        QStringList slices, expected;
        for (QPieSlice *slice : ui<QuotaChartView>("wwCharts")->series()->slices())
            slices << slice->label() + '=' + QString::number(slice->value(), 'f', 0) +
                          (slice->isLabelVisible() ? "*" : "");
        const QStringList amounts = shown.split(" di "), rooms = room.split(' ');
        const qint64 free = amounts.value(1).toLongLong() - amounts[0].toLongLong(); // may be < 0
        if (!suffix.isEmpty())
            expected << QString("Libero: %1 MB=").arg(free) + rooms[0]
                     << "Utilizzato: " + amounts[0] + " MB=" + rooms[1];
        QCOMPARE(slices, expected);
        QCOMPARE(ui<QTabWidget>("tabWidget")->indexOf(ui("tabStatistiche")),
                 suffix.isEmpty() ? -1 : 2);
        QCOMPARE(classes(), QString(where.isEmpty() ? "" : "Fatture|Contratti"));
        RecordedUrls opened;
        emit label->linkActivated("#buyquota");
        const QUrl buy(s.fixture.baseUrlString() + "/vazedo/BuyQuota/");
        QCOMPARE(opened.urls(), suffix.isEmpty() ? QList<QUrl>() : QList<QUrl>{buy});
    }

    void synchronisationFailures_data() {
        // What fails on choosing the other profile; the box, with which the window goes to
        // the tray; what the service saw. (An expiry renewed: see the password changed.)
        for (const char *column : {"cause", "box", "seen"})
            QTest::addColumn<QString>(column);
        QTest::newRow("refused, its text plain")
            << "error" << "Classe <b>sconosciuta</b>" << "syncfolder:";
        QTest::newRow("expired, the renewal refused") << "password"
            << "La sessione è scaduta: accedi di nuovo e riprova" << "syncfolder:19 login:0";
        QTest::newRow("stalled") << "stalled" << "Il servizio non risponde da 2 secondi: "
                                    "controllare la connessione e riprovare" << "syncfolder:";
    }
    void synchronisationFailures() {
        QFETCH(QString, cause);
        QFETCH(QString, box);
        QFETCH(QString, seen);
        Inactivity::setTimeoutMs(cause == "stalled" ? 2000 : 60000);
        if (cause == "error")
            s.service().scriptReply(500, serviceReply("4", "<statusdescription>" +
                                      box.toHtmlEscaped() + "</statusdescription>"), "syncfolder");
        else if (cause == "stalled")
            s.service().delayReply(kTimeout * 2, "syncfolder");
        else
            s.service().expireSessionsNow();
        // The password was changed elsewhere.
        QVERIFY(cause != "password" || s.fixture.store().setPassword(s.account.user, "Altra1!"));
        ScriptedDialogs dialogs;
        dialogs.expectBox("Errore", box);
        QCOMPARE(resync(1), seen);
        const auto shown = dialogs.boxes().value(0);
        QVERIFY(dialogs.allAnswered() && shown.text == box && shown.format == Qt::PlainText);
        QVERIFY(!w().isVisible() && shown.icon == QMessageBox::Critical);
        // The combo names the profile whose documents are still listed.
        QCOMPARE(profiles()->currentData().toString(), s.account.profileId);
        Inactivity::setTimeoutMs(60000);
        s.service().clearScript();
        QVERIFY(s.fixture.store().setPassword(s.account.user, s.account.password));
        w().show();
        // The next one is heard again; after a refused renewal, renewed.
        QCOMPARE(resync(), cause == "password" ? renewed : "syncfolder:5");
    }

    void classesFilterQuoteSafeAndShowTheirFields() {
        s.fixture.store().addClass(s.account.profileId, "Fatture d'acquisto", "Fatture");
        QCOMPARE(resync(), QString("syncfolder:5"));
        const QStringList filtered = {"FATT", "Fatture|Fatture d'acquisto", "d'a",
                                      "Fatture d'acquisto", "x' OR '1'='1", "", "",
                                      "Fatture|Contratti|Fatture d'acquisto"};
        for (int i = 0; i < filtered.size(); i += 2) {
            ui<QLineEdit>("leSearchCateg")->setText(filtered[i]);
            QCOMPARE(classes(), filtered[i + 1]);
        }
        // A field of a type the client does not know is left out.
        const QString strange = "INSERT INTO metadati (idfolder, nome, tipo, visibile, required, "
                                "custom) VALUES (%1, 'Strano', 9, 1, 1, 0)";
        QCOMPARE(mirrorRows(strange.arg(s.account.classIds[0])), QStringList());
        auto *view = ui<QTableView>("twCategorie");
        emit view->doubleClicked(view->model()->index(0, 1));
        QPointer<MetadatiCategories> fields = w().findChild<MetadatiCategories *>();
        QVERIFY(fields && fields->isVisible() && fields->isModal());
        QCOMPARE(fields->windowTitle(), QString("Indici della classe Fatture"));
        auto *table = child<QTableView>(fields.data(), "twMetadati");
        QString marks; // visible, required
        for (int row = 0; row < 3; ++row)
            for (int column : {4, 5})
                marks += QChar('0' + table->model()->index(row, column).data(Qt::DecorationRole)
                                         .isValid());
        QCOMPARE(QStringList({column(table, 2), column(table, 3), marks}),
                 QStringList({"Numero|Importo|Data", "Testo|Numerico|Data", "111011"}));
        child<QPushButton>(fields.data(), "btmClose")->click();
        QVERIFY(QTest::qWaitFor([&] { return !fields; }, kTimeout));
        view->setCurrentIndex(view->model()->index(2, 1)); // "Indici": the class chosen
        ui<QPushButton>("btmMetadati")->click();
        QVERIFY((fields = w().findChild<MetadatiCategories *>()));
        QCOMPARE(fields->windowTitle(), QString("Indici della classe Fatture d'acquisto"));
        fields->close();
    }

    void restartedServiceIsSignedInAgain() {
        QVERIFY(s.fixture.restart());
        QCOMPARE(resync(1), renewed);
    }

    void oneChangePasswordWindowAtATimeWhichRenewsWithTheNewPassword() {
        // The second click meets the open one; closed, the third makes it anew.
        QPointer<ChangePwdDialog> dialog;
        for (int click = 0; click < 3; ++click) {
            QTest::mouseClick(ui<QLabel>("lblChangePwd"), Qt::LeftButton);
            dialog = visibleTopLevel<ChangePwdDialog>();
            int open = 0;
            for (QWidget *widget : QApplication::topLevelWidgets())
                open += qobject_cast<ChangePwdDialog *>(widget) && widget->isVisible();
            QVERIFY(open == 1 && dialog->isModal() && (click != 1 || dialog->close()));
            QVERIFY(QTest::qWaitFor([&] { return click != 1 || !dialog; }, kTimeout));
        }
        const QString markup = "a&b<c>\"d'</newpwd><x>";
        child<QLineEdit>(dialog, "txtOldPassword")->setText(s.account.password);
        child<QLineEdit>(dialog, "txtNewPwd")->setText(markup);
        child<QLineEdit>(dialog, "txtConfirmPwd")->setText(markup);
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox("Modifica password", "Password modificata");
            child<QPushButton>(dialog, "btmSalva")->click();
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        }
        QVERIFY(s.fixture.store().checkPassword(s.account.user, s.account.password = markup));
        s.service().expireSessionsNow();
        QCOMPARE(resync(0), renewed);
        QCOMPARE(s.service().requests("login").value(0).element("password"), markup);
    }

    void trayAndSigningOutAndInAgain() {
        auto *tray = w().findChild<QSystemTrayIcon *>();
        QList<QAction *> actions = tray->contextMenu()->actions();
        // The window's and the login dialog's visibility, then the tray's entries.
        const auto state = [&] {
            QString seen = QString::number(w().isVisible()) +
                           (visibleTopLevel<LoginDialog>() ? "1" : "0");
            for (QAction *action : actions)
                seen += action->isVisible() && !action->isSeparator() ? ' ' + action->text() : "";
            return seen;
        };
        const QString in = " mario (Profilo di prova) &Mostra Conserva file Logout Esci";
        const auto click = [&](auto why) { emit tray->activated(why); };
        const QList<std::pair<std::function<void()>, QString>> steps = {
            {[&] { click(QSystemTrayIcon::Context); }, "10" + in},
            {[&] { click(QSystemTrayIcon::DoubleClick); }, "00" + in},
            {[&] { click(QSystemTrayIcon::DoubleClick); }, "10" + in},
            {[&] { w().hide(), actions[3]->trigger(); }, "10" + in}, // "Mostra"
            // Signed out, the login dialog stands in for the window.
            {[&] { QVERIFY(s.signOut()); }, "01 Login Esci"},
            {[&] { visibleTopLevel<LoginDialog>()->hide(), w().show(); }, "01 Login Esci"},
        };
        for (const auto &[step, expected] : steps) {
            step();
            QCOMPARE(state(), expected);
        }
        click(QSystemTrayIcon::MiddleClick);
        QCOMPARE(actions[0]->text(), QString("Non sei connesso"));

        // The next user, without a profile, sees no figures of the previous one.
        QVERIFY(s.fixture.store().createUser("luigi", "Verdi7?"));
        QVERIFY(signInThroughDialog("luigi", "Verdi7?", false, [&] { return w().isVisible(); }));
        QVERIFY(s.synchronised() && profiles()->count() == 0);
        QCOMPARE(ui<QLabel>("lblUserConn")->text(), QString("Sei connesso come: luigi"));
        QCOMPARE(ui<QTabWidget>("tabWidget")->indexOf(ui("tabStatistiche")), -1);
        QVERIFY(s.signOut());

        // A refused login leaves it signed out.
        Setting setting;
        setting.setValue("lastusername", "altro");
        s.service().clearRequests();
        QVERIFY(signInThroughDialog("mario", "no", false,
                                    [&] { return setting.value("lastusername") == "mario"; }));
        w().show();
        QVERIFY(requestLog(s.service()) == "login:0" && state() == "01 Login Esci");

        // Signed in, the settings say whether the credentials are remembered.
        for (const bool save : {true, false}) {
            setting.setValue("username", "prima");
            setting.setValue("password", "vecchia");
            QVERIFY((save || s.signOut()) && s.signIn(save));
            QCOMPARE(QStringList({setting.value("username"), setting.value("password"),
                                  setting.value("saveLogin"), setting.value("lastusername")}),
                     save ? QStringList({"mario", s.account.password, "1", "mario"})
                          : QStringList({"", "", "0", "mario"}));
        }
        QVERIFY(ui<QLabel>("lblUserConn")->text().contains(" di ")); // the figures are back
        QCOMPARE(resync(), QString("syncfolder:5")); // the new connection answers
    }

    void secondStartBringsTheWindowForward() {
        // Closed to the notification area, another window in front.
        w().hide();
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        w().showApp();
        QVERIFY(QTest::qWaitFor([this] { return QApplication::activeWindow() == &w(); }, kTimeout));
    }

    void closingHidesWithTrayAndQuitsWithout_data() {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }
    void closingHidesWithTrayAndQuitsWithout() {
        QFETCH(bool, tray);
        setTrayAvailableOverride(tray);
        if (!tray) { // said at start
            ScriptedDialogs dialogs;
            dialogs.expectBox("Errore", "Il sistema non dispone di un'area di notifica");
            CoreMain another;
        }
        // Only a running loop can be quit; an answered synchronisation shows
        // that it went on running after the close.
        QTimer::singleShot(0, &w(), [this] { w().close(); w().syncCategorie(); });
        QObject guard; // a timeout that ends with this case
        QTimer::singleShot(kTimeout, &guard, [] { QCoreApplication::exit(-1); });
        const auto answered = connect(&s.service(), &LocalService::requestHandled,
                                      [] { QCoreApplication::exit(1); });
        const int code = QCoreApplication::exec();
        disconnect(answered);
        setTrayAvailableOverride(true);
        QCOMPARE(code, tray ? 1 : 0);
        QVERIFY(!w().isVisible() && s.synchronised());
        w().show();
    }

    void closingTheProxyDialogReappliesTheProxy() {
        auto *conn = w().findChild<QVWConn *>();
        QCOMPARE(conn->proxy().type(), QNetworkProxy::NoProxy);
        ui<QPushButton>("btmSettingsProxy")->click();
        ProxyDialog *dialog = visibleTopLevel<ProxyDialog>();
        QVERIFY(dialog && dialog->isModal());
        // Stored meanwhile (by the login dialog's proxy window, say): even
        // "Annulla" applies what is stored.
        Setting().setValue("proxyUrl", "proxy.example");
        Setting().setValue("proxyPort", "3128");
        child<QPushButton>(dialog, "btmAnnulla")->click();
        QVERIFY(conn->proxy().hostName() == "proxy.example" && conn->proxy().port() == 3128);
    }
};

QUILLORA_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
