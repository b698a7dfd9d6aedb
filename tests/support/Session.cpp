#include "Session.h"

#include "QueryRows.h"

#include "mainwindow/CoreMain.h"
#include "service/LoginDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

int mirrorCount(const QString &table, const QString &where) {
    bool ok = false;
    const int count = mirrorRows(QStringLiteral("SELECT count(*) FROM ") + table +
                                 (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where))
                          .value(0)
                          .toInt(&ok);
    return ok ? count : -1;
}

QString requestLog(const LocalService &service) {
    QStringList seen;
    for (const auto &request : service.requests())
        seen << request.action + ':' + request.statusNumber;
    return seen.join(' ');
}

bool signInThroughDialog(const QString &user, const QString &password, bool save,
                         const std::function<bool()> &done) {
    LoginDialog *login = nullptr;
    if (!QTest::qWaitFor([&] { return (login = visibleTopLevel<LoginDialog>()); }, kTimeout))
        return false;
    child<QLineEdit>(login, "leUsername")->setText(user);
    child<QLineEdit>(login, "lePassword")->setText(password);
    child<QCheckBox>(login, "ckbSalvaCredenziali")->setChecked(save);
    child<QPushButton>(login, "btmOk")->click();
    return QTest::qWaitFor(done, kTimeout);
}

SignedInSession::SignedInSession(int documents)
    : m_documents(documents) {}

SignedInSession::~SignedInSession() {
    window.reset();
}

bool SignedInSession::start() {
    if (!fixture.isRunning()) {
        qWarning() << "local service:" << fixture.errorString();
        return false;
    }
    account =
        fixture.createAccount(QStringLiteral("mario"), QStringLiteral("Segreta1!"), m_documents);
    if (account.profileId.isEmpty())
        return false;
    qApp->setQuitOnLastWindowClosed(false);
    window = std::make_unique<CoreMain>();
    return signIn();
}

bool SignedInSession::signIn(bool save) {
    CoreMain *w = window.get();
    return signInThroughDialog(account.user, account.password, save,
                               [w] { return w->isVisible(); }) &&
           synchronised();
}

bool SignedInSession::signOut() {
    child<QToolButton>(window.get(), "btmLogout")->click();
    return QTest::qWaitFor([] { return visibleTopLevel<LoginDialog>() != nullptr; }, kTimeout);
}

bool SignedInSession::synchronised() {
    // The window's own spinner, not that of a window it owns.
    QLabel *loading = nullptr;
    for (QLabel *label : window->findChildren<QLabel *>(QStringLiteral("lblLoading")))
        loading = label->window() == window.get() ? label : loading;
    return QTest::qWaitFor([loading] { return loading->isHidden(); }, kTimeout);
}
