#pragma once

#include "ServiceFixture.h"
#include "service/QVWConn.h"
#include "storage/Setting.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkCookieJar>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <csignal>
#include <memory>

// The local service as a process of its own, so that what a benchmark
// measures in its own process is the client alone. HTTPS with the test CA,
// which this process then trusts.
class BenchService {
public:
    BenchService() = default;
    ~BenchService() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(30000))
                m_process.kill();
            m_process.waitForFinished(30000);
        }
    }
    BenchService(const BenchService &) = delete;
    BenchService &operator=(const BenchService &) = delete;

    // `generate`: one USER:PASSWORD:DOCS:... value of the service's --generate option per account.
    bool start(const QStringList &generate) {
        QString program = qEnvironmentVariable("QUILLORA_BUILD");
        program =
            (program.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..")
                               : program) +
            QStringLiteral("/quillora-localservice");
        QStringList arguments = {
            QStringLiteral("--data"),     m_data.path(),
            QStringLiteral("--tls-cert"), ServiceFixture::serverCertificatePath(),
            QStringLiteral("--tls-key"),  ServiceFixture::serverKeyPath()};
        for (const QString &plan : generate)
            arguments << QStringLiteral("--generate") << plan;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The service goes with this process, however it ends.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(program, arguments);
        // Generating a large account takes a while.
        const QDeadlineTimer deadline(30 * 60 * 1000);
        QByteArray out;
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(1000);
            out += m_process.readAllStandardOutput();
            const int at = out.indexOf("listening on ");
            const int end = out.indexOf('\n', at);
            if (at >= 0 && end > at) {
                m_url = QString::fromUtf8(out.mid(at + 13, end - at - 13)).trimmed();
                trustTestCa();
                return true;
            }
        }
        m_error = QStringLiteral("the local service did not start: ") + QString::fromUtf8(out);
        return false;
    }

    QString url() const { return m_url; }
    QString errorString() const { return m_error; }
    QString dataDir() const { return m_data.path(); }

    static void trustTestCa() {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificates(ServiceFixture::caCertificatePath());
        QSslConfiguration::setDefaultConfiguration(config);
    }

    // Peak resident set of this process, in MB.
    // Signs in through the client's own connection, as the login dialog
    // does, into the mirror of the current test home. `seconds` (post to
    // syncCategorieOK()) and `peakMb` are taken at the signal itself: dropping
    // the reply afterwards is not part of the synchronisation.
    // `residentMb`, when given, is what the process held before the login and
    // after the synchronisation; `blockedMs`, the longest stretch in between
    // without the event loop turning.
    static bool signIn(const QString &url, const QString &user, const QString &password,
                       double *seconds, double *peakMb = nullptr,
                       std::pair<double, double> *residentMb = nullptr,
                       double *blockedMs = nullptr) {
        Setting().setValue(QStringLiteral("url"), url);
        auto jar = std::make_unique<QNetworkCookieJar>();
        auto conn = std::make_unique<QVWConn>(jar.get(), false);
        QEventLoop loop;
        bool synced = false;
        QElapsedTimer timer;
        QObject::connect(conn.get(), &QVWConn::syncCategorieOK, &loop, [&] {
            *seconds = timer.nsecsElapsed() / 1e9;
            if (peakMb)
                *peakMb = peakRssMb();
            synced = true;
            loop.quit();
        });
        QObject::connect(conn.get(), &QVWConn::loginFailure, &loop, &QEventLoop::quit);
        QObject::connect(conn.get(), &QVWConn::commandFailure, &loop, &QEventLoop::quit);
        if (residentMb)
            residentMb->first = statusMb("VmRSS:");
        QTimer tick;
        QElapsedTimer sinceTick;
        qint64 longestNs = 0;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            longestNs = qMax(longestNs, sinceTick.nsecsElapsed());
            sinceTick.restart();
        });
        tick.start(5);
        sinceTick.start();
        timer.start();
        conn->login(user, password, true);
        loop.exec();
        if (blockedMs)
            *blockedMs = qMax(longestNs, sinceTick.nsecsElapsed()) / 1e6;
        if (residentMb)
            residentMb->second = statusMb("VmRSS:");
        return synced;
    }

    static double peakRssMb() {
        if (const double peak = statusMb("VmHWM:"); peak > 0)
            return peak;
        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss / 1024.0;
    }

    // A figure of /proc/self/status in MB; 0 when there is none.
    static double statusMb(const char *field) {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith(field))
                    return line.mid(qstrlen(field)).trimmed().split(' ').first().toDouble() /
                           1024.0;
            }
        }
        return 0;
    }

private:
    QTemporaryDir m_data;
    QProcess m_process;
    QString m_url;
    QString m_error;
};
