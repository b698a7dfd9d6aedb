// The main window, signed in once against the local service: pages, quota
// label and pie, synchronisation failures, classes and their fields, the tray,
// signing out and in again, closing, and the windows it opens.
#include "QueryRows.h"
#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "account/ChangePwdDialog.h"
#include "account/ProxyDialog.h"
#include "classes/MetadatiCategories.h"
#include "mainwindow/CoreMain.h"
#include "mainwindow/QuotaChartView.h"
#include "service/LoginDialog.h"
#include "service/QVWConn.h"

#include <QNetworkProxy>
#include <QPieSeries>
#include <QPieSlice>
#include <QSqlQuery>
#include <QtWidgets>

namespace {
QString visibleEntries(QMenu *menu) {
    QStringList texts;
    for (QAction *action : menu->actions())
        if (action->isVisible() && !action->isSeparator())
            texts << action->text();
    return texts.join('|');
}

template <typename T> int visibleCount() {
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += qobject_cast<T *>(widget) && widget->isVisible();
    return count;
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    SignedInSession s;

    CoreMain &w() { return *s.window; }
    template <typename T = QWidget> T *ui(const char *name) { return child<T>(s.window.get(), name); }
    QString column(const char *view, int column) {
        QStringList texts;
        QAbstractItemModel *model = ui<QTableView>(view)->model();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, column).data().toString();
        return texts.join('|');
    }
    // "action:status" of every request the service saw since the last clear.
    QString log() {
        QStringList seen;
        for (const auto &request : s.service().requests())
            seen << request.action + ':' + request.statusNumber;
        return seen.join(' ');
    }
    bool resync() {
        s.service().clearRequests();
        w().syncCategorie();
        return s.synchronised() && log() == "syncfolder:5";
    }
    // Selecting a profile in the combo synchronises.
    bool chooseProfile(const QString &id) {
        auto *combo = ui<QComboBox>("cbBuckets");
        const int index = combo->findData(id);
        if (index == combo->currentIndex())
            return true;
        combo->setCurrentIndex(index);
        return index >= 0 && s.synchronised();
    }

private slots:
    void initTestCase() { QVERIFY(s.start()); }

