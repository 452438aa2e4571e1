#include "HostileHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

HostileAnswer HostileAnswer::whole(const QByteArray &statusLine, const QByteArray &headers,
                                   const QByteArray &body)
{
    return {"HTTP/1.1 " + statusLine + "\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\n" + headers + "Connection: close\r\n\r\n" + body};
}

HostileHttpServer::HostileHttpServer(HostileScript script, const QHostAddress &address)
    : m_script(std::move(script))
{
    m_server.listen(address, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++connectionCount;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { flood(socket); });
        }
    });
}

QUrl HostileHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://%1:%2%3")
                    .arg(m_server.serverAddress().toString())
                    .arg(m_server.serverPort())
                    .arg(path));
}

void HostileHttpServer::read(QTcpSocket *socket)
{
    QByteArray &buffer = m_received[socket];
    buffer += socket->readAll();
    for (qsizetype headEnd; (headEnd = buffer.indexOf("\r\n\r\n")) >= 0;) {
        qsizetype length = headEnd + 4;
        for (const QByteArray &line : buffer.left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length += line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < length)
            return;
        requests.append(buffer.left(length));
        buffer.remove(0, length);
        QByteArray verb = requests.constLast().split(' ').value(0);
        if (verb == "GET" || verb == "HEAD")
            verb = m_reads++ > 0 && m_script.contains("GET again") ? "GET again" : "GET";
        else if (verb == "PUT" && requests.constLast().contains("\r\nIf-Match:"))
            verb = m_script.contains("PUT If-Match") ? "PUT If-Match" : verb;
        const HostileAnswer answer =
            m_script.value(verb, HostileAnswer::whole("501 Not Implemented"));
        socket->write(answer.head);
        if (answer.filler.isEmpty()) {
            if (answer.hangsUp)
                socket->disconnectFromHost();
        } else if (answer.dripInterval.count() > 0) {
            auto *drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket,
                    [socket, answer, next = qsizetype(0)]() mutable {
                        if (socket->state() == QAbstractSocket::ConnectedState)
                            socket->write(answer.filler.mid(next++ % answer.filler.size(), 1));
                    });
            drip->start(answer.dripInterval);
        } else {
            m_floods[socket] = {answer.floodBytes,
                                answer.filler.repeated(64 * 1024 / answer.filler.size() + 1)};
            flood(socket);
        }
    }
}

void HostileHttpServer::flood(QTcpSocket *socket)
{
    auto &[left, filler] = m_floods[socket];
    // A little queued at a time, so what the server holds never counts in the client's memory.
    while (left > 0 && socket->state() == QAbstractSocket::ConnectedState &&
           socket->bytesToWrite() < 256 * 1024) {
        const QByteArray chunk = filler.left(left);
        left -= chunk.size();
        socket->write(chunk);
    }
}
