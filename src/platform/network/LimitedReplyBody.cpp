#include "network/LimitedReplyBody.h"

#include <QNetworkReply>

namespace {

// How far the network thread may read ahead of this one.
constexpr qint64 readAhead = 256 * 1024;

} // namespace

LimitedReplyBody::LimitedReplyBody(QNetworkReply *reply, qint64 maxBytes)
    : QObject(reply), m_reply(reply), m_maxBytes(maxBytes)
{
    // Without a bound on its buffer, the network thread reads on as fast as the server sends and
    // queues it all for this thread, far past the limit before the first check here runs. The
    // bound reaches that thread only once the request is under way there, which for a request
    // with a body is after this thread has buffered the body, one event later.
    const auto bound = [reply] { reply->setReadBufferSize(readAhead); };
    bound();
    QMetaObject::invokeMethod(this, bound, Qt::QueuedConnection);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        // A HEAD answer announces the length of a body it does not send.
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && m_reply->operation() != QNetworkAccessManager::HeadOperation)
            refuseBeyond(length.toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, this, &LimitedReplyBody::readArrived);
}

QByteArray LimitedReplyBody::take()
{
    readArrived();
    return std::exchange(m_body, {});
}

void LimitedReplyBody::readArrived()
{
    // Read out at once, so that the buffer's bound holds back the network thread and never this
    // check.
    if (!m_exceeded)
        m_body += m_reply->readAll();
    refuseBeyond(m_body.size());
}

void LimitedReplyBody::refuseBeyond(qint64 bytes)
{
    if (bytes <= m_maxBytes || m_exceeded)
        return;
    m_exceeded = true;
    m_body.clear();
    // Not from inside the reply's own signal: the network stack is mid-way through the answer
    // there, and aborting it then makes it report the failure twice.
    QMetaObject::invokeMethod(m_reply, &QNetworkReply::abort, Qt::QueuedConnection);
}
