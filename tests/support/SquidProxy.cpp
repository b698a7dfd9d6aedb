#include "SquidProxy.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace {
const QString kSquid = "/usr/sbin/squid", kAuthHelper = "/usr/lib/squid/basic_ncsa_auth";

// The service under test listens on a high loopback port: no Safe_ports or SSL_ports limits.
const char kConfig[] = R"(http_port 127.0.0.1:%1
pid_filename %2/squid.pid
access_log stdio:%2/access.log
cache_log %2/cache.log
cache_store_log none
coredump_dir %2
netdb_filename none
cache deny all
cache_mem 8 MB
shutdown_lifetime 0 seconds
auth_param basic program %3 %2/passwd
auth_param basic realm quillora-test
acl authenticated proxy_auth REQUIRED
http_access deny !authenticated
http_access allow authenticated
http_access deny all
)";
} // namespace

SquidProxy::SquidProxy()
    : m_dir("/tmp/quillora-squid-XXXXXX") {}

SquidProxy::~SquidProxy() {
    stop();
}

bool SquidProxy::start(const QString &user, const QString &password) {
    if (!QFile::exists(kSquid) || !QFile::exists(kAuthHelper) || !m_dir.isValid())
        return fail("squid is not installed, or no directory for it");
    // Run by root, squid drops to 'proxy', which must read its files.
    const struct passwd *squidUser = ::geteuid() == 0 ? ::getpwnam("proxy") : nullptr;
    if (::geteuid() == 0 && !squidUser)
        return fail("no user 'proxy' for squid to run as");
    const QString dir = m_dir.path();
    QProcess htpasswd;
    htpasswd.start("htpasswd", {"-b", "-c", dir + "/passwd", user, password});
    if (!htpasswd.waitForFinished(30000) || htpasswd.exitCode() != 0)
        return fail("htpasswd failed: " + htpasswd.readAllStandardError());
    QTcpServer probe;
    m_port = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    probe.close();
    QString config = QString(kConfig).arg(m_port).arg(dir, kAuthHelper);
    if (squidUser)
        config += "cache_effective_user proxy\n";
    QFile file(dir + "/squid.conf");
    if (m_port == 0 || !file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0 ||
        !file.flush())
        return fail("no free port, or the configuration cannot be written");
    file.close();
    for (const QString &path : {dir, dir + "/passwd"})
        if (squidUser && ::chown(QFile::encodeName(path), squidUser->pw_uid, squidUser->pw_gid))
            return fail("cannot hand the squid directory to 'proxy'");
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(kSquid, {"-N", "-f", file.fileName()});
    if (!m_process.waitForStarted(30000))
        return fail("squid does not start: " + m_process.errorString());
    for (const QDeadlineTimer deadline(60000); !deadline.hasExpired(); QThread::msleep(100)) {
        if (m_process.state() != QProcess::Running)
            return fail("squid ended: " + m_process.readAll());
        QTcpSocket connection;
        connection.connectToHost(QHostAddress::LocalHost, m_port);
        if (connection.waitForConnected(1000))
            return true;
    }
    return fail(QString("squid does not listen on port %1").arg(m_port));
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
    QFile log(m_dir.path() + "/access.log");
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

bool SquidProxy::fail(const QString &message) {
    m_error = message;
    stop();
    return false;
}
