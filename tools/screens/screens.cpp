// Renders the program's windows in their representative states to PNG files,
// offscreen, against the local service running in this process with the demo
// account. Usage: screens OUTDIR
#include "DemoSeed.h"
#include "RecordedUrls.h"
#include "ServiceFixture.h"
#include "TestHome.h"
#include "TrayOverride.h"

#include "ServiceXml.h"
#include "account/ChangePwdDialog.h"
#include "account/DetailDialog.h"
#include "classes/Categorie.h"
#include "preservation/CalendarWidget.h"
#include "preservation/ConservaFileDialog.h"
#include "preservation/DatePopup.h"
#include "preservation/DialogUploadFile.h"
#include "history/DialogDownloadFile.h"
#include "history/Exhibitor.h"
#include "history/HistoryFile.h"
#include <QMenu>
#include <QTableWidget>
#include "service/QVWConn.h"
#include "account/ProxyDialog.h"
#include "app/MessageBox.h"
#include "classes/MetadatiCategories.h"
#include "mainwindow/CoreMain.h"
#include "service/LoginDialog.h"
#include "storage/Database.h"
#include "storage/Setting.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QNetworkCookieJar>
#include <QTimer>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

namespace {

QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

bool waitFor(const std::function<bool()> &condition, int milliseconds = 20000) {
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
    return true;
}

template <typename T> T *topLevel() {
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<T *>(widget); found && found->isVisible())
            return found;
    }
    return nullptr;
}

class Shooter {
public:
    explicit Shooter(const QString &dir)
        : m_dir(dir) {}

    bool save(QWidget *widget, const QString &name) {
        if (!widget) {
            err() << "no window for " << name << Qt::endl;
            m_failed = true;
            return false;
        }
        QCoreApplication::processEvents();
        QTest::qWait(50);
        const QString path = QDir(m_dir).filePath(name);
        if (!widget->grab().save(path)) {
            err() << "cannot write " << path << Qt::endl;
            m_failed = true;
            return false;
        }
        QTextStream(stdout) << path << Qt::endl;
        return true;
    }
    void fail(const QString &what) {
        err() << what << Qt::endl;
        m_failed = true;
    }
    bool failed() const { return m_failed; }

private:
    QString m_dir;
    bool m_failed = false;
};

void setUsed(ServiceFixture &service, qint64 bytes) {
    QSqlQuery query(service.store().database());
    query.prepare(QStringLiteral("UPDATE profiles SET used = ? WHERE owner = ? AND quota > 0"));
    query.addBindValue(bytes);
    query.addBindValue(DemoSeed::userName());
    query.exec();
}

bool synchronise(CoreMain &window) {
    QLabel *loading = window.findChild<QLabel *>(QStringLiteral("lblLoading"));
    window.syncCategorie();
    return waitFor([loading] { return loading->isHidden(); });
}

void showChartTab(CoreMain &window) {
    window.showSettings();
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    tabs->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("tabStatistiche")));
}

ConservaFileDialog *dropFile(CoreMain &window, const QString &path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    return topLevel<ConservaFileDialog>();
}

int page(ConservaFileDialog *wizard) {
    return wizard->findChild<QTabWidget *>(QStringLiteral("tabUpload"))->currentIndex();
}

// The first class, then "Avanti"; true on the field or the failure page.
bool uploadToFirstClass(ConservaFileDialog *wizard) {
    auto *start = wizard->findChild<QPushButton *>(QStringLiteral("btmStartUpload"));
    if (!waitFor([start] { return start->isEnabled(); }))
        return false;
    wizard->findChild<QTableView *>(QStringLiteral("twListCateg"))->selectRow(0);
    start->click();
    return waitFor([wizard] { return wizard->isVisible() && page(wizard) != 1; });
}

void fillFields(ConservaFileDialog *wizard) {
    auto *rows = wizard->findChild<QWidget *>(QStringLiteral("scrollAreaWidgetContents"));
    for (CalendarWidget *date : rows->findChildren<CalendarWidget *>())
        date->lineEdit->setText(QStringLiteral("05/03/2013"));
    for (QComboBox *box : rows->findChildren<QComboBox *>())
        if (box->currentText().isEmpty() && !qobject_cast<CalendarWidget *>(box->parentWidget()))
            box->setEditText(QStringLiteral("118"));
}

