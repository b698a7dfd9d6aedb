#pragma once

#include "service/ReplyEnvelope.h"
#include "service/ReplyLimits.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QXmlStreamReader>

#include <memory>

class MirrorRows;

// A login or synchronisation reply read as its bytes arrive: each token is
// checked against the bounds, copied into the envelope unless it belongs to
// a document or value, and the rows of the first body are written to the
// mirror as they come, in a transaction of a connection of its own that is
// committed only when asked (the status may still refuse the reply).
class SyncParser {
public:
    enum class State {
        Reading,   // well-formed so far, or complete after finish()
        Whole,     // cannot be cut: every byte is kept to parse the reply whole
        Refused,   // beyond the bounds
        Malformed, // not well-formed, or cut short
    };

    // `user`: the user signing in. The documents and values of any other user
    // are then taken out before the rows of the body, in the same transaction.
    explicit SyncParser(const QString &user = QString());
    ~SyncParser(); // what was not committed is undone
    SyncParser(const SyncParser &) = delete;
    SyncParser &operator=(const SyncParser &) = delete;

    void feed(const QByteArray &bytes);
    // No more bytes will come.
    void finish();
    State state() const { return m_state; }
    // Reading after finish(): the reply without its documents and values.
    const QByteArray &envelope() const { return m_envelope.text(); }
    // Whole: every byte fed.
    QByteArray takeBytes();
    // Makes the rows part of the mirror; false, with everything undone, when
    // the database did not take them.
    bool commit();

private:
    void parse();
    bool token();
    bool startRows();
    void failRows();
    void endConnection();

    QString m_user;
    State m_state = State::Reading;
    QXmlStreamReader m_xml;
    ReplyLimits m_limits;
    ReplyEnvelope m_envelope;
    // The bytes so far, while the reply could still turn out not to be
    // cuttable: until its first document or value.
    QByteArray m_bytes;
    bool m_complete = false;
    int m_bodyDepth = -1; // >= 0 inside the first body
    bool m_bodySeen = false;
    bool m_rowsFailed = false;
    bool m_rowsEnded = false;
    QString m_connection;
    QSqlDatabase m_db;
    std::unique_ptr<MirrorRows> m_rows;
};
