#pragma once

#include <QFile>
#include <QObject>

class QTcpSocket;

// Sends a stored file as a reply body, as fast as the socket takes it and
// never more than a few chunks ahead of it, so that a large document is never
// held whole. It lives on the socket and goes when the file is sent or the
// socket closes.
class FileSender : public QObject {
public:
    // The headers are written already; false when the file cannot be read.
    static bool send(const QString &path, QTcpSocket *socket);

private:
    FileSender(const QString &path, QTcpSocket *socket);
    void pump();

    QFile m_file;
    QTcpSocket *m_socket;
};
