#include "HostileHttpServer.h"

#include <QFile>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <limits>

namespace {

/// How much a flood keeps queued for the client: enough to keep the loopback busy, little enough
/// that the server's own buffers never count in the client's memory.
constexpr qint64 floodQueueBytes = 256 * 1024;
constexpr qsizetype floodChunkBytes = 64 * 1024;

} // namespace

HostileAnswer HostileAnswer::whole(const QByteArray &statusLine, const QByteArray &headers,
                                   const QByteArray &body)
{
    return {"HTTP/1.1 " + statusLine + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                "\r\n" + headers + "Connection: close\r\n\r\n" + body,
            {},
            std::chrono::milliseconds(0),
            true};
}

HostileAnswer HostileAnswer::drip(const QByteArray &head, const QByteArray &filler,
                                  std::chrono::milliseconds interval)
{
    return {head, filler, interval, false};
}

HostileAnswer HostileAnswer::flood(const QByteArray &head, const QByteArray &filler,
                                   qint64 floodBytes)
{
    return {head, filler, std::chrono::milliseconds(0), false, floodBytes};
}

/// The server itself, living on the server's thread; the counters are read from the test's.
class HostileHttpWorker : public QObject
{
public:
    HostileHttpWorker(QList<HostileAnswer> script, const QHostAddress &address);
    ~HostileHttpWorker() override;

    quint16 port() const { return m_port; }

    mutable QMutex m_mutex;
    QList<QByteArray> m_requests;
    int m_connectionCount = 0;
    qint64 m_bytesSent = 0;

private:
    struct Stream
    {
        QByteArray received;
        QByteArray filler;
        qsizetype fillerOffset = 0;
        QTimer *drip = nullptr;
        bool floods = false;
        qint64 floodLeft = 0;
    };

    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const HostileAnswer &answer);
    void topUp(QTcpSocket *socket);
    void dripOne(QTcpSocket *socket);
    void write(QTcpSocket *socket, const QByteArray &bytes);

    QTcpServer m_server;
    QList<HostileAnswer> m_script;
    QHash<QTcpSocket *, Stream> m_streams;
    quint16 m_port = 0;
};

HostileHttpWorker::HostileHttpWorker(QList<HostileAnswer> script, const QHostAddress &address)
    : m_script(std::move(script))
{
    m_server.listen(address, 0);
    m_port = m_server.serverPort();
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            {
                const QMutexLocker lock(&m_mutex);
                ++m_connectionCount;
            }
            socket->setParent(this);
            m_streams.insert(socket, {});
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { topUp(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                const Stream stream = m_streams.take(socket);
                if (stream.drip)
                    stream.drip->stop();
                socket->deleteLater();
            });
        }
    });
}

HostileHttpWorker::~HostileHttpWorker()
{
    // Sockets are children; their signals must not reach a half-destroyed server.
    for (QTcpSocket *socket : m_streams.keys())
        socket->disconnect(this);
}

void HostileHttpWorker::read(QTcpSocket *socket)
{
    if (!m_streams.contains(socket))
        return;
    QByteArray &buffer = m_streams[socket].received;
    buffer += socket->readAll();
    for (;;) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        qsizetype bodyLength = 0;
        for (const QByteArray &line : buffer.left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                bodyLength = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headEnd + 4 + bodyLength)
            return;
        {
            const QMutexLocker lock(&m_mutex);
            m_requests.append(buffer.left(headEnd + 4 + bodyLength));
        }
        buffer.remove(0, headEnd + 4 + bodyLength);
        const HostileAnswer next = m_script.size() > 1
                                       ? m_script.takeFirst()
                                       : m_script.value(0, HostileAnswer::silence());
        answer(socket, next);
    }
}

void HostileHttpWorker::answer(QTcpSocket *socket, const HostileAnswer &answer)
{
    Stream &stream = m_streams[socket];
    write(socket, answer.head);
    if (answer.filler.isEmpty()) {
        if (answer.hangsUp)
            socket->disconnectFromHost();
        return;
    }
    stream.filler = answer.filler;
    stream.fillerOffset = 0;
    if (answer.dripInterval.count() > 0) {
        stream.drip = new QTimer(socket);
        connect(stream.drip, &QTimer::timeout, this, [this, socket] { dripOne(socket); });
        stream.drip->start(answer.dripInterval);
        return;
    }
    stream.floods = true;
    stream.floodLeft =
        answer.floodBytes > 0 ? answer.floodBytes : std::numeric_limits<qint64>::max();
    topUp(socket);
}

void HostileHttpWorker::topUp(QTcpSocket *socket)
{
    if (!m_streams.contains(socket) || !m_streams[socket].floods)
        return;
    Stream &stream = m_streams[socket];
    while (socket->state() == QAbstractSocket::ConnectedState && stream.floodLeft > 0 &&
           socket->bytesToWrite() < floodQueueBytes) {
        QByteArray chunk;
        chunk.reserve(floodChunkBytes + stream.filler.size());
        while (chunk.size() < floodChunkBytes)
            chunk += stream.filler;
        chunk.truncate(qMin<qint64>(chunk.size(), stream.floodLeft));
        stream.floodLeft -= chunk.size();
        write(socket, chunk);
    }
}

void HostileHttpWorker::dripOne(QTcpSocket *socket)
{
    if (!m_streams.contains(socket) || socket->state() != QAbstractSocket::ConnectedState)
        return;
    Stream &stream = m_streams[socket];
    write(socket, stream.filler.mid(stream.fillerOffset, 1));
    stream.fillerOffset = (stream.fillerOffset + 1) % stream.filler.size();
}

void HostileHttpWorker::write(QTcpSocket *socket, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 written = socket->write(bytes);
    const QMutexLocker lock(&m_mutex);
    m_bytesSent += written;
}

HostileHttpServer::HostileHttpServer(QList<HostileAnswer> script, const QHostAddress &address)
    : m_address(address)
{
    m_onThread.moveToThread(&m_thread);
    m_thread.start();
    // Built on its thread, so its sockets belong there from the start.
    QMetaObject::invokeMethod(
        &m_onThread,
        [this, script = std::move(script), address] {
            m_worker = new HostileHttpWorker(script, address);
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
    const QMutexLocker lock(&m_worker->m_mutex);
    return m_worker->m_requests;
}

int HostileHttpServer::connectionCount() const
{
    const QMutexLocker lock(&m_worker->m_mutex);
    return m_worker->m_connectionCount;
}

qint64 HostileHttpServer::bytesSent() const
{
    const QMutexLocker lock(&m_worker->m_mutex);
    return m_worker->m_bytesSent;
}

namespace {

qint64 statusKilobytes(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

} // namespace

qint64 resetPeakResidentBytes()
{
    // Writing 5 resets the high-water mark to the current size (Linux 4.0 and later).
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    return statusKilobytes("VmRSS:");
}

qint64 peakResidentBytes()
{
    return statusKilobytes("VmHWM:");
}
