#pragma once

#include <QAtomicInt>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QThread>

#include <functional>

// The system's keychain (the desktop's Secret Service, the Windows credential
// store). Its calls may never answer (a stalled service, an unlock prompt
// nobody answers), so each one is given TimeoutMs and then counts as failed.
// After a failure the keychain is left alone until retry(): nobody waits for
// it twice in a row. Calls reach it in the order they were made, one at a
// time, so a removal always lands after a write that was still on its way.
class Keychain : public QObject {
    Q_OBJECT
public:
    // Pending: a removal sent and not answered yet, carried out whenever the
    // keychain answers.
    enum class Outcome { Done, Missing, Failed, Pending };
    using Callback = std::function<void(Outcome, const QString &)>;
    static constexpr int TimeoutMs = 3000;

    // One per process, gone with the application object.
    static Keychain &instance();

    bool usable() const { return m_usable; }
    // Asks the keychain again from now on, unless it has not yet answered
    // every earlier call (the next one would only wait behind it). Whether
    // it will be asked.
    bool retry();

    // done runs once, from the event loop, within TimeoutMs (never when
    // context is gone first). Missing: there is no such entry.
    void read(const QString &key, QObject *context, Callback done);
    void write(const QString &key, const QString &secret, QObject *context, Callback done);
    void remove(const QString &key, QObject *context, Callback done);

    // Wait at most TimeoutMs without running the event loop, so no other
    // code runs in between. Removing an entry that is not there is Done. A
    // removal is sent, without waiting, even to a keychain that turned out
    // unusable by sitting on an earlier call: it lands after that one, so
    // what the user wants forgotten goes when the keychain answers again.
    Outcome readNow(const QString &key, QString *secret);
    Outcome writeNow(const QString &key, const QString &secret);
    Outcome removeNow(const QString &key);

signals:
    // The keychain has just turned out unusable.
    void failed();

private:
    enum class Operation { Read, Write, Remove };
    struct Call;

    Keychain();
    ~Keychain() override;
    void submit(const QSharedPointer<Call> &call);
    void start(const QSharedPointer<Call> &call, QObject *context, Callback done);
    void answer(const QSharedPointer<Call> &call, bool answered);
    Outcome runNow(const QSharedPointer<Call> &call, QString *secret);
    Outcome settle(Outcome outcome, const QString &reason);

    QThread m_thread;
    // Lives in m_thread, and so do the jobs, its children: QtKeychain's
    // replies arrive there whatever the GUI thread is doing.
    QObject *m_home;
    bool m_usable = true;
    // Calls sent and not yet answered, counted down in m_thread.
    QAtomicInt m_unanswered;
};
