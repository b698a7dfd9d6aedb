// The main window against the local service: sign-in and sign-out, the tray,
// the pages, profiles with quota label and pie, the classes tab and the class
// fields window.
#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "ServiceFixture.h"
#include "TestHome.h"
#include "TrayOverride.h"

#include "account/ChangePwdDialog.h"
#include "account/ProxyDialog.h"
#include "classes/MetadatiCategories.h"
#include "mainwindow/CoreMain.h"
#include "mainwindow/QuotaChartView.h"
#include "service/LoginDialog.h"
#include "service/QVWConn.h"
#include "storage/Database.h"
#include "storage/Setting.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkProxy>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QSqlQuery>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

const int kTimeout = 20000;

template <typename T> QList<T *> visibleTopLevels() {
    QList<T *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(widget); window && window->isVisible())
            found.append(window);
    }
    return found;
}

template <typename T> T *visibleTopLevel() {
    const QList<T *> all = visibleTopLevels<T>();
    return all.isEmpty() ? nullptr : all.first();
}

QStringList visibleEntries(QMenu *menu) {
    QStringList texts;
    for (QAction *action : menu->actions()) {
        if (action->isVisible() && !action->isSeparator())
            texts.append(action->text());
    }
    return texts;
}

// One test's world: its own home, its own service with one account, scripted
// boxes, recorded browser addresses and a notification area unless told.
struct Session {
    explicit Session(bool tray = true)
        : trayOverride(tray) {
        account = fixture.createAccount(QStringLiteral("mario"), QStringLiteral("Segreta1!"));
    }

    LocalService &service() { return fixture.service(); }

    // The profile's figures as the service will send them.
    void setFigures(const QString &profileId, qint64 quota, qint64 used, const QString &unit,
                    qint64 div) {
        QSqlQuery query(fixture.store().database());
        query.prepare(QStringLiteral(
            "UPDATE profiles SET quota = ?, used = ?, unit = ?, div = ? WHERE id = ?"));
        query.addBindValue(quota);
        query.addBindValue(used);
        query.addBindValue(unit);
        query.addBindValue(div);
        query.addBindValue(profileId);
        QVERIFY(query.exec());
    }

    TrayOverride trayOverride;
    RecordedUrls opened;
    TestHome home;
    ServiceFixture fixture;
    ScriptedDialogs dialogs;
    TestAccount account;
};

// Signs in through the login dialog, as a user does.
bool signIn(CoreMain &window, const QString &user, const QString &password, bool save = false) {
    LoginDialog *login = nullptr;
    if (!QTest::qWaitFor([&] { return (login = visibleTopLevel<LoginDialog>()); }, kTimeout))
        return false;
    login->findChild<QLineEdit *>(QStringLiteral("leUsername"))->setText(user);
    login->findChild<QLineEdit *>(QStringLiteral("lePassword"))->setText(password);
    login->findChild<QCheckBox *>(QStringLiteral("ckbSalvaCredenziali"))->setChecked(save);
    login->findChild<QPushButton *>(QStringLiteral("btmOk"))->click();
    return QTest::qWaitFor([&] { return window.isVisible(); }, kTimeout);
}

bool signIn(CoreMain &window, const Session &s, bool save = false) {
    if (!s.fixture.isRunning() || s.account.profileId.isEmpty()) {
        qWarning() << "local service:" << s.fixture.errorString();
        return false;
    }
    return signIn(window, s.account.user, s.account.password, save);
}

template <typename T> T *widget(CoreMain &window, const char *name) {
    return window.findChild<T *>(QString::fromLatin1(name));
}

bool synchronised(CoreMain &window) {
    QLabel *loading = widget<QLabel>(window, "lblLoading");
    return QTest::qWaitFor([loading] { return loading->isHidden(); }, kTimeout);
}

int classRows(CoreMain &window) {
    return widget<QTableView>(window, "twCategorie")->model()->rowCount();
}

// Selects the profile `id` in the combo, which synchronises.
bool chooseProfile(CoreMain &window, const QString &id) {
    auto *combo = widget<QComboBox>(window, "cbBuckets");
    const int index = combo->findData(id);
    if (index < 0)
        return false;
    combo->setCurrentIndex(index);
    return synchronised(window);
}

