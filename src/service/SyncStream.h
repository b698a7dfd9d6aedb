#pragma once

#include "service/SyncParser.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QNetworkReply;

// Reads a login or synchronisation reply into a SyncParser as it arrives, a
// slice at a time between the window's events, so that a large account is
// written (on the parser's writer thread) while the rest is still on its way
// and the window keeps responding; the reply waits in the network's buffer
// while the writer is behind. A reply beyond the bounds, or not well-formed, is aborted at
// once. Once the reply has ended and every byte is read, `done` is called.
class SyncStream : public QObject {
    Q_OBJECT
public:
    // The stream belongs to the reply; `user` as for SyncParser.
    SyncStream(QNetworkReply *reply, const QString &user,
               std::function<void(QNetworkReply *)> done);

    static SyncStream *of(QNetworkReply *reply);
    // Undoes the rows at once, before the reply itself goes; true when the
    // reply had ended and was only waiting for its last bytes to be read
    // (nobody will hear of it again).
    static bool drop(QNetworkReply *reply);

    bool isDone() const { return m_done; }
    // The reply was aborted by the stream for what it held.
    bool abortedReply() const { return m_aborted; }
    SyncParser &parser() { return m_parser; }

    // The network stack holds at most this much of the reply unread.
    static constexpr qint64 kReadBuffer = qint64(4) << 20;

private:
    void step();

    QNetworkReply *m_reply;
    SyncParser m_parser;
    std::function<void(QNetworkReply *)> m_onDone;
    QTimer m_next;
    bool m_checked = false; // the HTTP status was looked at
    bool m_parsing = true;  // a reply document, not an error page
    bool m_finished = false; // the reply has ended and its bytes are read
    bool m_done = false;
    bool m_aborted = false;
};
