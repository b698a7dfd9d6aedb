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
    QString profileId;      // profile with a quota of 100 MB
    QString emptyProfileId; // second profile, quota 0, no classes
    QString policyId;
    // Classes of profileId: "Fatture" (group "Fatture"), "Contratti" (group
    // "Contratti"), each with three fields: text required, number optional,
    // date required, in that order.
    QList<int> classIds;
    QMap<int, QList<int>> fieldIds;    // class id -> field ids in order
    QList<PreservedVersion> documents; // the preserved documents, in order
};

// The local service in this process and thread over HTTPS on 127.0.0.1, trusted by the client
// through a test CA in the default QSslConfiguration (TLS errors are never ignored), with a fresh
// data directory; QUILLORA_SERVICE_URL points at it while the fixture lives. Check isRunning().
class ServiceFixture {
public:
    explicit ServiceFixture(LocalService::Options options = LocalService::Options());
    ~ServiceFixture();
    ServiceFixture(const ServiceFixture &) = delete;
    ServiceFixture &operator=(const ServiceFixture &) = delete;

    bool isRunning() const { return m_service->isRunning(); }
    QString errorString() const { return m_error; }
    LocalService &service() { return *m_service; }
    ServiceStore &store() { return m_service->store(); }
    QUrl baseUrl() const { return m_service->baseUrl(); }
    QString baseUrlString() const { return baseUrl().toString(); } // no trailing slash
    QUrl restUrl() const { return QUrl(baseUrlString() + "/vazedo/RestService"); }
    QString dataDir() const { return m_dataDir.path(); }

    // Starts it again on the same data and port, as after a restart of the service.
    bool restart();

    // A user with the profiles and classes of TestAccount and `documents` preserved documents
    // spread over the two classes, each with all three values.
    TestAccount createAccount(const QString &user, const QString &password, int documents = 3);

    // PEM files of the test CA and of the service's certificate, made once per process.
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
