#pragma once

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <limits>

/// How a HostileHttpServer answers one request: \a head at once, then \a filler repeated while the
/// client stays connected, one byte every \a dripInterval or, without an interval, as fast as the
/// client reads, up to \a floodBytes. Without filler the connection is closed after the head
/// when \a hangsUp, or left open with nothing more said.
struct HostileAnswer
{
    QByteArray head{};
    QByteArray filler{};
    std::chrono::milliseconds dripInterval{0};
    qint64 floodBytes = std::numeric_limits<qint64>::max();
    bool hangsUp = true;

    /// Status line, Content-Length, \a headers (each ending in CRLF) and \a body, then hang up.
    static HostileAnswer whole(const QByteArray &statusLine, const QByteArray &headers = {},
                               const QByteArray &body = {});
};

/// The answer to every request, by method. HEAD is answered as GET, and every GET or HEAD after
/// the first as "GET again" where the script has that; a PUT with If-Match as "PUT If-Match".
using HostileScript = QHash<QByteArray, HostileAnswer>;

/// A loopback HTTP server for the answers no honest WebDAV server gives. A flood is paced by what
/// the client reads, so the server's own buffers stay small however long it floods.
class HostileHttpServer : public QObject
{
public:
    explicit HostileHttpServer(HostileScript script,
                               const QHostAddress &address = QHostAddress::LocalHost);

    QUrl url(const QString &path = QStringLiteral("/dav/")) const;

    /// Every complete request received, head and body, in order.
    QList<QByteArray> requests;
    /// Every connection accepted, whether or not it ever sent a whole request.
    int connectionCount = 0;

private:
    void read(QTcpSocket *socket);
    void flood(QTcpSocket *socket);

    QTcpServer m_server;
    HostileScript m_script;
    int m_reads = 0;
    QHash<QTcpSocket *, QByteArray> m_received;
    /// What each flooding connection still has to send, and the filler it sends.
    QHash<QTcpSocket *, QPair<qint64, QByteArray>> m_floods;
};
