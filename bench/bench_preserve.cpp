// The preservation wizard's path for a 2 GiB file against the local service (a
// process of its own), from "Avanti" to the field page: the fingerprint, then
// the upload beside curl -F to the same service, and the client's peak RSS,
// which must show that the file is streamed.
#include "BenchService.h"
#include "TestHome.h"
#include "app/MessageBox.h"
#include "preservation/ConservaFileDialog.h"
#include "service/ClientInfo.h"
#include "service/QVWConn.h"
#include "service/SessionJar.h"
#include "storage/Database.h"
#include "storage/Setting.h"

#include <QApplication>
#include <QDateTime>
#include <QDomElement>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QSqlQuery>
#include <QTimer>
#include <QNetworkCookieJar>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

const QString kUser = QStringLiteral("upload");
const QString kPassword = QStringLiteral("upload-password");
const qint64 kSize = qint64(2) << 30;

[[noreturn]] void die(const QString &message) {
    std::fprintf(stderr, "bench_preserve: %s\n", qPrintable(message));
    std::exit(1);
}

QByteArray run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(30 * 60 * 1000) || process.exitCode() != 0)
        die(program + QStringLiteral(" failed"));
    return process.readAllStandardOutput();
}

// The upload request as the preservation wizard writes it.
QByteArray uploadXml(int classId, const QString &hash) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>uploadfile"
                          "</action><idfolder>%1</idfolder><last_modified>%2</last_modified>"
                          "<hashfile>%3</hashfile></request>")
        .arg(classId)
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")), hash)
        .toUtf8();
}

