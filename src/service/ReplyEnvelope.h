#pragma once

#include <QByteArray>

// The envelope of a service reply: the reply's text without the `file` and
// `metadatoValue` elements of its first `body`. Only the mirror reads those,
// and it reads them from the whole reply as it parses it, so the document
// tree handed to the receivers of a reply of a large account stays small.
namespace ReplyEnvelope {

// The reply without those elements, written anew as UTF-8 (the same tree
// with its other elements, texts, comments and instructions); a null array
// when it has none, or when
// it is not a plain well-formed UTF-8 document whose left-out elements hold
// nothing but each other (such a reply is then parsed whole, as it is), or
// when it goes beyond ReplyLimits (then `overLimits` is set).
QByteArray strip(const QByteArray &reply, bool *overLimits);

} // namespace ReplyEnvelope
