#include "identity/OidcLoopbackListener.h"

#include <QTcpSocket>
#include <QUrlQuery>

namespace {

// A redirect carries a code, a state and a few short parameters; anything much larger is not a
// browser coming back from the provider.
constexpr qsizetype maximumRequestSize = 16 * 1024;
constexpr std::chrono::seconds lingerTime{10};

QByteArray page(const QByteArray &status, const QString &heading, const QString &detail)
{
    const QByteArray body =
        QStringLiteral("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<title>Lumaret</title></head><body style=\"font-family:sans-serif;"
                       "margin:4em auto;max-width:32em\"><h1>%1</h1><p>%2</p></body></html>")
            .arg(heading.toHtmlEscaped(), detail.toHtmlEscaped())
            .toUtf8();
    return "HTTP/1.1 " + status +
           "\r\n"
           "Content-Type: text/html; charset=utf-8\r\n"
           "Cache-Control: no-store\r\n"
           "Connection: close\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

OidcLoopbackListener::OidcLoopbackListener(std::chrono::milliseconds timeLimit, QByteArray state,
                                           QObject *parent)
    : QObject(parent), m_state(std::move(state))
{
    m_timeLimit.setSingleShot(true);
    m_timeLimit.setInterval(timeLimit);
    connect(&m_timeLimit, &QTimer::timeout, this, [this] {
        m_server.close();
        emit timedOut();
    });
    connect(&m_server, &QTcpServer::newConnection, this, &OidcLoopbackListener::acceptConnections);
}

bool OidcLoopbackListener::listen()
{
    // The IPv4 loopback address only: never every interface, and not "localhost", which may
    // resolve to an address another program holds.
    if (!m_server.listen(QHostAddress(QHostAddress::LocalHost), 0))
        return false;
    m_port = m_server.serverPort();
    m_timeLimit.start();
    return true;
}

QUrl OidcLoopbackListener::redirectUri() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_port);
    url.setPath(QStringLiteral("/callback"));
    return url;
}

void OidcLoopbackListener::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        if (m_requestTaken) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void OidcLoopbackListener::readRequest(QTcpSocket *socket)
{
    if (m_requestTaken) {
        socket->abort();
        return;
    }
    // Only the request line and headers matter; the whole head is awaited so the answer does not
    // race the browser's own writing.
    QByteArray head = socket->peek(maximumRequestSize + 1);
    const qsizetype headEnd = head.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (head.size() > maximumRequestSize)
            socket->abort();
        return;
    }
    socket->read(headEnd + 4);
    const QByteArray requestLine = head.left(head.indexOf("\r\n"));
    const QList<QByteArray> words = requestLine.split(' ');
    if (words.size() != 3 || words[0] != "GET" || !words[1].startsWith('/')) {
        socket->abort();
        return;
    }
    if (!isRedirectOfThisSignIn(words[1])) {
        socket->write(page("400 Bad Request", QStringLiteral("这不是本次登录的结果"),
                           QStringLiteral("Lumaret 仍在等待浏览器返回登录结果。")));
        socket->disconnectFromHost();
        return;
    }
    takeRequest(socket, words[1]);
}

bool OidcLoopbackListener::isRedirectOfThisSignIn(const QByteArray &target) const
{
    const QUrl url = redirectUri().resolved(QUrl::fromEncoded(target));
    return !m_state.isEmpty() && url.path() == redirectUri().path() &&
           QUrlQuery(url).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded).toLatin1() ==
               m_state;
}

void OidcLoopbackListener::takeRequest(QTcpSocket *socket, const QByteArray &target)
{
    m_requestTaken = true;
    m_timeLimit.stop();
    m_server.close();
    // Every other connection that is already open goes unanswered.
    const auto sockets = findChildren<QTcpSocket *>();
    for (QTcpSocket *other : sockets) {
        if (other != socket)
            other->abort();
    }
    m_answeredSocket = socket;
    emit requestReceived(redirectUri().resolved(QUrl::fromEncoded(target)));
}

void OidcLoopbackListener::answer(const QString &heading, const QString &detail)
{
    if (!m_answeredSocket)
        return;
    const QByteArray response = page("200 OK", heading, detail);
    QTcpSocket *socket = m_answeredSocket;
    m_answeredSocket = nullptr;
    // The socket outlives the listener, which the sign-in drops as soon as it has answered, so
    // that the page still reaches the browser; it goes away once closed, or after a while.
    socket->setParent(nullptr);
    disconnect(socket, nullptr, this, nullptr);
    QTimer::singleShot(lingerTime, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->write(response);
    socket->disconnectFromHost();
}
