#pragma once

#include <QByteArray>
#include <QList>
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
};

// Streams a reply document: <response><statusnumber/><body><statusdescription/>
// ... </body></response>. Whatever the action adds goes through xml() between
// construction and finish(), so big replies are never held as a DOM tree.
class ReplyWriter {
public:
    ReplyWriter(const char *status, const QString &description);
    ReplyWriter(const ReplyWriter &) = delete;
    ReplyWriter &operator=(const ReplyWriter &) = delete;

    QXmlStreamWriter &xml() { return m_xml; }
    ServiceReply finish(int httpStatus = 200);

    // A refusal: HTTP 500 with status and description only.
    static ServiceReply failure(const char *status, const QString &description);

private:
    QByteArray m_buffer;
    QXmlStreamWriter m_xml;
    QString m_status;
};
