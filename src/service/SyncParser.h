#pragma once

#include "service/MirrorRows.h"
#include "service/ReplyEnvelope.h"
#include "service/ReplyLimits.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <functional>
#include <memory>

class MirrorWriter;

// A login or synchronisation reply read as its bytes arrive: each token is
// checked against the bounds, copied into the envelope unless it belongs to
// a document or value, and the rows of the first body are written to the
// mirror as they come by a MirrorWriter, whose transaction is committed only
// when asked (the status may still refuse the reply).
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
    // `written` is called, on the writer's thread, whenever the writer has
    // taken rows off its backlog or has settled.
    explicit SyncParser(const QString &user = QString(),
                        std::function<void()> written = nullptr);
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
    // Rows parsed and not yet written.
    qsizetype backlog() const;
    // Every row parsed so far is written, the index in step, after finish().
    bool isSettled() const;
    // Makes the rows part of the mirror, waiting for them if need be; false,
    // with everything undone, when the database did not take them.
    bool commit();
    // The writer, which after a commit still copies the log into the mirror's
    // file: whoever keeps it does not wait for that now.
    std::unique_ptr<MirrorWriter> takeWriter();

private:
    void parse();
    bool token();
    void send();
    void startRows();

    QString m_user;
    std::function<void()> m_written;
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
    MirrorRows::Picker m_picker;
    std::vector<MirrorRows::Row> m_batch;
    std::unique_ptr<MirrorWriter> m_writer;
};
