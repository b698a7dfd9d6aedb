#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real squid on a free loopback port, for tests of the client's proxy
// support. It demands basic authentication of one user and lets that user
// reach anything, loopback ports included (CONNECT too). It runs in the
// foreground with its own configuration, log and pid files, and is killed when
// the object goes.
class SquidProxy {
public:
    SquidProxy();
    ~SquidProxy();
    SquidProxy(const SquidProxy &) = delete;
    SquidProxy &operator=(const SquidProxy &) = delete;

    // False, with the reason in errorString(), when squid is missing or does
    // not come up within a generous time.
    bool start(const QString &user, const QString &password);
    void stop();
    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    // The access log as written so far: squid writes a line when a request
    // (or a CONNECT tunnel) ends.
    QByteArray accessLog() const;

private:
    bool fail(const QString &message);

    // Squid drops its privileges when started by root, so its files live in
    // a directory outside the test's private temporary directory.
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
