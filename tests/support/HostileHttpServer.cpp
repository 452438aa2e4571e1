#include "HostileHttpServer.h"

#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <limits>

HostileAnswer HostileAnswer::whole(const QByteArray &statusLine, const QByteArray &headers,
                                   const QByteArray &body)
{
    return {"HTTP/1.1 " + statusLine + "\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\n" + headers + "Connection: close\r\n\r\n" + body};
}

/// The server itself, living on the server's thread; what it records is read from the test's.
class HostileHttpWorker : public QObject
{
public:
    HostileHttpWorker(HostileScript script, const QHostAddress &address);
    ~HostileHttpWorker() override;

    quint16 port() const { return m_server.serverPort(); }

    QMutex mutex;
    QList<QByteArray> requests;
    int connectionCount = 0;

private:
    struct Stream
    {
        QByteArray received;
        QByteArray filler;
        qint64 floodLeft = 0;
    };

    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const HostileAnswer &answer);
    void flood(QTcpSocket *socket);

    QTcpServer m_server;
    HostileScript m_script;
    QHash<QTcpSocket *, Stream> m_streams;
};

HostileHttpWorker::HostileHttpWorker(HostileScript script, const QHostAddress &address)
    : m_script(std::move(script))
{
    m_server.listen(address, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { flood(socket); });
            const QMutexLocker lock(&mutex);
            ++connectionCount;
        }
    });
}

HostileHttpWorker::~HostileHttpWorker()
{
    // Sockets are children; their signals must not reach a half-destroyed server.
    for (QTcpSocket *socket : findChildren<QTcpSocket *>())
        socket->disconnect(this);
}

void HostileHttpWorker::read(QTcpSocket *socket)
{
    QByteArray &buffer = m_streams[socket].received;
    buffer += socket->readAll();
    for (qsizetype headEnd; (headEnd = buffer.indexOf("\r\n\r\n")) >= 0;) {
        qsizetype length = headEnd + 4;
        for (const QByteArray &line : buffer.left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length += line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < length)
            return;
        const QByteArray request = buffer.left(length);
        buffer.remove(0, length);
        {
            const QMutexLocker lock(&mutex);
            requests.append(request);
        }
        const QByteArray verb = request.left(request.indexOf(' '));
        answer(socket, m_script.value(verb == "HEAD" ? QByteArray("GET") : verb,
                                      HostileAnswer::whole("501 Not Implemented")));
    }
}

void HostileHttpWorker::answer(QTcpSocket *socket, const HostileAnswer &answer)
{
    socket->write(answer.head);
    if (answer.filler.isEmpty()) {
        if (answer.hangsUp)
            socket->disconnectFromHost();
    } else if (answer.dripInterval.count() > 0) {
        auto *drip = new QTimer(socket);
        connect(drip, &QTimer::timeout, socket,
                [socket, filler = answer.filler, next = qsizetype(0)]() mutable {
                    if (socket->state() == QAbstractSocket::ConnectedState)
                        socket->write(filler.mid(next++ % filler.size(), 1));
                });
        drip->start(answer.dripInterval);
    } else {
        Stream &stream = m_streams[socket];
        stream.filler = answer.filler.repeated(64 * 1024 / answer.filler.size() + 1);
        stream.floodLeft =
            answer.floodBytes > 0 ? answer.floodBytes : std::numeric_limits<qint64>::max();
        flood(socket);
    }
}

void HostileHttpWorker::flood(QTcpSocket *socket)
{
    Stream &stream = m_streams[socket];
    // A little queued at a time, so what the server holds never counts in the client's memory.
    while (stream.floodLeft > 0 && socket->state() == QAbstractSocket::ConnectedState &&
           socket->bytesToWrite() < 256 * 1024) {
        const QByteArray chunk = stream.filler.left(stream.floodLeft);
        stream.floodLeft -= chunk.size();
        socket->write(chunk);
    }
}

HostileHttpServer::HostileHttpServer(HostileScript script, const QHostAddress &address)
    : m_address(address)
{
    m_onThread.moveToThread(&m_thread);
    m_thread.start();
    // Built on its thread, so its sockets belong there from the start.
    QMetaObject::invokeMethod(
        &m_onThread,
        [this, &script, address] {
            m_worker = new HostileHttpWorker(std::move(script), address);
            m_port = m_worker->port();
        },
        Qt::BlockingQueuedConnection);
}

HostileHttpServer::~HostileHttpServer()
{
    QMetaObject::invokeMethod(
        &m_onThread, [this] { delete m_worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QUrl HostileHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://%1:%2%3").arg(m_address.toString()).arg(m_port).arg(path));
}

QList<QByteArray> HostileHttpServer::requests() const
{
    const QMutexLocker lock(&m_worker->mutex);
    return m_worker->requests;
}

int HostileHttpServer::connectionCount() const
{
    const QMutexLocker lock(&m_worker->mutex);
    return m_worker->connectionCount;
}
