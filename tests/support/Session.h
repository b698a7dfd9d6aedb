#pragma once

#include "ServiceFixture.h"
#include "TestHome.h"
#include "TrayOverride.h"

#include <QApplication>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CoreMain;
class LoginDialog;

// Generous: sign-ins under AddressSanitizer on a loaded two-core machine.
constexpr int kTimeout = 60000;

template <typename T> T *visibleTopLevel() {
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

template <typename T> T *child(const QObject *parent, const char *name) {
    return parent->findChild<T *>(QString::fromLatin1(name));
}

// Rows of `table` in the client's mirror; -1 when the statement fails.
int mirrorCount(const QString &table, const QString &where = QString());

// "action:status" of every request in the service's log, space-separated.
QString requestLog(const LocalService &service);

// Fills and submits the visible login dialog (waiting for it), then waits until
// `done` holds. False when either wait runs out.
bool signInThroughDialog(const QString &user, const QString &password, bool save,
                         const std::function<bool()> &done);

// The world most tests start from: a private home, the local service over
// HTTPS with one account, a notification area, and the main window signed in
// through its login dialog. Made once per test executable where the cases
// allow it (start() in initTestCase()).
class SignedInSession {
public:
    explicit SignedInSession(int documents = 3);
    ~SignedInSession();

    // Creates the account and the window, signs in and waits for the first
    // synchronisation. False (with a warning) when anything fails.
    bool start();
    // Signs in again through the login dialog the window shows when signed out.
    bool signIn(bool save = false);
    bool signOut();
    // True once the window's synchronisation spinner has gone.
    bool synchronised();

    LocalService &service() { return fixture.service(); }

    TestHome home;
    TrayOverride tray{true};
    ServiceFixture fixture;
    TestAccount account;
    std::unique_ptr<CoreMain> window;

private:
    int m_documents;
};
