#pragma once

#include "ReplyWriter.h"

#include <QDomElement>
#include <QString>
#include <QVersionNumber>

class ServiceStore;
struct MultipartPart;
struct PreservedVersion;

// One RestService request, already taken apart by the transport.
struct ActionRequest {
    QString action;
    QDomElement root;                    // the <request> element
    QString user;                        // the session's user; empty for login
    const MultipartPart *file = nullptr; // the file part of a multipart upload
};

// The service's actions, independent of HTTP: each checks its inputs
// strictly and answers with a reply document (or the stored bytes for
// `ripristina`). Sessions are the caller's business.
class ServiceActions {
public:
    explicit ServiceActions(ServiceStore &store);

    void setMinimumClientVersion(const QVersionNumber &version) { m_minimumVersion = version; }
    ServiceReply handle(const ActionRequest &request);

    // The "31" refusal of a login.
    // The store failed: the service's own refusal, whatever went wrong.
    static ServiceReply internalError();
    static ServiceReply updateRequired(const QString &description);

private:
    ServiceReply login(const ActionRequest &request);
    ServiceReply syncFolder(const ActionRequest &request);
    ServiceReply upload(const ActionRequest &request, bool replace);
    ServiceReply saveValues(const ActionRequest &request, bool replace);
    // The version a request names by its hash and class; an invalid one,
    // with the reply that refuses the request in `refusal`, when there is none.
    PreservedVersion namedVersion(const ActionRequest &request, ServiceReply *refusal);
    ServiceReply history(const ActionRequest &request);
    ServiceReply exhibitorConfig(const ActionRequest &request);
    ServiceReply restore(const ActionRequest &request);
    ServiceReply changePassword(const ActionRequest &request);

    ServiceStore &m_store;
    QVersionNumber m_minimumVersion;
};
