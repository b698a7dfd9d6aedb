// Upload of a (nearly) 2 GiB file through uploadMultipart() to the local service (a
// process of its own): throughput beside curl -F to the same service, and the
// client's peak RSS, which must show that the file is streamed.
#include "BenchService.h"
#include "TestHome.h"
#include "UploadMultipart.h"
#include "service/ClientInfo.h"
#include "service/QVWConn.h"
#include "storage/Setting.h"

#include <QApplication>
#include <QDateTime>
#include <QDomElement>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkCookieJar>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

const QString kUser = QStringLiteral("upload");
const QString kPassword = QStringLiteral("upload-password");
// 2 GiB less 1 MiB: the local service cannot take a request body of 2 GiB
// or more (it refuses it as a cut-short multipart body), so a whole 2 GiB
// file cannot be measured against it.
const qint64 kSize = (qint64(2) << 30) - (qint64(1) << 20);

[[noreturn]] void die(const QString &message) {
    std::fprintf(stderr, "bench_upload: %s\n", qPrintable(message));
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

    // 1. The client.
    double seconds = 0;
    double peakMb = 0;
    int classId = 0;
    {
        TestHome home;
        Setting().setValue(QStringLiteral("url"), service.url());
        auto jar = std::make_unique<QNetworkCookieJar>();
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

        QHttpMultiPart *multiPart =
            uploadMultipart(uploadXml(classId, hash), path, QStringLiteral("documento.bin"));
        if (!multiPart)
            die(QStringLiteral("cannot open the file"));

        QString status;
        QObject::connect(conn.get(), &QVWConn::commandSuccessful, &loop,
                         [&](const QDomElement &, const QString &s) {
                             status = s;
                             loop.quit();
                         });
        QObject::connect(conn.get(), &QVWConn::commandFailure, &loop,
                         [&](const QString &message, const QString &s) {
                             status = s + QLatin1Char(' ') + message;
                             loop.quit();
                         });
        QElapsedTimer timer;
        timer.start();
        conn->uploadMultipart(multiPart);
        loop.exec();
        seconds = timer.nsecsElapsed() / 1e9;
        peakMb = BenchService::peakRssMb();
        if (status != QStringLiteral("21"))
            die(QStringLiteral("the upload was not received: ") + status);
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
    std::printf("upload: %.1f MB/s (curl: %.1f MB/s, ratio %.2f)\n", mb / seconds, mb / curlSeconds,
                curlSeconds / seconds);
    std::printf("upload-peak-rss: %.0f MB (limit: 150 MB, ratio %.2f)\n", peakMb, peakMb / 150.0);
    return 0;
}