void runClientSql(const QString &statement) {
    Database database;
    QVERIFY(database.open());
    {
        QSqlQuery query(database.db);
        QVERIFY2(query.exec(statement), qPrintable(statement));
    }
    database.close();
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The test certificates are made once, outside every test's home.
        QVERIFY(QFileInfo::exists(ServiceFixture::caCertificatePath()));
        // As the program: closing windows leaves it running in the tray.
        qApp->setQuitOnLastWindowClosed(false);
    }

    // --- life cycle, tray, sign-in and sign-out ---------------------------------

    void signedOutShowsTheLoginDialogInstead() {
        Session s;
        CoreMain window;
        QVERIFY(visibleTopLevel<LoginDialog>());
        QVERIFY(!window.isVisible());
        visibleTopLevel<LoginDialog>()->hide();
        window.show(); // as a second start of the program does
        QVERIFY(!window.isVisible());
        QVERIFY(visibleTopLevel<LoginDialog>());
        QCOMPARE(window.windowTitle(), QStringLiteral("Quillora Lite"));
        QVERIFY(window.windowFlags() & Qt::Window);
        QVERIFY(s.dialogs.boxes().isEmpty());
    }

    void trayEntriesFollowTheState() {
        Session s;
        CoreMain window;
        auto *tray = window.findChild<QSystemTrayIcon *>();
        QVERIFY(tray);
        QMenu *menu = tray->contextMenu();
        QVERIFY(menu);
        QCOMPARE(visibleEntries(menu),
                 QStringList({QStringLiteral("Login"), QStringLiteral("Esci")}));

        emit tray->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Non sei connesso"));
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("(Nessun Profilo)"));
        QVERIFY(menu->actions().at(0)->font().bold());

        QVERIFY(signIn(window, s));
        emit tray->activated(QSystemTrayIcon::Context);
        QCOMPARE(visibleEntries(menu),
                 QStringList({QStringLiteral("mario"), QStringLiteral("(Profilo di prova)"),
                              QStringLiteral("&Mostra"), QStringLiteral("Conserva file"),
                              QStringLiteral("Logout"), QStringLiteral("Esci")}));

        // Double clicks hide and show the signed-in window.
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!window.isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(window.isVisible());

        // "&Mostra" brings back a hidden window.
        window.hide();
        menu->actions().at(3)->trigger();
        QVERIFY(window.isVisible());

        widget<QToolButton>(window, "btmLogout")->click();
        QVERIFY(!window.isVisible());
        QVERIFY(visibleTopLevel<LoginDialog>());
        QCOMPARE(visibleEntries(menu),
                 QStringList({QStringLiteral("Login"), QStringLiteral("Esci")}));
        emit tray->activated(QSystemTrayIcon::MiddleClick);
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Non sei connesso"));

        // Signed out, a double click brings the login dialog, not the window.
        visibleTopLevel<LoginDialog>()->hide();
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!window.isVisible());
        QVERIFY(visibleTopLevel<LoginDialog>());
    }

    void refusedLoginKeepsTheWindowSignedOut() {
        Session s;
        CoreMain window;
        LoginDialog *login = visibleTopLevel<LoginDialog>();
        login->findChild<QLineEdit *>(QStringLiteral("leUsername"))
            ->setText(QStringLiteral("mario"));
        login->findChild<QLineEdit *>(QStringLiteral("lePassword"))->setText(QStringLiteral("no"));
        login->findChild<QPushButton *>(QStringLiteral("btmOk"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(Setting().value(QStringLiteral("lastusername")),
                                  QStringLiteral("mario"), kTimeout);
        QVERIFY(!window.isVisible());
        window.show();
        QVERIFY(!window.isVisible());
        auto *tray = window.findChild<QSystemTrayIcon *>();
        QCOMPARE(visibleEntries(tray->contextMenu()).last(), QStringLiteral("Esci"));
        QVERIFY(visibleEntries(tray->contextMenu()).contains(QStringLiteral("Login")));
    }

    void settingsWrittenAfterSignIn_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("remembered") << true;
        QTest::newRow("not remembered") << false;
    }
    void settingsWrittenAfterSignIn() {
        QFETCH(bool, save);
        Session s;
        Setting setting;
        setting.setValue(QStringLiteral("username"), QStringLiteral("prima"));
        setting.setValue(QStringLiteral("password"), QStringLiteral("vecchia"));
        CoreMain window;
        QVERIFY(signIn(window, s, save));
        QCOMPARE(setting.value(QStringLiteral("username")), save ? s.account.user : QString());
        QCOMPARE(setting.value(QStringLiteral("password")), save ? s.account.password : QString());
        QCOMPARE(setting.value(QStringLiteral("saveLogin")),
                 save ? QStringLiteral("1") : QStringLiteral("0"));
        QCOMPARE(setting.value(QStringLiteral("lastusername")), s.account.user);
    }

    void signedInWindowShowsTheAccount() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        auto *combo = widget<QComboBox>(window, "cbBuckets");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("Profilo di prova"));
        QCOMPARE(combo->itemData(0).toString(), s.account.profileId);
        QCOMPARE(combo->itemData(1).toString(), s.account.emptyProfileId);
        QVERIFY(widget<QWidget>(window, "wListFiles")->isVisible());
        QVERIFY(!widget<QWidget>(window, "wSettings")->isVisible());
        QVERIFY(!widget<QWidget>(window, "hwBottoniera")->isVisible());
        QVERIFY(!widget<QWidget>(window, "tbwMetadati")->isVisible());
        QCOMPARE(widget<QPushButton>(window, "btmHideDetail")->text(),
                 QStringLiteral("Mostra Dettagli"));
        QCOMPARE(classRows(window), 2);

        widget<QToolButton>(window, "btmSettings")->click();
        QVERIFY(widget<QWidget>(window, "wSettings")->isVisible());
        QVERIFY(!widget<QWidget>(window, "wListFiles")->isVisible());
        QCOMPARE(widget<QTabWidget>(window, "tabWidget")->currentIndex(), 0);
        QVERIFY(!widget<QWidget>(window, "btmAggiungiCat")->isVisible());
        QVERIFY(!widget<QWidget>(window, "btmDeleteCateg")->isVisible());
        widget<QToolButton>(window, "btmListFile")->click();
        QVERIFY(widget<QWidget>(window, "wListFiles")->isVisible());
        QVERIFY(!widget<QWidget>(window, "wSettings")->isVisible());
    }

    void listColumnsFollowTheWindowSize() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        auto *list = widget<QTableView>(window, "tbwFile");
        for (const QSize &size : {QSize(1200, 760), QSize(900, 600), QSize(1050, 671)}) {
            window.resize(size);
            QTRY_COMPARE_WITH_TIMEOUT(window.size(), size, kTimeout);
            const int expected = list->width() / 5 - 5;
            for (int column = 1; column <= 5; ++column)
                QCOMPARE(list->columnWidth(column), expected);
        }
        for (int column : {0, 6, 7})
            QVERIFY(list->isColumnHidden(column));
    }

    void signOutAndInAgainSynchronises() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        widget<QToolButton>(window, "btmLogout")->click();
        QVERIFY(!window.isVisible());
        QVERIFY(signIn(window, s));
        // The connection of the first sign-in is gone; the new one answers.
        s.service().clearRequests();
        QVERIFY(chooseProfile(window, s.account.emptyProfileId));
        QCOMPARE(s.service().requests(QStringLiteral("syncfolder")).size(), 1);
        QCOMPARE(classRows(window), 0);
    }

    void closingHidesWithTrayAndQuitsWithout_data() {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }
    void closingHidesWithTrayAndQuitsWithout() {
        QFETCH(bool, tray);
        Session s(tray);
        if (!tray)
            s.dialogs.expectBox(QStringLiteral("Il sistema non dispone di un'area di notifica"));
        CoreMain window;
        if (!tray) {
            QCOMPARE(s.dialogs.boxes().size(), 1);
            QCOMPARE(s.dialogs.boxes().first().icon, QMessageBox::Warning);
            QCOMPARE(s.dialogs.boxes().first().title, QStringLiteral("Errore"));
        }
        QVERIFY(signIn(window, s));

        // Only a running event loop can be quit: close the window inside one.
        const int stillRunning = 7;
        QTimer::singleShot(0, &window, [&window] { window.close(); });
        QTimer::singleShot(3000, qApp, [] { QCoreApplication::exit(stillRunning); });
        const int code = QCoreApplication::exec();
        QCOMPARE(code, tray ? stillRunning : 0);
        QVERIFY(!window.isVisible());
    }

    // --- profiles, quota label and pie ---------------------------------------------

    void quotaLabelAndPie_data() {
        QTest::addColumn<qint64>("quota");
        QTest::addColumn<qint64>("used");
        QTest::addColumn<qint64>("div");
        QTest::addColumn<QString>("figures");
        QTest::addColumn<QString>("colour");
        QTest::newRow("5 of 10 MB") << qint64(10000) << qint64(5000) << qint64(1000)
                                    << QStringLiteral("(5 di 10 MB)") << QStringLiteral("black");
        QTest::newRow("79 %") << qint64(100000) << qint64(79000) << qint64(1000)
                              << QStringLiteral("(79 di 100 MB)") << QStringLiteral("black");
        QTest::newRow("80 %") << qint64(100000) << qint64(80000) << qint64(1000)
                              << QStringLiteral("(80 di 100 MB)") << QStringLiteral("red");
        QTest::newRow("over the quota") << qint64(10000) << qint64(12000) << qint64(1000)
                                        << QStringLiteral("(12 di 10 MB)") << QStringLiteral("red");
    }
    void quotaLabelAndPie() {
        QFETCH(qint64, quota);
        QFETCH(qint64, used);
        QFETCH(qint64, div);
        QFETCH(QString, figures);
        QFETCH(QString, colour);
        Session s;
        s.setFigures(s.account.profileId, quota, used, QStringLiteral("MB"), div);
        CoreMain window;
        QVERIFY(signIn(window, s));

        auto *label = widget<QLabel>(window, "lblUserConn");
        QVERIFY(label->text().contains(QStringLiteral("Sei connesso come: mario ") + figures));
        QVERIFY(label->text().contains(QStringLiteral("<a href=\"#buyquota\">")));
        QVERIFY(label->text().contains(QStringLiteral("(Acquista spazio)")));
        QCOMPARE(label->styleSheet(), QStringLiteral("QLabel {color:%1;}").arg(colour));

        auto *tabs = widget<QTabWidget>(window, "tabWidget");
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(2), QStringLiteral("Statistiche utilizzo"));
        QPieSeries *pie = widget<QuotaChartView>(window, "wwCharts")->series();
        QCOMPARE(pie->count(), 2);
        const qint64 u = used / div, q = quota / div;
        QCOMPARE(pie->slices().at(0)->label(), QStringLiteral("Libero: %1 MB").arg(q - u));
        QCOMPARE(pie->slices().at(1)->label(), QStringLiteral("Utilizzato: %1 MB").arg(u));
        QCOMPARE(pie->slices().at(0)->color(), QColor(QStringLiteral("#13e837")));
        QCOMPARE(pie->slices().at(1)->color(), QColor(QStringLiteral("#FF0000")));
        QCOMPARE(pie->slices().at(1)->labelColor(), QColor(Qt::black));
        QCOMPARE(pie->slices().at(1)->value(), qreal(u));
        QVERIFY(pie->slices().at(0)->value() >= 0);
        QVERIFY(pie->slices().at(1)->isLabelVisible());
    }

    void profileWithoutQuotaHasNoChartAndNoBuyLink() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        auto *tabs = widget<QTabWidget>(window, "tabWidget");
        auto *label = widget<QLabel>(window, "lblUserConn");
        QCOMPARE(tabs->count(), 3);

        s.service().clearRequests();
        QVERIFY(chooseProfile(window, s.account.emptyProfileId));
        QCOMPARE(s.service().requests(QStringLiteral("syncfolder")).size(), 1);
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->indexOf(widget<QWidget>(window, "tabStatistiche")), -1);
        QCOMPARE(label->text(), QStringLiteral("Sei connesso come: mario"));
        QCOMPARE(label->styleSheet(), QStringLiteral("QLabel {color:black;}"));
        QCOMPARE(widget<QuotaChartView>(window, "wwCharts")->series()->count(), 0);
        QCOMPARE(classRows(window), 0);
        window.onClickBuyQuota(QStringLiteral("#buyquota"));
        QVERIFY(s.opened.urls().isEmpty());

        // Back to the profile with a quota: the chart and the link return.
        QVERIFY(chooseProfile(window, s.account.profileId));
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(classRows(window), 2);
        QVERIFY(label->text().contains(QStringLiteral("(Acquista spazio)")));
        window.onClickBuyQuota(QStringLiteral("#altro"));
        QVERIFY(s.opened.urls().isEmpty());
        window.onClickBuyQuota(QStringLiteral("#buyquota"));
        QCOMPARE(s.opened.urls(), QList<QUrl>({QUrl(s.fixture.baseUrlString() +
                                                    QStringLiteral("/vazedo/BuyQuota/"))}));

        widget<QToolButton>(window, "btmHelp")->click();
        QCOMPARE(s.opened.urls().last(),
                 QUrl(s.fixture.baseUrlString() + QStringLiteral("/vazedo/Help/")));
    }

    void oddFiguresShowAsZero_data() {
        QTest::addColumn<QString>("quota");
        QTest::addColumn<QString>("used");
        QTest::addColumn<QString>("div");
        QTest::addColumn<QString>("figures");
        QTest::newRow("divisor 0") << QStringLiteral("10000") << QStringLiteral("5000")
                                   << QStringLiteral("0") << QStringLiteral("(0 di 0 MB)");
        QTest::newRow("words") << QStringLiteral("dieci") << QStringLiteral("5000")
                               << QStringLiteral("1000") << QStringLiteral("(5 di 0 MB)");
        QTest::newRow("beyond 32 bits") << QStringLiteral("10000") << QStringLiteral("99999999999")
                                        << QStringLiteral("1000") << QStringLiteral("(0 di 10 MB)");
        QTest::newRow("negative divisor")
            << QStringLiteral("-2147483648") << QStringLiteral("0") << QStringLiteral("-1")
            << QStringLiteral("(0 di 2147483648 MB)");
    }
    void oddFiguresShowAsZero() {
        QFETCH(QString, quota);
        QFETCH(QString, used);
        QFETCH(QString, div);
        QFETCH(QString, figures);
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        runClientSql(QStringLiteral("UPDATE buckets SET quota = '%1', used = '%2', div = '%3' "
                                    "WHERE idbuckets = '%4'")
                         .arg(quota, used, div, s.account.profileId));
        window.updateQuota();
        QVERIFY2(widget<QLabel>(window, "lblUserConn")->text().contains(figures),
                 qPrintable(widget<QLabel>(window, "lblUserConn")->text()));
        QCOMPARE(widget<QuotaChartView>(window, "wwCharts")->series()->count(), 2);
    }

    void failedSynchronisationIsReportedAsPlainText() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        s.service().scriptReply(
            500,
            QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><statusnumber>4"
                       "</statusnumber><body><statusdescription>Classe &lt;b&gt;sconosciuta"
                       "&lt;/b&gt;</statusdescription></body></response>"),
            QStringLiteral("syncfolder"));
        s.dialogs.expectBox(QStringLiteral("Classe <b>sconosciuta</b>"));
        window.syncCategorie();
        QTRY_VERIFY_WITH_TIMEOUT(s.dialogs.allAnswered(), kTimeout);
        const MessageBox::Request box = s.dialogs.boxes().last();
        QCOMPARE(box.title, QStringLiteral("Errore"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.format, Qt::PlainText);
        QVERIFY(!window.isVisible()); // the tray brings it back
        QVERIFY(widget<QLabel>(window, "lblLoading")->isHidden());

        // The next synchronisation is heard again.
        window.show();
        QVERIFY(window.isVisible());
        s.service().clearRequests();
        QVERIFY(chooseProfile(window, s.account.emptyProfileId));
        QCOMPARE(classRows(window), 0);
    }

    void expiredSessionIsRenewedWithTheSignedInCredentials() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        s.service().expireSessionsNow();
        s.service().clearRequests();
        window.syncCategorie();
        QTRY_VERIFY_WITH_TIMEOUT(widget<QLabel>(window, "lblLoading")->isHidden(), kTimeout);
        QStringList actions;
        for (const auto &request : s.service().requests())
            actions.append(request.action);
        QCOMPARE(actions, (QStringList{QStringLiteral("syncfolder"), QStringLiteral("login"),
                                       QStringLiteral("syncfolder")}));
        QCOMPARE(s.service().requests(QStringLiteral("login")).first().element(
                     QStringLiteral("username")),
                 s.account.user);
        QVERIFY(s.dialogs.boxes().isEmpty());
        QVERIFY(window.isVisible());
    }

    void sessionThatCannotBeRenewedEndsTheSynchronisation() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        // The password was changed elsewhere: the renewal is refused.
        QVERIFY(s.fixture.store().setPassword(s.account.user, QStringLiteral("Altra1!")));
        s.service().expireSessionsNow();
        s.dialogs.expectBox(QStringLiteral("sessione"));
        window.syncCategorie();
        QTRY_VERIFY_WITH_TIMEOUT(s.dialogs.allAnswered(), kTimeout);
        QVERIFY(widget<QLabel>(window, "lblLoading")->isHidden());
    }

    // --- classes tab and class fields window ------------------------------------

    void classFilterIsQuoteSafe() {
        Session s;
        s.fixture.store().addClass(s.account.profileId, QStringLiteral("Fatture d'acquisto"),
                                   QStringLiteral("Fatture"));
        CoreMain window;
        QVERIFY(signIn(window, s));
        auto *filter = widget<QLineEdit>(window, "leSearchCateg");
        auto *view = widget<QTableView>(window, "twCategorie");
        QCOMPARE(classRows(window), 3);
        QVERIFY(view->isColumnHidden(0));
        QVERIFY(!view->isColumnHidden(1));
        for (int column : {2, 3, 4, 5})
            QVERIFY(view->isColumnHidden(column));
        QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Classe"));

        filter->setText(QStringLiteral("FATT"));
        QCOMPARE(classRows(window), 2);
        filter->setText(QStringLiteral("d'a"));
        QCOMPARE(classRows(window), 1);
        QCOMPARE(view->model()->index(0, 1).data().toString(),
                 QStringLiteral("Fatture d'acquisto"));
        filter->setText(QStringLiteral("x' OR '1'='1"));
        QCOMPARE(classRows(window), 0);
        filter->setText(QString());
        QCOMPARE(classRows(window), 3);
    }

    void classFieldsWindow() {
        Session s;
        const int emptyClass =
            s.fixture.store().addClass(s.account.profileId, QStringLiteral("Vuota"), QString());
        CoreMain window;
        QVERIFY(signIn(window, s));
        const int classId = s.account.classIds.first();
        // A field whose type the client does not know is left out.
        runClientSql(QStringLiteral("INSERT INTO metadati (idfolder, nome, tipo, visibile, "
                                    "required, custom) VALUES (%1, 'Strano', 9, 1, 1, 0)")
                         .arg(classId));

        auto *view = widget<QTableView>(window, "twCategorie");
        QModelIndex first;
        for (int row = 0; row < view->model()->rowCount(); ++row) {
            if (view->model()->index(row, 0).data().toInt() == classId)
                first = view->model()->index(row, 1);
        }
        QVERIFY(first.isValid());
        window.onClickShowMetadata(first);
        auto *fields = window.findChild<MetadatiCategories *>();
        QVERIFY(fields);
        QVERIFY(fields->isVisible());
        QVERIFY(fields->isModal());
        QVERIFY(fields->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(fields->windowTitle(), QStringLiteral("Indici della classe Fatture"));
        for (const char *hidden : {"btmAdd", "btmUpdate", "btmDelete"})
            QVERIFY(!fields->findChild<QWidget *>(QString::fromLatin1(hidden))->isVisible());

        auto *table = fields->findChild<QTableView *>(QStringLiteral("twMetadati"));
        QAbstractItemModel *model = table->model();
        QCOMPARE(model->rowCount(), 3);
        for (int column : {0, 1, 6})
            QVERIFY(table->isColumnHidden(column));
        QCOMPARE(table->columnWidth(2), 350);
        QCOMPARE(table->columnWidth(3), 120);
        QCOMPARE(model->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Obbligatorio"));
        QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("Numero"));
        QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("Testo"));
        QCOMPARE(model->index(1, 3).data().toString(), QStringLiteral("Numerico"));
        QCOMPARE(model->index(2, 3).data().toString(), QStringLiteral("Data"));

        // "Numero" is required, "Importo" is not; all are visible.
        const QVariant check = model->index(0, 5).data(Qt::DecorationRole);
        QCOMPARE(check.typeId(), QMetaType::QPixmap);
        QCOMPARE(check.value<QPixmap>().size(), QSize(16, 16));
        QCOMPARE(model->index(0, 5).data(Qt::DisplayRole).typeId(), QMetaType::QPixmap);
        QCOMPARE(model->index(1, 5).data(Qt::DisplayRole).toString(), QString());
        QVERIFY(!model->index(1, 5).data(Qt::DecorationRole).isValid());
        QCOMPARE(model->index(1, 4).data(Qt::DecorationRole).value<QPixmap>().size(),
                 QSize(16, 16));
        QCOMPARE(model->index(1, 5).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        QVERIFY(!model->index(1, 4).data(Qt::TextAlignmentRole).isValid());

        QPointer<MetadatiCategories> closing = fields;
        fields->findChild<QPushButton *>(QStringLiteral("btmClose"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(!closing, kTimeout);

        window.onClickShowMetadata(emptyClass, QStringLiteral("Vuota"));
        fields = window.findChild<MetadatiCategories *>();
        QVERIFY(fields);
        table = fields->findChild<QTableView *>(QStringLiteral("twMetadati"));
        QCOMPARE(table->model()->rowCount(), 0);
        QCOMPARE(table->model()->headerData(2, Qt::Horizontal).toString(),
                 QStringLiteral("Nome classe"));
        QVERIFY(table->horizontalHeader()->isVisible());
        fields->close();
    }

    void indiciButtonOpensTheChosenClass() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        window.showSettings();
        widget<QPushButton>(window, "btmMetadati")->click();
        QVERIFY(!window.findChild<MetadatiCategories *>()); // nothing chosen
        auto *view = widget<QTableView>(window, "twCategorie");
        view->setCurrentIndex(view->model()->index(1, 1));
        widget<QPushButton>(window, "btmMetadati")->click();
        auto *fields = window.findChild<MetadatiCategories *>();
        QVERIFY(fields);
        QCOMPARE(fields->windowTitle(), QStringLiteral("Indici della classe ") +
                                            view->model()->index(1, 1).data().toString());
        fields->close();
    }

    // --- password and proxy ----------------------------------------------------

    void oneChangePasswordWindowAtATime() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        auto *link = widget<QLabel>(window, "lblChangePwd");
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(visibleTopLevels<ChangePwdDialog>().size(), 1);
        QPointer<ChangePwdDialog> dialog = visibleTopLevel<ChangePwdDialog>();
        QVERIFY(dialog->isModal());
        dialog->close();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog, kTimeout);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(visibleTopLevels<ChangePwdDialog>().size(), 1);
        visibleTopLevel<ChangePwdDialog>()->close();
    }

    void closingTheProxyDialogReappliesTheProxy() {
        Session s;
        CoreMain window;
        QVERIFY(signIn(window, s));
        auto *conn = window.findChild<QVWConn *>();
        QVERIFY(conn);
        QCOMPARE(conn->proxy().type(), QNetworkProxy::NoProxy);

        widget<QPushButton>(window, "btmSettingsProxy")->click();
        ProxyDialog *dialog = visibleTopLevel<ProxyDialog>();
        QVERIFY(dialog);
        QVERIFY(dialog->isModal());
        // Stored meanwhile (for example by the login dialog's proxy window);
        // even "Annulla" re-applies what is stored.
        Setting setting;
        setting.setValue(QStringLiteral("proxyUrl"), QStringLiteral("proxy.example"));
        setting.setValue(QStringLiteral("proxyPort"), QStringLiteral("3128"));
        dialog->findChild<QPushButton *>(QStringLiteral("btmAnnulla"))->click();
        QCOMPARE(conn->proxy().hostName(), QStringLiteral("proxy.example"));
        QCOMPARE(conn->proxy().port(), quint16(3128));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