void shootPreservation(Shooter &shooter, CoreMain &window, ServiceFixture &service,
                       const QString &dir) {
    const QString path = QDir(dir).filePath(QStringLiteral("Fattura 2026-118.pdf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("%PDF-1.4 fattura 118\n") < 0)
        return shooter.fail(QStringLiteral("cannot write the file to preserve"));
    file.close();
    ConservaFileDialog *wizard = dropFile(window, path);
    if (!wizard)
        return shooter.fail(QStringLiteral("the drop opened no wizard"));
    auto *start = wizard->findChild<QPushButton *>(QStringLiteral("btmStartUpload"));
    waitFor([start] { return start->isEnabled(); });
    wizard->findChild<QTableView *>(QStringLiteral("twListCateg"))->selectRow(0);
    shooter.save(wizard, QStringLiteral("preserve-class.png"));

    wizard->findChild<QPushButton *>(QStringLiteral("btmOpenCateg"))->click();
    auto *classes = topLevel<Categorie>();
    waitFor([classes] {
        return classes && classes->findChild<QLabel *>(QStringLiteral("lblLoading"))->isHidden();
    });
    shooter.save(classes, QStringLiteral("classes-dialog.png"));
    if (classes)
        classes->findChild<QPushButton *>(QStringLiteral("btmClose"))->click();
    waitFor([wizard] { return wizard->isVisible(); });

    if (!uploadToFirstClass(wizard) || page(wizard) != 2)
        return shooter.fail(QStringLiteral("the upload did not reach the fields"));
    fillFields(wizard);
    shooter.save(wizard, QStringLiteral("preserve-fields.png"));
    if (auto *date = wizard->findChild<CalendarWidget *>()) {
        QTimer::singleShot(200, [&shooter] {
            auto *popup = qobject_cast<DatePopup *>(QApplication::activeModalWidget());
            shooter.save(popup, QStringLiteral("date-popup.png"));
            if (popup)
                popup->reject();
        });
        date->calendarButton->click();
    }
    wizard->findChild<QPushButton *>(QStringLiteral("btmConserva"))->click();
    auto *loading = wizard->findChild<QLabel *>(QStringLiteral("lblLoading"));
    waitFor([loading] { return loading->isHidden(); });
    shooter.save(wizard, QStringLiteral("preserve-success.png"));
    wizard->close();
    waitFor([&window] { return !topLevel<ConservaFileDialog>(); });
    QTest::qWait(200);

    // A refusal with a long description: the failure page and its details.
    QFile other(path + QStringLiteral(".bak"));
    if (!other.open(QIODevice::WriteOnly) || other.write("%PDF-1.4 copia\n") < 0)
        return shooter.fail(QStringLiteral("cannot write the second file"));
    other.close();
    service.service().scriptReply(
        500,
        serviceReply(QStringLiteral("13"),
                     QStringLiteral("<statusdescription>Lo spazio del profilo non basta per questo "
                                    "documento: liberare spazio o acquistarne altro.&lt;br/&gt;"
                                    "Spazio richiesto: 1 MB</statusdescription>")),
        QStringLiteral("uploadfile"));
    wizard = dropFile(window, other.fileName());
    if (!wizard || !uploadToFirstClass(wizard))
        return shooter.fail(QStringLiteral("the refused upload did not end"));
    shooter.save(wizard, QStringLiteral("preserve-failure.png"));
    wizard->findChild<QPushButton *>(QStringLiteral("btmShowDetailError"))->click();
    shooter.save(wizard->findChild<DetailDialog *>(), QStringLiteral("error-detail.png"));
    delete wizard;

    // The upload window in its two phases.
    QNetworkCookieJar jar;
    QVWConn conn(&jar, false);
    DialogUploadFile progress(&conn, path, nullptr);
    progress.setMessage(QStringLiteral("Calcolo impronta in corso ..."));
    progress.setFingerprintProgress(100, 35);
    progress.show();
    shooter.save(&progress, QStringLiteral("upload-fingerprint.png"));
    progress.setMessage(QStringLiteral("Upload file in corso ..."));
    progress.resetProgress();
    progress.onUploadProgress(70, 100);
    shooter.save(&progress, QStringLiteral("upload-sending.png"));
    progress.close();
}

void shootReplacement(Shooter &shooter, CoreMain &window, const QString &dir) {
    QString hash;
    {
        Database database;
        database.open();
        QSqlQuery first(database.db);
        if (first.exec(QStringLiteral("SELECT hash FROM files WHERE token <> '' LIMIT 1")) &&
            first.next())
            hash = first.value(0).toString();
        database.close();
    }
    const QString path = QDir(dir).filePath(QStringLiteral("Contratto corretto.pdf"));
    QFile file(path);
    if (hash.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write("%PDF-1.4 v2\n") < 0)
        return shooter.fail(QStringLiteral("nothing to replace"));
    file.close();
    auto *jar = window.findChild<QVWConn *>(QString(), Qt::FindDirectChildrenOnly)->cookieJar();
    ConservaFileDialog wizard(path, jar, QString(), QString(), hash, true, nullptr);
    if (!waitFor([&wizard] { return wizard.isVisible() && page(&wizard) != 1; }))
        return shooter.fail(QStringLiteral("the replacement did not reach the fields"));
    shooter.save(&wizard, QStringLiteral("replace-fields.png"));
}

// The list's context menu on the selected row, a history with versions, the
// download window and the exhibition's waiting window.
void shootRetrieval(Shooter &shooter, CoreMain &window, LocalService &service) {
    auto *list = window.findChild<QTableView *>(QStringLiteral("tbwFile"));
    list->selectRow(0);
    QTimer::singleShot(300, [&shooter] {
        QWidget *menu = QApplication::activePopupWidget();
        shooter.save(menu, QStringLiteral("context-menu.png"));
        if (menu)
            menu->close();
    });
    emit list->customContextMenuRequested(list->visualRect(list->currentIndex()).center());

    const QString versions = QStringLiteral(
        "<file hash=\"%1\" token=\"T-1\" filename=\"C:\\Documenti\\Contratti\\Contratto "
        "fornitura.pdf\" filesize=\"48213\" tsfiles=\"%2\" idfolders=\"1\"/>");
    service.scriptReply(
        200,
        serviceReply(QStringLiteral("29"),
                     versions.arg(QString(40, QLatin1Char('a')), QStringLiteral("12/01/2013 09:14:02")) +
                         versions.arg(QString(40, QLatin1Char('b')), QStringLiteral("03/04/2013 16:40:51")) +
                         versions.arg(QString(40, QLatin1Char('c')), QStringLiteral("21/06/2013 11:02:37"))),
        QStringLiteral("history"));
    auto *jar = window.findChild<QVWConn *>(QString(), Qt::FindDirectChildrenOnly)->cookieJar();
    HistoryFile history(jar, QString(40, QLatin1Char('c')), QStringLiteral("1"), nullptr);
    history.show();
    auto *table = history.findChild<QTableWidget *>(QStringLiteral("tbwListHistory"));
    if (!waitFor([table] { return table->rowCount() == 3; }))
        return shooter.fail(QStringLiteral("the history did not come"));
    table->selectRow(2);
    emit table->itemClicked(table->item(2, HistoryFile::File));
    shooter.save(&history, QStringLiteral("history.png"));

    DialogDownloadFile download(window.findChild<QVWConn *>(QString(), Qt::FindDirectChildrenOnly),
                                nullptr);
    download.setWindowTitle(QStringLiteral("Ripristina file"));
    download.prepareDownload();
    download.onDownloadProgress(qint64(1300) << 20, qint64(3) << 30);
    download.show();
    shooter.save(&download, QStringLiteral("download.png"));

    Exhibitor exhibitor(&window);
    exhibitor.show();
    shooter.save(&exhibitor, QStringLiteral("exhibition-waiting.png"));
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        err() << "usage: screens OUTDIR" << Qt::endl;
        return 2;
    }
    Shooter shooter(QString::fromLocal8Bit(argv[1]));

    TestHome home;
    ServiceFixture service;
    if (!service.isRunning()) {
        err() << "the local service did not start: " << service.errorString() << Qt::endl;
        return 1;
    }
    QString error;
    if (!DemoSeed::seed(service.store(), &error)) {
        err() << "demo data: " << error << Qt::endl;
        return 1;
    }
    setUsed(service, 185000000);

    // Screens show what a user sees, not boxes or browsers.
    TrayOverride tray(true);
    RecordedUrls browser;
    MessageBox::setHandler([](QWidget *, const MessageBox::Request &request) {
        err() << "box: " << request.title << ": " << request.text << Qt::endl;
        return QMessageBox::Ok;
    });

    CoreMain window;
    LoginDialog *login = topLevel<LoginDialog>();
    if (!login) {
        err() << "the login dialog did not show" << Qt::endl;
        return 1;
    }
    auto *user = login->findChild<QLineEdit *>(QStringLiteral("leUsername"));
    auto *password = login->findChild<QLineEdit *>(QStringLiteral("lePassword"));
    auto *ok = login->findChild<QPushButton *>(QStringLiteral("btmOk"));
    auto *message = login->findChild<QLabel *>(QStringLiteral("lblLoginMessage"));

    user->setText(DemoSeed::userName());
    password->setText(DemoSeed::password());
    shooter.save(login, QStringLiteral("login-idle.png"));

    password->setText(QStringLiteral("sbagliata"));
    ok->click();
    if (!waitFor(
            [message] { return message->text() == QLatin1String("Username o password errate"); }))
        shooter.fail(QStringLiteral("the refusal did not show"));
    shooter.save(login, QStringLiteral("login-refused.png"));

    service.service().delayReply(1500, QStringLiteral("login"));
    password->setText(DemoSeed::password());
    ok->click();
    shooter.save(login, QStringLiteral("login-signing-in.png"));
    if (!waitFor([&window] { return window.isVisible(); })) {
        err() << "signing in did not show the main window" << Qt::endl;
        return 1;
    }
    service.service().clearScript();

    window.resize(1050, 671);
    shooter.save(&window, QStringLiteral("main-documents.png"));

    // A search: marks in the list, the first match selected, details open on
    // its yellow values.
    window.findChild<QPushButton *>(QStringLiteral("btmHideDetail"))->click();
    window.findChild<QLineEdit *>(QStringLiteral("leSearch"))->setText(QStringLiteral("fattura"));
    // The rows come from the search thread; the first is then selected.
    auto *buttons = window.findChild<QWidget *>(QStringLiteral("hwBottoniera"));
    if (!waitFor([buttons] { return buttons->isVisible(); })) {
        err() << "the search listed nothing" << Qt::endl;
        return 1;
    }
    shooter.save(&window, QStringLiteral("main-documents-search.png"));
    window.resize(window.minimumSize());
    shooter.save(&window, QStringLiteral("main-minimum-size.png"));
    window.resize(1050, 671);
    window.findChild<QLineEdit *>(QStringLiteral("leSearch"))->clear();

    window.showSettings();
    shooter.save(&window, QStringLiteral("main-settings-classes.png"));
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    tabs->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("tabAdvanced")));
    shooter.save(&window, QStringLiteral("main-settings-advanced.png"));
    showChartTab(window);
    shooter.save(&window, QStringLiteral("main-settings-chart.png"));

    setUsed(service, 430000000);
    if (!synchronise(window))
        shooter.fail(QStringLiteral("the synchronisation did not end"));
    showChartTab(window);
    shooter.save(&window, QStringLiteral("quota-over-80.png"));

    window.showSettings();
    window.onClickShowMetadata(
        window.findChild<QTableView *>(QStringLiteral("twCategorie"))->model()->index(0, 1));
    auto *fields = window.findChild<MetadatiCategories *>();
    shooter.save(fields, QStringLiteral("class-fields.png"));
    if (fields)
        fields->close();

    Setting setting;
    setting.setValue(QStringLiteral("proxyUrl"), QStringLiteral("proxy.azienda.example"));
    setting.setValue(QStringLiteral("proxyPort"), QStringLiteral("3128"));
    setting.setValue(QStringLiteral("proxyCredential"), QStringLiteral("1"));
    setting.setValue(QStringLiteral("proxyUsername"), QStringLiteral("mrossi"));
    setting.setValue(QStringLiteral("proxyPassword"), QStringLiteral("segreta"));
    window.onClickProxySettings();
    auto *proxy = topLevel<ProxyDialog>();
    shooter.save(proxy, QStringLiteral("proxy-dialog.png"));
    if (proxy)
        proxy->close();
    setting.setValue(QStringLiteral("proxyUrl"), QString()); // the next windows talk directly
    window.findChild<QVWConn *>(QString(), Qt::FindDirectChildrenOnly)->applyProxySettings();

    QTest::mouseClick(window.findChild<QLabel *>(QStringLiteral("lblChangePwd")), Qt::LeftButton);
    auto *change = topLevel<ChangePwdDialog>();
    if (change) {
        const QList<QLineEdit *> edits = change->findChildren<QLineEdit *>();
        for (QLineEdit *edit : edits)
            edit->setText(QStringLiteral("password"));
    }
    shooter.save(change, QStringLiteral("change-password.png"));
    if (change)
        change->close();

    // Beside the other pictures, but not among them.
    QTemporaryDir files;
    shootPreservation(shooter, window, service, files.path());
    shootReplacement(shooter, window, files.path());
    shootRetrieval(shooter, window, service.service());

    return shooter.failed() ? 1 : 0;
}
