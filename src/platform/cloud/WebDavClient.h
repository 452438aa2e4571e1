#pragma once

#include "cloud/CloudAccount.h"

#include <QNetworkAccessManager>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

class LimitedReplyBody;
class QNetworkReply;

/// Limits every request to the WebDAV server obeys.
struct WebDavLimits
{
    /// A request that has not finished by then is abandoned as a timeout.
    std::chrono::milliseconds requestTimeout{30000};
    /// A response body larger than this is refused before it is read in full.
    qint64 maxResponseBytes = 64 * 1024 * 1024;
};

/// What the server answered to one request, whatever its status.
struct WebDavResponse
{
    int status = 0;
    QByteArray body;
    QByteArray etag;
    /// The WebDAV classes the server says it complies with ("1,2").
    QByteArray davClasses;
};

/// Sends requests to the person's WebDAV collection with their password, and only there.
///
/// Nothing is cached, redirects are refused rather than followed, bodies are neither compressed
/// nor read past the limit, and a body cut short is an error, never a shorter answer. Every
/// completion is called once, on the GUI thread, after send() has returned; requests still on
/// their way when the client goes are abandoned without an answer.
class WebDavClient : public QObject
{
    Q_OBJECT

public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    using ResponseCompletion = std::function<void(CloudResult<WebDavResponse>)>;

    WebDavClient(CloudAccount account, PasswordSource password, WebDavLimits limits = {},
                 QObject *parent = nullptr);
    ~WebDavClient() override;

    const CloudAccount &account() const { return m_account; }

    /// Sends \a verb to \a url, which must lie inside the collection. A network failure, a
    /// timeout or an oversized answer is an error; any HTTP status is an answer.
    void send(const QByteArray &verb, const QUrl &url, Headers headers, const QByteArray &body,
              ResponseCompletion completion);

private:
    void sendWithPassword(const QString &password, const QByteArray &verb, const QUrl &url,
                          const Headers &headers, const QByteArray &body,
                          ResponseCompletion completion);
    CloudResult<WebDavResponse> finish(QNetworkReply *reply, LimitedReplyBody &body) const;

    CloudAccount m_account;
    PasswordSource m_passwordSource;
    WebDavLimits m_limits;
    std::optional<QString> m_password;
    QNetworkAccessManager m_network;
};

/// The error a WebDAV status stands for.
CloudError cloudErrorForHttpStatus(int status);

/// The tag of \a header when it is a strong one, which identifies one exact version; empty for a
/// weak one ("W/..."), which may stand for several.
QByteArray strongEtag(const QByteArray &header);