// Runs the event loop itself until `done` holds: a wait that sleeps between
// rounds would throttle the upload it measures.
bool runUntil(const std::function<bool()> &done, int milliseconds) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    check.start(20);
    if (!done())
        loop.exec();
    return done();
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchService service;
    if (!service.start({kUser + QLatin1Char(':') + kPassword + QStringLiteral(":0:0:1:1")}))
        die(service.errorString());

    QTemporaryDir scratch(QCoreApplication::applicationDirPath() +
                          QStringLiteral("/upload-XXXXXX"));
    const QString path = scratch.filePath(QStringLiteral("documento.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(kSize))
            die(QStringLiteral("cannot make the file"));
    }
    const QString hash = QString::fromLatin1(run(QStringLiteral("sha1sum"), {path}).left(40));

    // 1. The client: the wizard's whole path, from "Avanti" to the field page.
    double fingerprintSeconds = 0;
    double seconds = 0;
    double peakMb = 0;
    int classId = 0;
    {
        TestHome home;
        Setting().setValue(QStringLiteral("url"), service.url());
        auto jar = std::make_unique<SessionJar>();
        auto conn = std::make_unique<QVWConn>(jar.get(), false);
        QEventLoop loop;
        QObject::connect(conn.get(), &QVWConn::loginSuccessful, &loop,
                         [&](const QDomElement &body) {
                             classId = body.elementsByTagName(QStringLiteral("folder"))
                                           .item(0)
                                           .toElement()
                                           .attribute(QStringLiteral("id"))
                                           .toInt();
                         });
        QObject::connect(conn.get(), &QVWConn::retry, &loop, &QEventLoop::quit);
        QObject::connect(conn.get(), &QVWConn::loginFailure, &loop, &QEventLoop::quit);
        conn->login(kUser, kPassword, true);
        loop.exec();
        if (classId == 0)
            die(QStringLiteral("login failed"));

        MessageBox::setHandler([](QWidget *, const MessageBox::Request &request) {
            die(QStringLiteral("box: ") + request.title + QStringLiteral(": ") + request.text);
            return QMessageBox::Ok;
        });
        QString profile;
        {
            Database database;
            database.open();
            QSqlQuery query(database.db);
            query.prepare(QStringLiteral("SELECT idbuckets FROM folders WHERE idfolder = ?"));
            query.addBindValue(classId);
            if (query.exec() && query.next())
                profile = query.value(0).toString();
            database.close();
        }
        ConservaFileDialog wizard(path, jar.get(), profile, QString(), QString(), false, nullptr);
        wizard.show();
        auto *start = wizard.findChild<QPushButton *>(QStringLiteral("btmStartUpload"));
        auto *pages = wizard.findChild<QTabWidget *>(QStringLiteral("tabUpload"));
        if (!runUntil([start] { return start->isEnabled(); }, 60000))
            die(QStringLiteral("the class list did not come"));
        wizard.findChild<QTableView *>(QStringLiteral("twListCateg"))->selectRow(0);
        QElapsedTimer timer;
        qint64 uploadStart = 0;
        QObject::connect(wizard.findChild<QVWConn *>(), &QVWConn::avanzamentoUpload, &wizard,
                         [&] {
                             if (!uploadStart)
                                 uploadStart = timer.nsecsElapsed();
                         });
        timer.start();
        start->click();
        if (!runUntil([&] { return wizard.isVisible() && pages->currentIndex() != 1; },
                      30 * 60 * 1000) ||
            pages->currentIndex() != 2)
            die(QStringLiteral("the upload did not reach the field page"));
        seconds = (timer.nsecsElapsed() - uploadStart) / 1e9;
        fingerprintSeconds = uploadStart / 1e9;
        peakMb = BenchService::peakRssMb();
        MessageBox::setHandler({});
        wizard.done(0);
    }

    // 2. The peer: curl -F with the same parts, on a session of its own.
    const QString ca = ServiceFixture::caCertificatePath();
    const QString cookies = scratch.filePath(QStringLiteral("cookies"));
    const QString endpoint = service.url() + QStringLiteral("/vazedo/RestService");
    const QString login =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login</action><username>%1"
            "</username><password>%2</password><codesync>0.0</codesync><version>%3</version>"
            "<platform>%4</platform></request>")
            .arg(kUser, kPassword, ClientInfo::version(), ClientInfo::platform());
    run(QStringLiteral("curl"),
        {QStringLiteral("-sS"), QStringLiteral("--cacert"), ca, QStringLiteral("-c"), cookies,
         QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-H"),
         QStringLiteral("Content-Type: text/xml;charset=UTF-8"), QStringLiteral("--data-binary"),
         login, endpoint});
    const QString xmlFile = scratch.filePath(QStringLiteral("request.xml"));
    {
        QFile xml(xmlFile);
        if (!xml.open(QIODevice::WriteOnly) || xml.write(uploadXml(classId, hash)) < 0)
            die(QStringLiteral("cannot write the request"));
    }
    QElapsedTimer timer;
    timer.start();
    const QByteArray answer = run(
        QStringLiteral("curl"),
        {QStringLiteral("-sS"), QStringLiteral("--cacert"), ca, QStringLiteral("-b"), cookies,
         QStringLiteral("-H"), QStringLiteral("Expect:"), QStringLiteral("-F"),
         QStringLiteral("xml=<%1;type=text/xml;charset=UTF-8").arg(xmlFile), QStringLiteral("-F"),
         QStringLiteral("file=@%1;type=application/octet-stream").arg(path), endpoint});
    const double curlSeconds = timer.nsecsElapsed() / 1e9;
    if (!answer.contains("<statusnumber>21</statusnumber>"))
        die(QStringLiteral("curl's upload was not received: ") +
            QString::fromUtf8(answer.left(300)));

    const double mb = kSize / 1048576.0;
    std::printf("preserve-fingerprint: %.1f MB/s\n", mb / fingerprintSeconds);
    std::printf("preserve-upload: %.1f MB/s (curl: %.1f MB/s, ratio %.2f)\n", mb / seconds, mb / curlSeconds,
                curlSeconds / seconds);
    std::printf("preserve-peak-rss: %.0f MB (limit: 150 MB, ratio %.2f)\n", peakMb, peakMb / 150.0);
    return 0;
}
