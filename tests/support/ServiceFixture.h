#pragma once

#include "LocalService.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// An account made by ServiceFixture::createAccount, with the ids a test needs.
struct TestAccount {
    QString user;
    QString password;
    QString profileId;      // profile with a quota
    QString emptyProfileId; // second profile, quota 0, no classes
    QString policyId;
    // Classes of profileId: "Fatture" (group "Fatture"), "Contratti" (group
    // "Contratti"), each with three fields: text required, number optional,
    // date required, in that order.
    QList<int> classIds;
    QMap<int, QList<int>> fieldIds;    // class id -> field ids in order
    QList<PreservedVersion> documents; // the preserved documents, in order
};

// Runs the local service in this process and thread over HTTPS on
// 127.0.0.1 with a port of its own, and makes the client trust it:
// - a CA and a leaf certificate (SAN IP:127.0.0.1, DNS:localhost) are made
//   once per process with the openssl tool;
// - the CA is added to the default QSslConfiguration (TLS errors are never
//   ignored);
// - QUILLORA_SERVICE_URL is set to baseUrl() while the fixture lives (the
//   client writes it into a new mirror's `url` setting).
// Each fixture has a fresh data directory; start() failures fail the test
// through isRunning() being false (check it with QVERIFY).
class ServiceFixture {
public:
    explicit ServiceFixture(LocalService::Options options = LocalService::Options());
    ~ServiceFixture();
    ServiceFixture(const ServiceFixture &) = delete;
    ServiceFixture &operator=(const ServiceFixture &) = delete;

    bool isRunning() const;
    QString errorString() const { return m_error; }
    LocalService &service() { return *m_service; }
    ServiceStore &store() { return m_service->store(); }
    QUrl baseUrl() const;
    QString baseUrlString() const; // no trailing slash
    QUrl restUrl() const;          // baseUrl() + "/vazedo/RestService"
    QString dataDir() const { return m_dataDir.path(); }

    // Stops the service and starts it again on the same data directory and
    // port (the state must survive). Returns false when it cannot listen.
    bool restart();

    // A user with a profile (quota 100 MB), an empty profile (quota 0), two
    // classes with fields (see TestAccount) and `documents` preserved
    // documents spread over the two classes, each with all three values.
    TestAccount createAccount(const QString &user, const QString &password, int documents = 3);

    // PEM files of the test CA (and of the leaf), made once per process.
    static QString caCertificatePath();
    static QString serverCertificatePath();
    static QString serverKeyPath();

private:
    QTemporaryDir m_dataDir;
    LocalService::Options m_options;
    LocalService *m_service = nullptr;
    QString m_error;
    QByteArray m_savedUrl;
    bool m_hadUrl = false;
};
