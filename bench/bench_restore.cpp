// A restore of a 2 GiB document from the local service (a process of its own)
// into a file, through the client's restore path (download window, the copy
// streamed to a temporary file and checked against its fingerprint), beside
// curl -o fetching the same restore on the same session; and the client's
// peak RSS, which must show that the copy is never held in memory.
#include "BenchService.h"
#include "TestHome.h"
#include "app/MessageBox.h"
#include "history/RestoreDownload.h"
#include "service/ClientInfo.h"
#include "service/QVWConn.h"
#include "service/SessionJar.h"

#include <QApplication>
#include <QDomElement>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkCookie>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace {

const QString kUser = QStringLiteral("restore");
const QString kPassword = QStringLiteral("restore-password");
const qint64 kSize = qEnvironmentVariableIsSet("QUILLORA_RESTORE_MIB")
                        ? qEnvironmentVariableIntValue("QUILLORA_RESTORE_MIB") * qint64(1 << 20)
                        : qint64(2) << 30;
const int kRounds = qEnvironmentVariableIsSet("QUILLORA_RESTORE_ROUNDS")
                        ? qMax(1, qEnvironmentVariableIntValue("QUILLORA_RESTORE_ROUNDS"))
                        : 3;

[[noreturn]] void die(const QString &message) {
    std::fprintf(stderr, "bench_restore: %s\n", qPrintable(message));
    std::exit(1);
}

QByteArray curl(const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("curl"),
                  QStringList{QStringLiteral("-sS"), QStringLiteral("--cacert"),
                              ServiceFixture::caCertificatePath()} +
                      arguments);
    if (!process.waitForFinished(30 * 60 * 1000) || process.exitCode() != 0)
        die(QStringLiteral("curl failed"));
    return process.readAllStandardOutput();
}

