#pragma once

#include <QByteArray>
#include <QObject>

class QNetworkReply;

/// Reads the body of a reply as it arrives and refuses one larger than a limit: the reply is
/// aborted as soon as its announced length or the bytes received pass the limit, and the network
/// stack is kept from reading far ahead of what has been checked. It belongs to the reply.
class LimitedReplyBody : public QObject
{
public:
    LimitedReplyBody(QNetworkReply *reply, qint64 maxBytes);

    /// Whether the reply was aborted for passing the limit.
    bool exceeded() const { return m_exceeded; }
    /// The whole body, once the reply has finished.
    QByteArray take();

private:
    void refuseBeyond(qint64 bytes);
    void readArrived();

    QNetworkReply *m_reply;
    qint64 m_maxBytes;
    QByteArray m_body;
    bool m_exceeded = false;
};
