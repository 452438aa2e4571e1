#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QTcpSocket;

/// Waits for the browser to come back from the provider: listens on 127.0.0.1 only, on a port the
/// system picks, takes exactly one HTTP request to the redirect path that carries this sign-in's
/// state, and stops listening as soon as that request has arrived. Any other request is answered
/// with an error page while the wait goes on, so that another local program cannot end the
/// sign-in; connections still open once the request is taken are dropped. The wait has a time
/// limit.
class OidcLoopbackListener : public QObject
{
    Q_OBJECT

public:
    OidcLoopbackListener(std::chrono::milliseconds timeLimit, QByteArray state,
                         QObject *parent = nullptr);

    /// Starts listening and the time limit; false when no port could be opened.
    bool listen();

    /// The address to register as the redirect: http://127.0.0.1:<port>/callback.
    QUrl redirectUri() const;

    /// Answers the one request with a small page for the person in the browser and closes it.
    void answer(const QString &heading, const QString &detail);

signals:
    /// The one request, its target resolved against the redirect address.
    void requestReceived(const QUrl &url);
    void timedOut();

private:
    void acceptConnections();
    void readRequest(QTcpSocket *socket);
    void takeRequest(QTcpSocket *socket, const QByteArray &target);
    bool isRedirectOfThisSignIn(const QByteArray &target) const;

    QTcpServer m_server;
    QTimer m_timeLimit;
    QPointer<QTcpSocket> m_answeredSocket;
    QByteArray m_state;
    quint16 m_port = 0;
    bool m_requestTaken = false;
};
