#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QThread>
#include <QUrl>

#include <chrono>

/// How a HostileHttpServer answers one request: \a head at once, then \a filler repeated while the
/// client stays connected, one byte every \a dripInterval or, without an interval, as fast as the
/// client reads, up to \a floodBytes (zero: without end). Without filler the connection is closed
/// after the head when \a hangsUp, or left open with nothing more said.
struct HostileAnswer
{
    QByteArray head{};
    QByteArray filler{};
    std::chrono::milliseconds dripInterval{0};
    qint64 floodBytes = 0;
    bool hangsUp = true;

    /// Status line, Content-Length, \a headers (each ending in CRLF) and \a body, then hang up.
    static HostileAnswer whole(const QByteArray &statusLine, const QByteArray &headers = {},
                               const QByteArray &body = {});
};

/// The answer to every request, by method; HEAD is answered as GET.
using HostileScript = QHash<QByteArray, HostileAnswer>;

class HostileHttpWorker;

/// A loopback HTTP server for the answers no honest WebDAV server gives. It records every request
/// and runs on a thread of its own, as a remote server would, so a flood never holds up the
/// client's event loop; a flood is paced by what the client reads, so the server stays small.
class HostileHttpServer
{
public:
    explicit HostileHttpServer(HostileScript script,
                               const QHostAddress &address = QHostAddress::LocalHost);
    ~HostileHttpServer();

    /// http://address:port + \a path.
    QUrl url(const QString &path = QStringLiteral("/dav/")) const;
    /// Every complete request received, head and body, in order.
    QList<QByteArray> requests() const;
    /// Every connection accepted, whether or not it ever sent a whole request.
    int connectionCount() const;

private:
    QThread m_thread;
    /// Lives on the server's thread, to run code there.
    QObject m_onThread;
    HostileHttpWorker *m_worker = nullptr;
    QHostAddress m_address;
    quint16 m_port = 0;
};
