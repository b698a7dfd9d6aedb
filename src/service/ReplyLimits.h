#pragma once

#include <QByteArray>

class QXmlStreamReader;

// Bounds no honest reply comes near (the protocol nests fewer than ten
// levels and its values are short), so that a hostile one is refused before
// a document tree, whose walks cost more the deeper it is, is built of it.
class ReplyLimits {
public:
    static constexpr int kMaxDepth = 64;
    static constexpr qsizetype kMaxValueChars = 1 << 20;
    // A command's whole reply; a file, the login and the synchronisation are not bounded.
    static constexpr qint64 kMaxCommandBytes = qint64(64) << 20;

    // Takes the reader's current token; false once the reply is beyond a bound.
    bool accept(const QXmlStreamReader &xml);

    // The whole reply read once for the bounds alone; a reply that is not
    // well-formed XML is not refused here (it is no tree of any size).
    static bool withinLimits(const QByteArray &reply);

private:
    int m_depth = 0;
    qsizetype m_textRun = 0; // a text may come in several tokens
};
