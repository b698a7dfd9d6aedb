#pragma once

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

// A throw-away home for one test: HOME, XDG_CONFIG_HOME and TMPDIR point into a
// fresh temporary directory, so the user's real data directory is never touched.
// The previous values come back when the object is destroyed.
class TestHome
{
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString configHome() const;
    // Where the client keeps its mirror inside this home.
    QString dataDir() const;
    QString databaseFile() const;

private:
    void setEnv(const char *name, const QString &value);

    // Short names: local socket paths live under TMPDIR and are limited to
    // about 100 characters.
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/qh-XXXXXX")};
    QHash<QByteArray, QByteArray> m_saved;
};
