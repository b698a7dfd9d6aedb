#include "TestHome.h"

#include <QFile>
#include <QSettings>
#include <QSqlDatabase>

namespace {
void closeMirrorConnection() {
    if (QSqlDatabase::contains(QStringLiteral("quilloralite")))
        QSqlDatabase::database(QStringLiteral("quilloralite"), false).close();
}
} // namespace

TestHome::TestHome() {
    closeMirrorConnection();
    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("config"));
    root.mkpath(QStringLiteral("tmp"));
    // The client's local server listens here: private, and apart from tests
    // running beside this one.
    root.mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setEnv("HOME", m_dir.path());
    setEnv("XDG_CONFIG_HOME", configHome());
    setEnv("TMPDIR", root.filePath(QStringLiteral("tmp")));
    setEnv("XDG_RUNTIME_DIR", root.filePath(QStringLiteral("runtime")));
    // QSettings caches the user path for the life of the process.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome());
}

TestHome::~TestHome() {
    closeMirrorConnection();
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it.value().isNull())
            qunsetenv(it.key().constData());
        else
            qputenv(it.key().constData(), it.value());
    }
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       config.isEmpty() ? QDir::homePath() + QStringLiteral("/.config")
                                        : QString::fromLocal8Bit(config));
}

void TestHome::setEnv(const char *name, const QString &value) {
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
    qputenv(name, value.toLocal8Bit());
}
