#include "SquidProxy.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace {

const char kSquid[] = "/usr/sbin/squid";
const char kAuthHelper[] = "/usr/lib/squid/basic_ncsa_auth";
const char kSquidUser[] = "proxy";

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool giveTo(const struct passwd *user, const QString &path) {
    return !user || ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0;
}

} // namespace

SquidProxy::SquidProxy()
    : m_dir(QStringLiteral("/tmp/quillora-squid-XXXXXX")) {}

SquidProxy::~SquidProxy() {
    stop();
}

bool SquidProxy::start(const QString &user, const QString &password) {
    if (!QFile::exists(QString::fromLatin1(kSquid)) ||
        !QFile::exists(QString::fromLatin1(kAuthHelper)))
        return fail(QStringLiteral("squid is not installed"));
    if (!m_dir.isValid())
        return fail(QStringLiteral("no directory for squid"));
    const struct passwd *squidUser = ::geteuid() == 0 ? ::getpwnam(kSquidUser) : nullptr;
    if (::geteuid() == 0 && !squidUser)
        return fail(QStringLiteral("no user 'proxy' for squid to run as"));

    const QString dir = m_dir.path();
    const QString passwords = dir + QStringLiteral("/passwd");
    QProcess htpasswd;
    htpasswd.start(QStringLiteral("htpasswd"),
                   {QStringLiteral("-b"), QStringLiteral("-c"), passwords, user, password});
    if (!htpasswd.waitForFinished(30000) || htpasswd.exitCode() != 0)
        return fail(QStringLiteral("htpasswd failed: ") + htpasswd.readAllStandardError());

    m_port = freePort();
    if (m_port == 0)
        return fail(QStringLiteral("no free port"));
    const QString config = dir + QStringLiteral("/squid.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write ") + config);
    const QString text = QStringLiteral("http_port 127.0.0.1:%1\n"
                                        "pid_filename %2/squid.pid\n"
                                        "access_log stdio:%2/access.log\n"
                                        "cache_log %2/cache.log\n"
                                        "cache_store_log none\n"
                                        "coredump_dir %2\n"
                                        "netdb_filename none\n"
                                        "cache deny all\n"
                                        "cache_mem 8 MB\n"
                                        "shutdown_lifetime 0 seconds\n"
                                        "auth_param basic program %3 %4\n"
                                        "auth_param basic realm quillora-test\n"
                                        "acl authenticated proxy_auth REQUIRED\n"
                                        // The service under test listens on a high loopback
                                        // port: no Safe_ports or SSL_ports limits here.
                                        "http_access deny !authenticated\n"
                                        "http_access allow authenticated\n"
                                        "http_access deny all\n")
                             .arg(m_port)
                             .arg(dir, QString::fromLatin1(kAuthHelper), passwords);
    const QString runAs =
        squidUser ? QStringLiteral("cache_effective_user %1\n").arg(QString::fromLatin1(kSquidUser))
                  : QString();
    if (file.write((text + runAs).toUtf8()) < 0 || !file.flush())
        return fail(QStringLiteral("cannot write ") + config);
    file.close();
    if (!giveTo(squidUser, dir) || !giveTo(squidUser, passwords))
        return fail(QStringLiteral("cannot hand the squid directory to 'proxy'"));

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QString::fromLatin1(kSquid),
                    {QStringLiteral("-N"), QStringLiteral("-f"), config});
    if (!m_process.waitForStarted(30000))
        return fail(QStringLiteral("squid does not start: ") + m_process.errorString());

    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running)
            return fail(QStringLiteral("squid ended: ") + m_process.readAll());
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(1000))
            return true;
        QThread::msleep(100);
    }
    return fail(QStringLiteral("squid does not listen on port %1").arg(m_port));
}

void SquidProxy::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(15000)) {
        m_process.kill();
        m_process.waitForFinished(15000);
    }
}

QByteArray SquidProxy::accessLog() const {
    QFile log(m_dir.path() + QStringLiteral("/access.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

bool SquidProxy::fail(const QString &message) {
    m_error = message;
    stop();
    return false;
}
