#pragma once

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

// A throw-away home for one test: HOME, XDG_CONFIG_HOME and TMPDIR point into a fresh
// temporary directory, and come back when the object goes.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.filePath(QStringLiteral("config")); }
    // Where the client keeps its mirror inside this home.
    QString dataDir() const { return configHome() + QStringLiteral("/QuilloraLite"); }
    QString databaseFile() const { return dataDir() + QStringLiteral("/quilloralite.db"); }

private:
    void setEnv(const char *name, const QString &value);

    // Short: local socket paths live under TMPDIR and are limited to about 100 characters.
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/qh-XXXXXX")};
    QHash<QByteArray, QByteArray> m_saved;
};
