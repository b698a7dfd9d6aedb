#include "Keychain.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QDebug>
#include <QPointer>
#include <QSemaphore>
#include <QTimer>

namespace {
const QString kService = QStringLiteral("Quillora Lite");
} // namespace

// One request to the keychain. The worker fills in the answer; everything
// below `delivered` is touched by the GUI thread only.
struct Keychain::Call {
    Call(Operation operation, const QString &key, const QString &secret)
        : operation(operation)
        , key(key)
        , secret(secret) {}

    const Operation operation;
    const QString key;
    QString secret;
    Outcome outcome = Outcome::Failed;
    QString error;
    QSemaphore finished;
    bool async = false;

    bool delivered = false;
    bool waitedInVain = false;
    QPointer<QObject> context;
    Callback done;
};

Keychain &Keychain::instance() {
    static QPointer<Keychain> keychain;
    if (!keychain) {
        keychain = new Keychain;
        keychain->setParent(QCoreApplication::instance());
    }
    return *keychain;
}

Keychain::Keychain()
    : m_home(new QObject) {
    m_thread.setObjectName(QStringLiteral("keychain"));
    m_home->moveToThread(&m_thread);
    // The jobs still waiting for an answer go with it.
    connect(&m_thread, &QThread::finished, m_home, &QObject::deleteLater);
    m_thread.start();
}

Keychain::~Keychain() {
    m_thread.quit();
    m_thread.wait();
}

bool Keychain::retry() {
    if (m_unanswered.loadAcquire() == 0)
        m_usable = true;
    return m_usable;
}

void Keychain::submit(const QSharedPointer<Call> &call) {
    m_unanswered.ref();
    QMetaObject::invokeMethod(
        m_home,
        [this, home = m_home, call] {
            QKeychain::Job *job = nullptr;
            switch (call->operation) {
            case Operation::Read:
                job = new QKeychain::ReadPasswordJob(kService, home);
                break;
            case Operation::Write: {
                auto *write = new QKeychain::WritePasswordJob(kService, home);
                write->setTextData(call->secret);
                job = write;
                break;
            }
            case Operation::Remove:
                job = new QKeychain::DeletePasswordJob(kService, home);
                break;
            }
            job->setKey(call->key);
            // Runs in this thread, whatever the GUI thread is doing.
            connect(job, &QKeychain::Job::finished, [this, call](QKeychain::Job *job) {
                switch (job->error()) {
                case QKeychain::NoError:
                    call->outcome = Outcome::Done;
                    if (call->operation == Operation::Read)
                        call->secret = static_cast<QKeychain::ReadPasswordJob *>(job)->textData();
                    break;
                case QKeychain::EntryNotFound:
                    call->outcome =
                        call->operation == Operation::Remove ? Outcome::Done : Outcome::Missing;
                    break;
                default:
                    call->outcome = Outcome::Failed;
                    call->error = job->errorString();
                    break;
                }
                m_unanswered.deref();
                call->finished.release();
                if (call->async)
                    QMetaObject::invokeMethod(
                        this, [this, call] { answer(call, true); }, Qt::QueuedConnection);
            });
            job->start();
        },
        Qt::QueuedConnection);
}

void Keychain::read(const QString &key, QObject *context, Callback done) {
    start(QSharedPointer<Call>::create(Operation::Read, key, QString()), context, std::move(done));
}

void Keychain::write(const QString &key, const QString &secret, QObject *context,
                     Callback done) {
    start(QSharedPointer<Call>::create(Operation::Write, key, secret), context, std::move(done));
}

void Keychain::remove(const QString &key, QObject *context, Callback done) {
    start(QSharedPointer<Call>::create(Operation::Remove, key, QString()), context, std::move(done));
}

void Keychain::start(const QSharedPointer<Call> &call, QObject *context, Callback done) {
    call->context = context;
    call->done = std::move(done);
    if (!m_usable) {
        QMetaObject::invokeMethod(
            this, [this, call] { answer(call, false); }, Qt::QueuedConnection);
        return;
    }
    call->async = true;
    QTimer::singleShot(TimeoutMs, this, [this, call] { answer(call, false); });
    submit(call);
}

void Keychain::answer(const QSharedPointer<Call> &call, bool answered) {
    if (call->delivered)
        return;
    call->delivered = true;
    const Outcome outcome =
        answered ? settle(call->outcome, call->error)
                 : settle(Outcome::Failed, m_usable ? QStringLiteral("nessuna risposta")
                                                    : QString());
    const Callback done = std::move(call->done);
    call->done = nullptr;
    if (call->context && done)
        done(outcome, outcome == Outcome::Done ? call->secret : QString());
}

Keychain::Outcome Keychain::readNow(const QString &key, QString *secret) {
    return runNow(QSharedPointer<Call>::create(Operation::Read, key, QString()), secret);
}

Keychain::Outcome Keychain::writeNow(const QString &key, const QString &secret) {
    return runNow(QSharedPointer<Call>::create(Operation::Write, key, secret), nullptr);
}

Keychain::Outcome Keychain::removeNow(const QString &key) {
    const auto call = QSharedPointer<Call>::create(Operation::Remove, key, QString());
    if (m_usable) {
        const Outcome outcome = runNow(call, nullptr);
        return call->waitedInVain ? Outcome::Pending : outcome;
    }
    if (m_unanswered.loadAcquire() == 0)
        return Outcome::Failed;
    submit(call);
    return Outcome::Pending;
}

Keychain::Outcome Keychain::runNow(const QSharedPointer<Call> &call, QString *secret) {
    if (!m_usable)
        return Outcome::Failed;
    submit(call);
    call->waitedInVain = !call->finished.tryAcquire(1, TimeoutMs);
    if (call->waitedInVain)
        return settle(Outcome::Failed, QStringLiteral("nessuna risposta"));
    if (secret && call->outcome == Outcome::Done)
        *secret = call->secret;
    return settle(call->outcome, call->error);
}

Keychain::Outcome Keychain::settle(Outcome outcome, const QString &reason) {
    if (outcome == Outcome::Failed && m_usable) {
        m_usable = false;
        qWarning().noquote() << QStringLiteral("Portachiavi non disponibile: ") + reason;
        emit failed();
    }
    return outcome;
}
