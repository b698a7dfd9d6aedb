#pragma once

#include <QDomElement>
#include <QObject>
#include <QString>

class Exhibitor;
class QVWConn;
class QWidget;

// Asks the service for a document's exhibition and opens its page in the
// browser, with the waiting window on screen meanwhile. Only the request in
// flight answers the connection: once it has its answer, a later session
// renewal does not send it again.
class ExhibitRequest : public QObject {
    Q_OBJECT
public:
    // `tellNetworkError`: a failure without a service reply is also shown on
    // its own, in the box "Errore".
    ExhibitRequest(QVWConn *conn, Exhibitor *waiting, bool tellNetworkError, QWidget *window);

    // An empty token does nothing.
    void send(const QString &token);

private slots:
    void esibisciFile();
    void onGetUrlExhibitorSuccesful(const QDomElement &body, const QString &status);
    void onGetUrlExhibitorFailure(const QString &message, const QString &status);

private:
    void follow(bool on);

    QVWConn *m_conn;
    Exhibitor *m_waiting;
    bool m_tellNetworkError;
    QWidget *m_window;
    QString m_token;
    QByteArray m_body;
};
