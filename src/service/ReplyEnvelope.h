#pragma once

#include <QByteArray>
#include <QXmlStreamWriter>

class QXmlStreamReader;

// The envelope of a service reply: the reply's text without the `file` and
// `metadatoValue` elements of its first `body`. Only the mirror reads those,
// as the reply is parsed, so the document tree handed to the receivers of a
// reply of a large account stays small. It is written anew as UTF-8 (the same
// tree with its other elements, texts, comments and instructions), one token
// of the reader at a time.
class ReplyEnvelope {
public:
    // What a left-out element may hold: whitespace and other left-out
    // elements only (anything else makes the reply uncuttable), or anything,
    // left out with it.
    enum class Content { Strict, Dropped };
    explicit ReplyEnvelope(Content content = Content::Strict);
    ReplyEnvelope(const ReplyEnvelope &) = delete;
    ReplyEnvelope &operator=(const ReplyEnvelope &) = delete;

    // Takes the reader's current token. False when the reply cannot be cut
    // this way: it is not a plain UTF-8 document (a type declaration, an entity
    // reference, another encoding), or, when Strict, a left-out element holds
    // anything but whitespace and other left-out elements.
    bool take(const QXmlStreamReader &xml);
    // Some element was left out.
    bool isCut() const { return m_cut; }
    const QByteArray &text() const { return m_text; }

    // The whole reply cut at once; a null array when it has nothing to leave
    // out, when it cannot be cut or is not well-formed (such a reply is then
    // parsed whole, as it is), or when it goes beyond ReplyLimits (then
    // `overLimits` is set).
    static QByteArray strip(const QByteArray &reply, bool *overLimits);

private:
    QByteArray m_text;
    QXmlStreamWriter m_out;
    Content m_content;
    bool m_cut = false;   // some element was left out
    int m_cutDepth = 0;   // > 0 inside a left-out element
    int m_bodyDepth = -1; // >= 0 inside the first body
    bool m_bodySeen = false;
};
