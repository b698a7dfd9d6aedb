#pragma once

#include <QByteArray>
#include <QList>
#include <functional>
#include <QPair>
#include <QString>
#include <QXmlStreamWriter>

// What the service sends back for one request.
struct ServiceReply {
    int httpStatus = 200;
    QByteArray contentType = QByteArrayLiteral("text/xml;charset=UTF-8");
    QByteArray body;
    QString statusNumber; // empty for replies that are not reply documents
    QString signedInUser; // set by an accepted login: the service opens a session
    QList<QPair<QByteArray, QByteArray>> headers; // extra headers (Set-Cookie, ...)
    // Set for a reply written as it is sent (then `body` is empty): writes the
    // whole document to the device; false when it could not be finished.
    std::function<bool(QIODevice *)> produce;
    // Set for a reply whose body is this file, sent from disk as it is read
    // (then `body` is empty).
    QString filePath;

    // The body written (or read) whole, for a reply that must be held
    // (scripted faults); false when it could not be finished.
    bool materialise();
};

// Streams a reply document: <response><statusnumber/><body><statusdescription/>
// ... </body></response>. Whatever the action adds goes through xml() between
// construction and finish(), so big replies are never held as a DOM tree.
class ReplyWriter {
public:
    ReplyWriter(const char *status, const QString &description);
    // Writing to `device` instead, for a reply sent as it is written.
    ReplyWriter(QIODevice *device, const char *status, const QString &description);
    ReplyWriter(const ReplyWriter &) = delete;
    ReplyWriter &operator=(const ReplyWriter &) = delete;

    QXmlStreamWriter &xml() { return m_xml; }
    ServiceReply finish(int httpStatus = 200);

    // A refusal: HTTP 500 with status and description only.
    static ServiceReply failure(const char *status, const QString &description);
    // An HTTP 200 reply whose body `rows` writes as it is sent.
    static ServiceReply streamed(const char *status, const QString &description,
                                 std::function<bool(QXmlStreamWriter &)> rows);

private:
    void writeHead(const QString &description);

    QByteArray m_buffer;
    QXmlStreamWriter m_xml;
    QString m_status;
};