    void signedInWindowShowsTheAccount() {
        auto *combo = ui<QComboBox>("cbBuckets");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QString("Profilo di prova"));
        QCOMPARE(combo->itemData(0).toString(), s.account.profileId);
        QCOMPARE(combo->itemData(1).toString(), s.account.emptyProfileId);
        QCOMPARE(column("twCategorie", 1), QString("Fatture|Contratti"));
        QVERIFY(ui("wListFiles")->isVisible() && !ui("wSettings")->isVisible());
        QVERIFY(!ui("hwBottoniera")->isVisible() && !ui("tbwMetadati")->isVisible());
        QCOMPARE(ui<QPushButton>("btmHideDetail")->text(), QString("Mostra Dettagli"));
        ui<QToolButton>("btmSettings")->click();
        QVERIFY(ui("wSettings")->isVisible() && !ui("wListFiles")->isVisible());
        QCOMPARE(ui<QTabWidget>("tabWidget")->currentIndex(), 0);
        QVERIFY(!ui("btmAggiungiCat")->isVisible() && !ui("btmDeleteCateg")->isVisible());
        ui<QToolButton>("btmListFile")->click();
        QVERIFY(ui("wListFiles")->isVisible() && !ui("wSettings")->isVisible());
        RecordedUrls opened;
        ui<QToolButton>("btmHelp")->click();
        emit ui<QLabel>("lblUserConn")->linkActivated("#altro");
        QCOMPARE(opened.urls(), QList<QUrl>{QUrl(s.fixture.baseUrlString() + "/vazedo/Help/")});
    }

    void quota_data() {
        QTest::addColumn<QString>("where"); // of the figures; none: the profile without quota
        QTest::addColumn<QString>("figures"); // quota used divisor
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("pie"); // label=room, * when the label is drawn
        const auto row = [](const char *name, const char *where, const char *figures,
                            const QString &shown, const char *colour, const char *pie) {
            QTest::newRow(name) << where << figures << "Sei connesso come: mario" + shown << colour
                                << pie;
        };
        const QString buy = " (Acquista spazio)";
        row("half", "service", "10000 5000 1000", " (5 di 10 MB)" + buy, "black",
            "Libero: 5 MB=5* Utilizzato: 5 MB=5*");
        row("79 %", "service", "100000 79000 1000", " (79 di 100 MB)" + buy, "black",
            "Libero: 21 MB=21* Utilizzato: 79 MB=79*");
        row("80 %", "service", "100000 80000 1000", " (80 di 100 MB)" + buy, "red",
            "Libero: 20 MB=20* Utilizzato: 80 MB=80*");
        row("full", "service", "10000 10000 1000", " (10 di 10 MB)" + buy, "red",
            "Libero: 0 MB=0 Utilizzato: 10 MB=10*");
        row("over the quota", "service", "10000 12000 1000", " (12 di 10 MB)" + buy, "red",
            "Libero: -2 MB=0 Utilizzato: 12 MB=12*");
        row("profile without quota", "", "", "", "black", "");
        // Odd figures in the mirror count as 0.
        row("divisor 0", "mirror", "10000 5000 0", " (0 di 0 MB)" + buy, "black",
            "Libero: 0 MB=0 Utilizzato: 0 MB=0");
        row("words", "mirror", "dieci 5000 1000", " (5 di 0 MB)" + buy, "black",
            "Libero: -5 MB=0 Utilizzato: 5 MB=5*");
        row("beyond 32 bits", "mirror", "10000 99999999999 1000", " (0 di 10 MB)" + buy, "black",
            "Libero: 10 MB=10* Utilizzato: 0 MB=0");
        row("negative divisor", "mirror", "-2147483648 0 -1", " (0 di 2147483648 MB)" + buy,
            "black", "Libero: 2147483648 MB=2147483648* Utilizzato: 0 MB=0");
    }
    void quota() {
        QFETCH(QString, where);
        QFETCH(QString, figures);
        QFETCH(QString, shown);
        QFETCH(QString, colour);
        QFETCH(QString, pie);
        const QStringList f = figures.split(' ');
        const QString id = where.isEmpty() ? s.account.emptyProfileId : s.account.profileId;
        QVERIFY(chooseProfile(id));
        if (where == "service") {
            QSqlQuery update(s.fixture.store().database());
            QVERIFY(update.exec(QString("UPDATE profiles SET quota = %1, used = %2, div = %3, "
                                        "unit = 'MB' WHERE id = '%4'").arg(f[0], f[1], f[2], id)));
            QVERIFY(resync());
        } else if (where == "mirror") {
            QCOMPARE(mirrorRows(QString("UPDATE buckets SET quota = '%1', used = '%2', div = '%3' "
                                        "WHERE idbuckets = '%4'").arg(f[0], f[1], f[2], id)),
                     QStringList());
            w().updateQuota();
        }
        auto *label = ui<QLabel>("lblUserConn");
        QTextDocument text;
        text.setHtml(label->text());
        QCOMPARE(label->textFormat() == Qt::RichText ? text.toPlainText() : label->text(), shown);
        QVERIFY(pie.isEmpty() || label->text().contains("<a href=\"#buyquota\">"));
        QCOMPARE(label->styleSheet(), "QLabel {color:" + colour + ";}");
        QStringList slices;
        for (QPieSlice *slice : ui<QuotaChartView>("wwCharts")->series()->slices())
            slices << slice->label() + '=' + QString::number(slice->value(), 'f', 0) +
                          (slice->isLabelVisible() ? "*" : "");
        QCOMPARE(slices.join(' '), pie);
        const int chartTab = ui<QTabWidget>("tabWidget")->indexOf(ui("tabStatistiche"));
        QCOMPARE(chartTab, pie.isEmpty() ? -1 : 2);
        QCOMPARE(column("twCategorie", 1), QString(where.isEmpty() ? "" : "Fatture|Contratti"));
        RecordedUrls opened;
        emit label->linkActivated("#buyquota");
        QCOMPARE(opened.urls(), pie.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(
                                    s.fixture.baseUrlString() + "/vazedo/BuyQuota/")});
    }

    void failedSynchronisationIsReportedAsPlainText() {
        QVERIFY(chooseProfile(s.account.profileId));
        const QString description = "Classe <b>sconosciuta</b>";
        s.service().scriptReply(500, serviceReply("4", "<statusdescription>" +
                                                           description.toHtmlEscaped() +
                                                           "</statusdescription>"), "syncfolder");
        ScriptedDialogs dialogs;
        dialogs.expectBox("Errore", description);
        w().syncCategorie();
        QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        QCOMPARE(dialogs.boxes().first().text, description);
        QCOMPARE(dialogs.boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(dialogs.boxes().first().format, Qt::PlainText);
        QVERIFY(!w().isVisible() && ui("lblLoading")->isHidden()); // the tray brings it back
        w().show();
        QVERIFY(resync()); // the next one is heard again
    }

    void expiredSessionIsRenewedWithTheSignedInCredentials() {
        s.service().expireSessionsNow();
        s.service().clearRequests();
        w().syncCategorie();
        QVERIFY(s.synchronised());
        QCOMPARE(log(), QString("syncfolder:19 login:1 syncfolder:5"));
        QCOMPARE(s.service().requests("login").first().element("username"), s.account.user);
        QVERIFY(w().isVisible());
    }

    void classFilterIsQuoteSafe() {
        s.fixture.store().addClass(s.account.profileId, "Fatture d'acquisto", "Fatture");
        QVERIFY(resync());
        auto *filter = ui<QLineEdit>("leSearchCateg");
        const QStringList rows = {"FATT", "Fatture|Fatture d'acquisto", "d'a", "Fatture d'acquisto",
                                  "x' OR '1'='1", "", "", "Fatture|Contratti|Fatture d'acquisto"};
        for (int i = 0; i < rows.size(); i += 2) {
            filter->setText(rows[i]);
            QCOMPARE(column("twCategorie", 1), rows[i + 1]);
        }
    }

    void classFieldsWindowOpensTheChosenClass() {
        const int classId = s.account.classIds.first();
        s.fixture.store().addClass(s.account.profileId, "Vuota", QString());
        QVERIFY(resync());
        // A field of a type the client does not know is left out.
        QCOMPARE(mirrorRows(QString("INSERT INTO metadati (idfolder, nome, tipo, visibile, "
                                    "required, custom) VALUES (%1, 'Strano', 9, 1, 1, 0)")
                                .arg(classId)),
                 QStringList());
        auto *view = ui<QTableView>("twCategorie");
        emit view->doubleClicked(view->model()->index(0, 1));
        QPointer<MetadatiCategories> fields = w().findChild<MetadatiCategories *>();
        QVERIFY(fields && fields->isVisible() && fields->isModal());
        QCOMPARE(fields->windowTitle(), QString("Indici della classe Fatture"));
        QStringList rows;
        QAbstractItemModel *model = child<QTableView>(fields.data(), "twMetadati")->model();
        for (int row = 0; row < model->rowCount(); ++row)
            rows << model->index(row, 2).data().toString() + ' ' +
                        model->index(row, 3).data().toString() +
                        (model->index(row, 4).data(Qt::DecorationRole).isValid() ? " v" : "") +
                        (model->index(row, 5).data(Qt::DecorationRole).isValid() ? " r" : "");
        QCOMPARE(rows.join('|'), QString("Numero Testo v r|Importo Numerico v|Data Data v r"));
        for (const char *hidden : {"btmAdd", "btmUpdate", "btmDelete"}) // it only shows
            QVERIFY(!child<QWidget>(fields.data(), hidden)->isVisible());
        child<QPushButton>(fields.data(), "btmClose")->click();
        QVERIFY(QTest::qWaitFor([&] { return !fields; }, kTimeout));

        // "Indici" opens the class chosen in the list, and nothing without one.
        w().showSettings();
        view->setCurrentIndex(QModelIndex());
        ui<QPushButton>("btmMetadati")->click();
        QVERIFY(!w().findChild<MetadatiCategories *>());
        view->setCurrentIndex(view->model()->index(3, 1));
        ui<QPushButton>("btmMetadati")->click();
        fields = w().findChild<MetadatiCategories *>();
        QVERIFY(fields);
        QCOMPARE(fields->windowTitle(), QString("Indici della classe Vuota"));
        QCOMPARE(child<QTableView>(fields.data(), "twMetadati")->model()->rowCount(), 0);
        fields->close();
        QVERIFY(QTest::qWaitFor([&] { return !fields; }, kTimeout));
    }

    void oneChangePasswordWindowAtATime() {
        auto *link = ui<QLabel>("lblChangePwd");
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(visibleCount<ChangePwdDialog>(), 1);
        QPointer<ChangePwdDialog> dialog = visibleTopLevel<ChangePwdDialog>();
        QVERIFY(dialog->isModal());
        dialog->close();
        QVERIFY(QTest::qWaitFor([&] { return !dialog; }, kTimeout));
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(visibleCount<ChangePwdDialog>(), 1);
        visibleTopLevel<ChangePwdDialog>()->close();
    }

    void sessionThatCannotBeRenewedEndsTheSynchronisation() {
        // The password was changed elsewhere: the renewal is refused.
        QVERIFY(s.fixture.store().setPassword(s.account.user, "Altra1!"));
        s.service().expireSessionsNow();
        s.service().clearRequests();
        ScriptedDialogs dialogs;
        dialogs.expectBox("Errore", "La sessione è scaduta: accedi di nuovo e riprova");
        w().syncCategorie();
        QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        QVERIFY(ui("lblLoading")->isHidden());
        QCOMPARE(log(), QString("syncfolder:19 login:0"));
        QVERIFY(s.fixture.store().setPassword(s.account.user, s.account.password));
    }

    void trayAndSigningOutAndInAgain() {
        w().show();
        auto *tray = w().findChild<QSystemTrayIcon *>();
        QMenu *menu = tray->contextMenu();
        emit tray->activated(QSystemTrayIcon::Context);
        QCOMPARE(visibleEntries(menu),
                 QString("mario|(Profilo di prova)|&Mostra|Conserva file|Logout|Esci"));
        QVERIFY(menu->actions().at(0)->font().bold());
        // Double clicks hide and show the window; "Mostra" brings it back.
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!w().isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w().isVisible());
        w().hide();
        menu->actions().at(3)->trigger();
        QVERIFY(w().isVisible());

        // Signed out, the login dialog stands in for the window.
        QVERIFY(s.signOut());
        QVERIFY(!w().isVisible());
        QCOMPARE(visibleEntries(menu), QString("Login|Esci"));
        emit tray->activated(QSystemTrayIcon::MiddleClick);
        QCOMPARE(menu->actions().at(0)->text(), QString("Non sei connesso"));
        visibleTopLevel<LoginDialog>()->hide();
        w().show(); // as a second start of the program does
        QVERIFY(!w().isVisible() && visibleTopLevel<LoginDialog>());
        visibleTopLevel<LoginDialog>()->hide();
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!w().isVisible() && visibleTopLevel<LoginDialog>());

        // A refused login leaves it signed out.
        Setting setting;
        setting.setValue("lastusername", "altro");
        s.service().clearRequests();
        QVERIFY(signInThroughDialog("mario", "no", false,
                                    [&] { return setting.value("lastusername") == "mario"; }));
        QCOMPARE(log(), QString("login:0"));
        w().show();
        QVERIFY(!w().isVisible());
        QCOMPARE(visibleEntries(menu), QString("Login|Esci"));

        // Signed in, the settings say whether the credentials are remembered.
        for (const bool save : {true, false}) {
            setting.setValue("username", "prima");
            setting.setValue("password", "vecchia");
            QVERIFY(save || s.signOut());
            QVERIFY(s.signIn(save));
            QCOMPARE(QStringList({setting.value("username"), setting.value("password"),
                                  setting.value("saveLogin"), setting.value("lastusername")})
                         .join('|'),
                     QString(save ? "mario|Segreta1!|1|mario" : "||0|mario"));
        }
        QVERIFY(resync()); // the new connection answers
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
            QCOMPARE(dialogs.boxes().first().icon, QMessageBox::Warning);
        }
        // Only a running loop can be quit; an answered synchronisation shows
        // that it went on running after the close.
        QTimer::singleShot(0, &w(), [this] {
            w().close();
            w().syncCategorie();
        });
        QTimer timeout;
        connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        timeout.start(kTimeout);
        const auto answered = connect(&s.service(), &LocalService::requestHandled,
                                      [] { QCoreApplication::exit(1); });
        const int code = QCoreApplication::exec();
        disconnect(answered);
        setTrayAvailableOverride(true);
        QCOMPARE(code, tray ? 1 : 0);
        QVERIFY(!w().isVisible());
        QVERIFY(s.synchronised());
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
        Setting setting;
        setting.setValue("proxyUrl", "proxy.example");
        setting.setValue("proxyPort", "3128");
        child<QPushButton>(dialog, "btmAnnulla")->click();
        QCOMPARE(conn->proxy().hostName(), QString("proxy.example"));
        QCOMPARE(conn->proxy().port(), quint16(3128));
    }
};

QUILLORA_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