// Each run starts with no dirty pages left by the one before (the upload's
// copy in the store, the other run's file): the kernel's writeback of them
// would be charged to whichever run comes first.
void settle() {
    QProcess sync;
    sync.start(QStringLiteral("sync"), {});
    if (!sync.waitForFinished(30 * 60 * 1000) || sync.exitCode() != 0)
        die(QStringLiteral("sync failed"));
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchService service;
    if (!service.start({kUser + QLatin1Char(':') + kPassword + QStringLiteral(":0:0:1:1")}))
        die(service.errorString());
    QTemporaryDir scratch(QCoreApplication::applicationDirPath() +
                          QStringLiteral("/restore-XXXXXX"));
    const QString source = scratch.filePath(QStringLiteral("documento.bin"));
    {
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(kSize))
            die(QStringLiteral("cannot make the file"));
    }
    QProcess sha1sum;
    sha1sum.start(QStringLiteral("sha1sum"), {source});
    if (!sha1sum.waitForFinished(30 * 60 * 1000))
        die(QStringLiteral("sha1sum failed"));
    const QString hash = QString::fromLatin1(sha1sum.readAllStandardOutput().left(40));

    TestHome home;
    Setting().setValue(QStringLiteral("url"), service.url());
    auto jar = std::make_unique<SessionJar>();
    auto conn = std::make_unique<QVWConn>(jar.get(), false);
    int classId = 0;
    {
        QEventLoop loop;
        QObject::connect(conn.get(), &QVWConn::loginSuccessful, &loop, [&](const QDomElement &body) {
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
    }
    if (classId == 0)
        die(QStringLiteral("login failed"));
    const QString endpoint = service.url() + QStringLiteral("/vazedo/RestService");
    QString cookie;
    for (const QNetworkCookie &c : jar->cookiesForUrl(QUrl(endpoint)))
        cookie = QString::fromLatin1(c.name() + '=' + c.value());

    // The document, preserved through the service's own actions.
    const QString xmlFile = scratch.filePath(QStringLiteral("request.xml"));
    auto writeXml = [&](const QString &xml) {
        QFile file(xmlFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(xml.toUtf8()) < 0)
            die(QStringLiteral("cannot write the request"));
    };
    writeXml(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>uploadfile"
                            "</action><idfolder>%1</idfolder><last_modified>01/02/2013 10:00:00"
                            "</last_modified><hashfile>%2</hashfile></request>")
                 .arg(classId)
                 .arg(hash));
    const QByteArray uploaded =
        curl({QStringLiteral("-b"), cookie, QStringLiteral("-H"), QStringLiteral("Expect:"),
              QStringLiteral("-F"), QStringLiteral("xml=<%1;type=text/xml;charset=UTF-8").arg(xmlFile),
              QStringLiteral("-F"), QStringLiteral("file=@%1;type=application/octet-stream").arg(source),
              endpoint});
    const QString field =
        QRegularExpression(QStringLiteral("idmetadato=\"(\\d+)\"")).match(QString::fromUtf8(uploaded)).captured(1);
    if (field.isEmpty())
        die(QStringLiteral("the upload was refused: ") + QString::fromUtf8(uploaded.left(300)));
    const QByteArray preserved = curl(
        {QStringLiteral("-b"), cookie, QStringLiteral("-H"),
         QStringLiteral("Content-Type: text/xml;charset=UTF-8"), QStringLiteral("--data-binary"),
         QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>"
                        "savevaluemetadati</action><hash>%1</hash><folderid>%2</folderid>"
                        "<computername>bench</computername><metadato key=\"%3\" value=\"B/1\"/>"
                        "</request>")
             .arg(hash)
             .arg(classId)
             .arg(field),
         endpoint});
    if (!preserved.contains("<statusnumber>22</statusnumber>"))
        die(QStringLiteral("not preserved: ") + QString::fromUtf8(preserved.left(300)));

    // 1. The client's restore, to the box that says it is done.
    const QString target = scratch.filePath(QStringLiteral("ripristinato.bin"));
    QString outcome;
    MessageBox::setHandler([&](QWidget *, const MessageBox::Request &request) {
        outcome = request.text;
        return QMessageBox::Ok;
    });
    QWidget window;
    const double before = BenchService::peakRssMb();
    auto clientRestore = [&] {
        outcome.clear();
        RestoreDownload restore(conn.get(), {QStringLiteral("Ripristina file"),
                                             QStringLiteral("Ripristino file"),
                                             QStringLiteral("File ripristinato")},
                                &window);
        QElapsedTimer timer;
        timer.start();
        if (!restore.start(target, hash, QString::number(classId)))
            die(QStringLiteral("the restore did not start: ") + outcome);
        while (outcome.isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (outcome != QLatin1String("File ripristinato") || QFileInfo(target).size() != kSize)
            die(QStringLiteral("the restore failed: ") + outcome);
        return seconds;
    };

    // 2. The peer: curl -o on the same session.
    auto curlRestore = [&] {
        QElapsedTimer timer;
        timer.start();
        curl({QStringLiteral("-b"), cookie, QStringLiteral("-o"), target, QStringLiteral("-H"),
              QStringLiteral("Content-Type: text/xml;charset=UTF-8"), QStringLiteral("--data-binary"),
              QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>ripristina"
                             "</action><hash>%1</hash><folderid>%2</folderid></request>")
                  .arg(hash)
                  .arg(classId),
              endpoint});
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (QFileInfo(target).size() != kSize)
            die(QStringLiteral("curl's restore is incomplete"));
        return seconds;
    };

    // Turns taken in alternation and the best of each kept: on a small machine
    // one run of either can lose seconds to the disk or to the other processes.
    double seconds = 1e9, curlSeconds = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        settle();
        seconds = std::min(seconds, clientRestore());
        QFile::remove(target);
        settle();
        curlSeconds = std::min(curlSeconds, curlRestore());
        QFile::remove(target);
    }
    const double peakMb = BenchService::peakRssMb();

    const double mb = kSize / 1048576.0;
    std::printf("restore: %.1f MB/s (curl -o: %.1f MB/s, ratio %.2f; best of %d each)\n",
                mb / seconds, mb / curlSeconds, curlSeconds / seconds, kRounds);
    std::printf("restore-peak-rss: %.0f MB (before the restore %.0f MB; limit: 150 MB, ratio %.2f)\n",
                peakMb, before, peakMb / 150.0);
    return 0;
}
