#pragma once

#include "storage/Database.h"

#include <QByteArray>
#include <QDomElement>
#include <QString>

// The local mirror's side of a synchronisation: writes a synchronisation body
// into the database, tells the newest document stamp held for a user, and
// removes another user's documents.
class MirrorSync {
public:
    MirrorSync();
    MirrorSync(const MirrorSync &) = delete;
    MirrorSync &operator=(const MirrorSync &) = delete;

    // Replaces profiles, policies, classes and fields with those of `body` and
    // merges its documents and field values, all in one transaction. Returns
    // false, with the mirror left as it was, when the database could not take
    // it; a row that merely violates a key is skipped.
    bool apply(const QDomElement &body);
    // The same for the first `body` element of a whole reply, read as it is
    // parsed, without a document tree of it; false too when the reply is not
    // a well-formed one within the bounds.
    bool applyReply(const QByteArray &reply);
    // The newest update stamp of the user's preserved documents, "0.0" when
    // there is none.
    QString codeSync(const QString &username);
    // True when another user's rows were there and are gone.
    bool clearOtherUserData(const QString &username);

private:
    Database m_database;
};
