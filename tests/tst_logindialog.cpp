#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "ServiceFixture.h"
#include "ServiceXml.h"
#include "TestHome.h"
#include "TrayOverride.h"
#include "account/ProxyDialog.h"
#include "service/LoginDialog.h"
#include "service/QVWConn.h"
#include "storage/Database.h"
#include "storage/Setting.h"
#include "update/DialogUpdate.h"

#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const int kTimeout = 60000;

// Rows of a mirror table, -1 when the mirror cannot be read.
int mirrorRows(const QString &table, const QString &where = QString()) {
    Database database;
    if (!database.open())
        return -1;
    int rows = -1;
    {
        QSqlQuery q(database.db);
        QString sql = QStringLiteral("SELECT count(*) FROM ") + table;
        if (!where.isEmpty())
            sql += QStringLiteral(" WHERE ") + where;
        if (q.exec(sql) && q.next())
            rows = q.value(0).toInt();
    }
    database.close();
    return rows;
}

// A loopback port on which nobody listens.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

template <class T> T *visibleTopLevel() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *t = qobject_cast<T *>(w); t && t->isVisible())
            return t;
    }
    return nullptr;
}

// Sees whether the application is asked to quit while its event loop runs.
class QuitWatcher : public QObject {
public:
    bool seen = false;
    bool eventFilter(QObject *object, QEvent *event) override {
        if (object == qApp && event->type() == QEvent::Quit)
            seen = true;
        return QObject::eventFilter(object, event);
    }
};

// Runs the application's own event loop around `action`; true when the
// application was asked to quit.
bool quitRequested(const std::function<void()> &action) {
    QuitWatcher watcher;
    qApp->installEventFilter(&watcher);
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    safety.start(kTimeout);
    QTimer::singleShot(0, qApp, [&action] {
        action();
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    });
    QCoreApplication::exec();
    qApp->removeEventFilter(&watcher);
    return watcher.seen;
}

// A home, the local service with one account, the shared cookie jar and the
// dialog (declared last: it goes first).
struct Setup {
    TestHome home;
    ServiceFixture fixture;
    std::unique_ptr<QNetworkCookieJar> jar = std::make_unique<QNetworkCookieJar>();
    Setting setting;
    TestAccount account;
    std::unique_ptr<LoginDialog> dialog;
    std::unique_ptr<QSignalSpy> loginOK, loginKO;

    bool start(int documents = 3) {
        if (!fixture.isRunning())
            return false;
        account =
            fixture.createAccount(QStringLiteral("anna"), QStringLiteral("segreta"), documents);
        dialog = std::make_unique<LoginDialog>(jar.get());
        loginOK = std::make_unique<QSignalSpy>(dialog.get(), &LoginDialog::loginOK);
        loginKO = std::make_unique<QSignalSpy>(dialog.get(), &LoginDialog::loginKO);
        return true;
    }
    template <class T> T *w(const char *name) const {
        return dialog->findChild<T *>(QLatin1String(name));
    }
    QLabel *message() const { return w<QLabel>("lblLoginMessage"); }
    void type(const QString &user, const QString &password) {
        w<QLineEdit>("leUsername")->setText(user);
        w<QLineEdit>("lePassword")->setText(password);
    }
    void clickOk() { QTest::mouseClick(w<QPushButton>("btmOk"), Qt::LeftButton); }
    void click(const char *name) { QTest::mouseClick(w<QWidget>(name), Qt::LeftButton); }
    bool inputEnabled() const {
        return w<QLineEdit>("leUsername")->isEnabled() && w<QLineEdit>("lePassword")->isEnabled() &&
               w<QPushButton>("btmOk")->isEnabled() && w<QPushButton>("btmAnnulla")->isEnabled();
    }
    bool inputDisabled() const {
        return !w<QLineEdit>("leUsername")->isEnabled() &&
               !w<QLineEdit>("lePassword")->isEnabled() && !w<QPushButton>("btmOk")->isEnabled() &&
               !w<QPushButton>("btmAnnulla")->isEnabled();
    }
    QList<LocalService::RecordedRequest> logins() {
        return fixture.service().requests(QStringLiteral("login"));
    }
    // Hides and shows the dialog again, as the main window does.
    void reshow() {
        dialog->hide();
        dialog->show();
    }
    // Signs in with the account's credentials and waits for the outcome.
    bool signIn() {
        type(account.user, account.password);
        const int before = loginOK->count();
        clickOk();
        return QTest::qWaitFor([&] { return loginOK->count() > before; }, kTimeout);
    }
};

} // namespace

class TestLoginDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The test CA lives for the whole process: make it before any home
        // moves the temporary directory.
        QVERIFY(QFileInfo::exists(ServiceFixture::caCertificatePath()));
    }

    void form() {
        TestHome home;
        QNetworkCookieJar jar;
        LoginDialog dialog(&jar);
        QCOMPARE(dialog.objectName(), QStringLiteral("logindialog"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Quillora Lite"));
        QCOMPARE(dialog.size(), QSize(392, 516));
        QCOMPARE(dialog.minimumSize(), QSize(392, 516));
        QCOMPARE(dialog.maximumSize(), QSize(392, 516));
        // Everything fits: nothing is squeezed below its minimum.
        QVERIFY(dialog.layout()->minimumSize().width() <= 392);
        QVERIFY(dialog.layout()->minimumSize().height() <= 516);

        auto label = [&](const char *name) {
            return dialog.findChild<QLabel *>(QLatin1String(name));
        };
        auto button = [&](const char *name) {
            return dialog.findChild<QPushButton *>(QLatin1String(name));
        };
        QCOMPARE(label("label")->text(), QStringLiteral("Username:"));
        QCOMPARE(label("label_2")->text(), QStringLiteral("Password:"));
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("lePassword"))->echoMode(),
                 QLineEdit::Password);
        QVERIFY(dialog.findChild<QLineEdit *>(QStringLiteral("leUsername")));
        QVERIFY(label("lblLoginMessage")->isHidden());
        QCOMPARE(label("lblLoginMessage")->text(), QStringLiteral("Username o password errate"));
        QCOMPARE(dialog.findChild<QCheckBox *>(QStringLiteral("ckbSalvaCredenziali"))->text(),
                 QStringLiteral("Salva le mie credenziali"));
        QCOMPARE(button("btmHelp")->text(), QStringLiteral("Aiuto"));
        QCOMPARE(button("btmAnnulla")->text(), QStringLiteral("Annulla"));
        QCOMPARE(button("btmOk")->text(), QStringLiteral("OK"));
        QVERIFY(button("btmOk")->isDefault());
        QCOMPARE(label("lblVersion")->text(), QStringLiteral("Versione 1.2.1"));
        QCOMPARE(label("lblRecuperaPwd")->textFormat(), Qt::RichText);
        QVERIFY(label("lblRecuperaPwd")->text().contains(">Hai dimenticato la password?<"));
        QVERIFY(label("lblRecuperaPwd")->text().contains("underline"));
        QCOMPARE(label("lblSettingProxy")->textFormat(), Qt::RichText);
        QVERIFY(label("lblSettingProxy")->text().contains(">Impostazioni proxy<"));
        QVERIFY(label("lblSurvey"));

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // The logo heads the window, above the fields.
        QCOMPARE(label("label_3")->geometry().top(), 0);
        QVERIFY(label("label_3")->geometry().bottom() <
                label("label")->mapTo(&dialog, QPoint(0, 0)).y());
        for (QWidget *child : dialog.findChildren<QWidget *>()) {
            if (child->isVisible())
                QVERIFY2(dialog.rect().contains(
                             QRect(child->mapTo(&dialog, QPoint(0, 0)), child->size())),
                         qPrintable(child->objectName()));
        }
    }

    void prefill_data() {
        QTest::addColumn<QString>("saveLogin");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("checked");
        QTest::newRow("saved") << "1"
                               << "anna"
                               << "segreta" << true;
        QTest::newRow("not saved") << "0"
                                   << "ultimo" << QString() << false;
        QTest::newRow("never") << QString() << "ultimo" << QString() << false;
    }
    void prefill() {
        QFETCH(QString, saveLogin);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, checked);
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        if (!saveLogin.isNull())
            s.setting.setValue(QStringLiteral("saveLogin"), saveLogin);
        s.setting.setValue(QStringLiteral("username"), QStringLiteral("anna"));
        s.setting.setValue(QStringLiteral("password"), QStringLiteral("segreta"));
        s.setting.setValue(QStringLiteral("lastusername"), QStringLiteral("ultimo"));
        s.w<QLineEdit>("lePassword")->setText(QStringLiteral("rimasta"));
        s.w<QCheckBox>("ckbSalvaCredenziali")->setChecked(!checked);
        s.dialog->show();
        QCOMPARE(s.w<QLineEdit>("leUsername")->text(), user);
        QCOMPARE(s.w<QLineEdit>("lePassword")->text(), password);
        QCOMPARE(s.w<QCheckBox>("ckbSalvaCredenziali")->isChecked(), checked);
        QVERIFY(s.message()->isVisible());
        QVERIFY(s.message()->text().isEmpty());
        QVERIFY(s.inputEnabled());
    }

    void emptyFieldsAreRefusedLocally() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Username è un campo obbligatorio"));
            dialogs.expectBox(QStringLiteral("Password è un campo obbligatorio"));
            dialogs.expectBox(QStringLiteral("Username è un campo obbligatorio"));
            s.type(QString(), QStringLiteral("segreta"));
            s.clickOk();
            s.type(QStringLiteral("anna"), QString());
            s.clickOk();
            s.type(QString(), QString());
            s.clickOk();
            QVERIFY(dialogs.allAnswered());
            for (const MessageBox::Request &box : dialogs.boxes()) {
                QCOMPARE(box.icon, QMessageBox::Critical);
                QCOMPARE(box.title, QStringLiteral("Login"));
                QCOMPARE(box.buttons, QMessageBox::Ok);
            }
            QVERIFY(s.inputEnabled());
            QVERIFY(s.message()->text().isEmpty());
        }
        // Only the complete attempt reaches the service.
        QVERIFY(s.signIn());
        QCOMPARE(s.logins().size(), 1);
        QCOMPARE(s.logins().first().element(QStringLiteral("username")), s.account.user);
    }

    void ctrlHeldOffersCleaning_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("cancel keeps the mirror") << int(QMessageBox::Cancel);
        QTest::newRow("ok wipes the mirror") << int(QMessageBox::Ok);
    }
    void ctrlHeldOffersCleaning() {
        QFETCH(int, answer);
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        QVERIFY(s.signIn());
        const int files = mirrorRows(QStringLiteral("files"));
        QCOMPARE(files, s.account.documents.size());
        QVERIFY(mirrorRows(QStringLiteral("buckets")) > 0);
        QVERIFY(mirrorRows(QStringLiteral("folders")) > 0);
        s.setting.setValue(QStringLiteral("lastusername"), QStringLiteral("anna"));
        s.setting.setValue(QStringLiteral("proxyPort"), QStringLiteral("3128"));

        s.reshow();
        // A refused login leaves the mirror as the cleaning made it.
        s.type(s.account.user, QStringLiteral("sbagliata"));
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("pulizia degli indici"),
                          QMessageBox::StandardButton(answer));
        QTest::keyPress(s.dialog.get(), Qt::Key_Control);
        QTest::mouseClick(s.w<QPushButton>("btmOk"), Qt::LeftButton, Qt::ControlModifier);
        QVERIFY(dialogs.allAnswered());
        QCOMPARE(dialogs.boxes().first().text,
                 QStringLiteral("Sei veramente sicuro di voler avviare la pulizia degli indici "
                                "prima di effettuare il login?"));
        QCOMPARE(dialogs.boxes().first().buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(dialogs.boxes().first().defaultButton, QMessageBox::Ok);
        QTest::keyRelease(s.dialog.get(), Qt::Key_Control);
        QTRY_COMPARE_WITH_TIMEOUT(s.loginKO->count(), 1, kTimeout);
        // The login is sent either way.
        QCOMPARE(s.logins().size(), 2);

        if (answer == QMessageBox::Cancel) {
            QCOMPARE(mirrorRows(QStringLiteral("files")), files);
            QVERIFY(mirrorRows(QStringLiteral("buckets")) > 0);
            QVERIFY(mirrorRows(QStringLiteral("folders")) > 0);
        } else {
            QCOMPARE(mirrorRows(QStringLiteral("files")), 0);
            QCOMPARE(mirrorRows(QStringLiteral("buckets")), 0);
            QCOMPARE(mirrorRows(QStringLiteral("folders")), 0);
            QCOMPARE(mirrorRows(QStringLiteral("metadati")), 0);
        }
        QCOMPARE(s.setting.value(QStringLiteral("lastusername")), QStringLiteral("anna"));
        QCOMPARE(s.setting.value(QStringLiteral("proxyPort")), QStringLiteral("3128"));
        QCOMPARE(s.setting.value(QStringLiteral("url")), s.fixture.baseUrlString());
    }

    void ctrlReleasedDoesNotAsk() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        ScriptedDialogs dialogs; // any box fails the test
        QTest::keyPress(s.dialog.get(), Qt::Key_Control);
        QTest::keyRelease(s.dialog.get(), Qt::Key_Control);
        QVERIFY(s.signIn());
        QVERIFY(dialogs.boxes().isEmpty());
    }

    void ctrlFromAnEarlierShowingIsForgotten() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        QTest::keyPress(s.dialog.get(), Qt::Key_Control);
        s.reshow();
        ScriptedDialogs dialogs;
        QVERIFY(s.signIn());
        QVERIFY(dialogs.boxes().isEmpty());
    }

    void signingInShowsProgress() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        s.fixture.service().delayReply(1500, QStringLiteral("login"));
        s.type(s.account.user, s.account.password);
        s.clickOk();
        QCOMPARE(s.message()->text(), QStringLiteral("Accesso in corso ..."));
        QCOMPARE(s.message()->styleSheet(), QStringLiteral("color:black;"));
        QVERIFY(s.message()->isVisible());
        QVERIFY(s.inputDisabled());
        QTRY_COMPARE_WITH_TIMEOUT(s.loginOK->count(), 1, kTimeout);
    }

    void refusedLogin() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        ScriptedDialogs dialogs;
        s.type(s.account.user, QStringLiteral("sbagliata"));
        s.clickOk();
        QTRY_COMPARE_WITH_TIMEOUT(s.loginKO->count(), 1, kTimeout);
        QCOMPARE(s.loginKO->first().at(0).toString(), s.account.user);
        QCOMPARE(s.loginOK->count(), 0);
        QCOMPARE(s.message()->text(), QStringLiteral("Username o password errate"));
        QCOMPARE(s.message()->styleSheet(), QStringLiteral("color:red;"));
        QVERIFY(s.message()->isVisible());
        QVERIFY(s.inputEnabled());
        QVERIFY(s.dialog->isVisible());
        QCOMPARE(s.logins().size(), 1);
        QCOMPARE(s.logins().first().statusNumber, QStringLiteral("0"));
        QCOMPARE(s.logins().first().element(QStringLiteral("password")),
                 QStringLiteral("sbagliata"));

        // The next showing starts with a clean message line; a retry works.
        s.reshow();
        QVERIFY(s.message()->text().isEmpty());
        QVERIFY(s.signIn());
    }

    void networkFailure() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        s.fixture.service().scriptReply(403, "<html><b>vietato</b></html>", QStringLiteral("login"),
                                        "text/html");
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Errore"));
        s.type(s.account.user, s.account.password);
        s.clickOk();
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        const MessageBox::Request box = dialogs.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Errore"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(!box.text.isEmpty());
        QCOMPARE(box.format, Qt::PlainText);
        QCOMPARE(s.message()->text(), QStringLiteral("Login fallito"));
        QCOMPARE(s.message()->styleSheet(), QStringLiteral("color:red;"));
        QVERIFY(s.inputEnabled());
        QCOMPARE(s.loginOK->count(), 0);
        QCOMPARE(s.loginKO->count(), 0);
        QVERIFY(s.dialog->isVisible());
    }

    void serviceTextIsShownAsPlainText() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        s.fixture.service().scriptReply(
            500,
            serviceReply(QStringLiteral("16"), QStringLiteral("<statusdescription>&lt;b&gt;"
                                                              "Archivio&lt;/b&gt; non "
                                                              "disponibile</statusdescription>")),
            QStringLiteral("login"));
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Errore"));
        s.type(s.account.user, s.account.password);
        s.clickOk();
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        QCOMPARE(dialogs.boxes().first().text, QStringLiteral("<b>Archivio</b> non disponibile"));
        QCOMPARE(dialogs.boxes().first().format, Qt::PlainText);
        QCOMPARE(s.message()->text(), QStringLiteral("Login fallito"));
    }

    void failedUpdate() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        s.fixture.service().forceUpdateRequiredOnNextLogin(QStringLiteral("Nuova versione"));
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Aggiornamento software"));
        s.type(s.account.user, s.account.password);
        s.clickOk();
        DialogUpdate *update = nullptr;
        QVERIFY(QTest::qWaitFor(
            [&] { return (update = visibleTopLevel<DialogUpdate>()) != nullptr; }, kTimeout));
        // The login waits for the update.
        QCOMPARE(s.message()->text(), QStringLiteral("Accesso in corso ..."));
        QVERIFY(s.inputDisabled());
        QVERIFY(dialogs.boxes().isEmpty());

        QTest::mouseClick(update->findChild<QPushButton *>(QStringLiteral("pbAnnulla")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        QCOMPARE(dialogs.boxes().first().title, QStringLiteral("Aggiornamento software"));
        QCOMPARE(dialogs.boxes().first().text, QStringLiteral("Aggiornamento annullato"));
        QCOMPARE(dialogs.boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(s.message()->text(), QStringLiteral("Errore durante l'aggiornamento"));
        QCOMPARE(s.message()->styleSheet(), QStringLiteral("color:red;"));
        QVERIFY(s.inputEnabled());
        QCOMPARE(s.loginOK->count(), 0);
        QCOMPARE(s.loginKO->count(), 0);
    }

    void newConnectionOnEveryShowing() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        QPointer<QVWConn> first = s.dialog->findChild<QVWConn *>();
        QVERIFY(first);

        // A proxy set while the dialog is hidden is used from the next
        // showing on: the new connection reads the settings.
        s.dialog->hide();
        s.setting.setValue(QStringLiteral("proxyUrl"), QStringLiteral("127.0.0.1"));
        s.setting.setValue(QStringLiteral("proxyPort"), QString::number(closedPort()));
        s.dialog->show();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);
        QCOMPARE(s.dialog->findChildren<QVWConn *>().size(), 1);
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Errore"));
            s.type(s.account.user, s.account.password);
            s.clickOk();
            QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
            QCOMPARE(s.message()->text(), QStringLiteral("Login fallito"));
        }
        QVERIFY(s.logins().isEmpty());

        s.setting.removeValue(QStringLiteral("proxyUrl"));
        s.reshow();
        QVERIFY(s.signIn());
        QCOMPARE(s.logins().size(), 1);
    }

    void successfulLogin() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        const TestAccount bruno =
            s.fixture.createAccount(QStringLiteral("bruno"), QStringLiteral("parola"), 2);
        s.dialog->show();
        s.type(bruno.user, bruno.password);
        s.clickOk();
        QTRY_COMPARE_WITH_TIMEOUT(s.loginOK->count(), 1, kTimeout);
        QCOMPARE(mirrorRows(QStringLiteral("files"), QStringLiteral("username='bruno'")), 2);

        s.dialog->show();
        s.w<QCheckBox>("ckbSalvaCredenziali")->setChecked(true);
        QVERIFY(s.signIn());
        QCOMPARE(s.loginOK->count(), 2);
        QCOMPARE(s.loginOK->last().at(0).toString(), s.account.user);
        QCOMPARE(s.loginOK->last().at(1).toString(), s.account.password);
        QCOMPARE(s.loginOK->last().at(2).toBool(), true);
        QCOMPARE(s.loginOK->first().at(2).toBool(), false);
        QCOMPARE(s.loginKO->count(), 0);
        QVERIFY(!s.dialog->isVisible());
        QCOMPARE(s.dialog->result(), int(QDialog::Accepted));

        // The mirror holds the signed-in account only.
        QCOMPARE(mirrorRows(QStringLiteral("files"), QStringLiteral("username='bruno'")), 0);
        QCOMPARE(mirrorRows(QStringLiteral("files"), QStringLiteral("username='anna'")),
                 s.account.documents.size());
        QCOMPARE(mirrorRows(QStringLiteral("buckets")), 2);
        QCOMPARE(mirrorRows(QStringLiteral("folders")), s.account.classIds.size());

        QCOMPARE(s.logins().size(), 2);
        for (const LocalService::RecordedRequest &login : s.logins()) {
            QCOMPARE(login.statusNumber, QStringLiteral("1"));
            QVERIFY(login.body.contains("</password><forceLogin>1</forceLogin><codesync>"));
        }
        QCOMPARE(s.logins().last().element(QStringLiteral("username")), s.account.user);
        QCOMPARE(s.logins().last().element(QStringLiteral("password")), s.account.password);
    }

    void proxyLinkOpensProxyDialogAndReapplies() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();

        auto openProxyDialog = [&]() -> ProxyDialog * {
            s.click("lblSettingProxy");
            return visibleTopLevel<ProxyDialog>();
        };
        QPointer<ProxyDialog> proxy = openProxyDialog();
        QVERIFY(proxy);
        QVERIFY(proxy->isModal());
        QVERIFY(!proxy->parent());
        proxy->findChild<QCheckBox *>(QStringLiteral("chbEnableProxy"))->setChecked(true);
        proxy->findChild<QLineEdit *>(QStringLiteral("leIndirizzoProxy"))
            ->setText(QStringLiteral("127.0.0.1"));
        proxy->findChild<QLineEdit *>(QStringLiteral("lePortProxy"))
            ->setText(QString::number(closedPort()));
        QTest::mouseClick(proxy->findChild<QPushButton *>(QStringLiteral("btmSalva")),
                          Qt::LeftButton);
        QTest::mouseClick(proxy->findChild<QPushButton *>(QStringLiteral("btmAnnulla")),
                          Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!proxy);

        // Same showing, same connection: it now goes through the dead proxy.
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Errore"));
            s.type(s.account.user, s.account.password);
            s.clickOk();
            QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        }
        QVERIFY(s.logins().isEmpty());

        proxy = openProxyDialog();
        QVERIFY(proxy);
        QVERIFY(proxy->findChild<QCheckBox *>(QStringLiteral("chbEnableProxy"))->isChecked());
        proxy->findChild<QCheckBox *>(QStringLiteral("chbEnableProxy"))->setChecked(false);
        QTest::mouseClick(proxy->findChild<QPushButton *>(QStringLiteral("btmSalva")),
                          Qt::LeftButton);
        proxy->close();
        QVERIFY(s.signIn());
        QCOMPARE(s.logins().size(), 1);
    }

    void links() {
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.dialog->show();
        RecordedUrls urls;
        const QString base = s.fixture.baseUrlString();

        s.click("btmHelp");
        QCOMPARE(urls.urls(), QList<QUrl>{QUrl(base + "/vazedo/Help/")});

        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Scarica il modulo"), QMessageBox::Cancel);
            dialogs.expectBox(QStringLiteral("Scarica il modulo"), QMessageBox::Ok);
            s.click("lblRecuperaPwd");
            QCOMPARE(urls.urls().size(), 1);
            s.click("lblRecuperaPwd");
            QCOMPARE(
                dialogs.boxes().first().text,
                QStringLiteral("Scarica il modulo e segui le istruzioni contenute all'interno"));
            QCOMPARE(dialogs.boxes().first().buttons, QMessageBox::Ok | QMessageBox::Cancel);
        }
        QCOMPARE(urls.urls().size(), 2);
        QCOMPARE(urls.urls().last(), QUrl(base + "/vazedo/PasswordRecovery/"));

        s.click("lblSurvey");
        QCOMPARE(urls.urls().size(), 3);
        QCOMPARE(urls.urls().last(), QUrl(base + "/vazedo/Survey/"));
        QVERIFY(s.dialog->isVisible());
    }

    void closingWithAndWithoutTray_data() {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("escape");
        QTest::newRow("annulla, tray") << true << false;
        QTest::newRow("annulla, no tray") << false << false;
        QTest::newRow("escape, tray") << true << true;
        QTest::newRow("escape, no tray") << false << true;
    }
    void closingWithAndWithoutTray() {
        QFETCH(bool, tray);
        QFETCH(bool, escape);
        // As in the program, which lives on in the notification area.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        Setup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        TrayOverride override(tray);
        s.dialog->show();
        const bool quit = quitRequested([&] {
            if (escape)
                QTest::keyClick(s.dialog.get(), Qt::Key_Escape);
            else
                s.click("btmAnnulla");
        });
        QCOMPARE(quit, !tray);
        QVERIFY(!s.dialog->isVisible());
        QCOMPARE(s.dialog->result(), int(escape ? QDialog::Rejected : QDialog::Accepted));
        QCOMPARE(s.loginOK->count(), 0);
        QVERIFY(s.logins().isEmpty());
    }
};

QTEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
