#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QThread>
#include <QUrl>

#include <chrono>

/// How a HostileHttpServer answers one request: \a head at once, then \a filler repeated for as
/// long as the client stays connected, either one byte every \a dripInterval or, with a zero
/// interval, as fast as the client reads (up to \a floodBytes). Without filler the connection is
/// closed after the head when \a hangsUp, or left open with nothing more said.
struct HostileAnswer
{
    QByteArray head;
    QByteArray filler;
    std::chrono::milliseconds dripInterval{0};
    bool hangsUp = true;
    /// How much filler a flood sends before falling silent; zero floods without end.
    qint64 floodBytes = 0;

    /// A complete answer: status line, Content-Length, \a headers (each ending in CRLF), body,
    /// and the connection closed.
    static HostileAnswer whole(const QByteArray &statusLine, const QByteArray &headers = {},
                               const QByteArray &body = {});
    /// \a bytes as they are, then the connection closed.
    static HostileAnswer raw(const QByteArray &bytes) { return {bytes, {}, {}, true}; }
    static HostileAnswer silence() { return {{}, {}, {}, false}; }
    static HostileAnswer drip(const QByteArray &head, const QByteArray &filler,
                              std::chrono::milliseconds interval);
    static HostileAnswer flood(const QByteArray &head, const QByteArray &filler,
                               qint64 floodBytes = 0);
};

class HostileHttpWorker;

/// A loopback HTTP server for the answers no honest WebDAV server gives: it answers the requests
/// it receives with its script, in order, one answer per request (the last one again once the
/// script runs out), and records what it was sent. It runs on a thread of its own, as a remote
/// server would, so flooding never holds up the client's event loop; everything it writes is
/// paced by what the client reads, so its own buffers stay small however long it floods.
class HostileHttpServer
{
public:
    explicit HostileHttpServer(QList<HostileAnswer> script,
                               const QHostAddress &address = QHostAddress::LocalHost);
    ~HostileHttpServer();

    /// http://address:port + \a path.
    QUrl url(const QString &path = QStringLiteral("/dav/")) const;

    /// Every complete request received, head and body, in order.
    QList<QByteArray> requests() const;
    /// Every connection accepted, whether or not it ever sent a whole request.
    int connectionCount() const;
    /// Every byte of answers written to clients.
    qint64 bytesSent() const;

private:
    QThread m_thread;
    /// Lives on the server's thread, to run code there.
    QObject m_onThread;
    HostileHttpWorker *m_worker = nullptr;
    QHostAddress m_address;
    quint16 m_port = 0;
};

/// Starts a new measurement of peakResidentBytes() and answers the memory the process holds now,
/// in bytes; zero where the kernel does not say.
qint64 resetPeakResidentBytes();
/// The most memory the process has held at once since the last reset, in bytes (VmHWM).
qint64 peakResidentBytes();
