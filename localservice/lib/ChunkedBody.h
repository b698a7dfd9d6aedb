#pragma once

#include <QByteArray>
#include <QIODevice>

class QHttpServerResponder;

// A reply body sent as it is written, in HTTP/1.1 chunks, for replies too
// large to be made whole first: the client reads the start while the rest is
// still being written. close() sends the last chunk.
class ChunkedBody : public QIODevice {
public:
    explicit ChunkedBody(QHttpServerResponder &responder);
    ~ChunkedBody() override;

    void close() override;
    // Ends without the last chunk: the client sees the reply cut short.
    void abandon();
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    void sendChunk();

    QHttpServerResponder &m_responder;
    QByteArray m_pending;
};
