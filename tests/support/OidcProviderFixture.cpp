#include "OidcProviderFixture.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTimer>
#include <QUrlQuery>

namespace {

constexpr int startTimeLimitMs = 30000;
constexpr int requestTimeLimitMs = 10000;

QByteArray awaitReply(QNetworkReply *reply)
{
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(requestTimeLimitMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace

OidcProviderFixture::OidcProviderFixture() : m_network(std::make_unique<QNetworkAccessManager>()) {}

OidcProviderFixture::~OidcProviderFixture()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Closing its input is the fixture's signal to stop; a kill follows if it does not.
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool OidcProviderFixture::start()
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty()) {
        m_problem = QStringLiteral("Node.js is not installed, so the OpenID provider fixture "
                                   "cannot run (./build.sh test installs it).");
        m_shouldSkip = qEnvironmentVariableIsEmpty("CI");
        return false;
    }
    const QDir folder(qEnvironmentVariable("LUMARET_SOURCE_DIR") +
                      QStringLiteral("/tests/fixtures/oidc"));
    if (!folder.exists(QStringLiteral("node_modules/oidc-provider"))) {
        m_problem = QStringLiteral("The OpenID provider fixture has no node_modules: run "
                                   "npm ci --prefix tests/fixtures/oidc (./build.sh test does).");
        return false;
    }
    m_process.setWorkingDirectory(folder.path());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(node, {QStringLiteral("server.js")});
    if (!m_process.waitForStarted(startTimeLimitMs)) {
        m_problem =
            QStringLiteral("The OpenID provider fixture did not start: ") + m_process.errorString();
        return false;
    }
    QByteArray line;
    while (!line.endsWith('\n') && m_process.waitForReadyRead(startTimeLimitMs))
        line += m_process.readLine();
    if (!line.startsWith("READY ")) {
        m_problem = QStringLiteral("The OpenID provider fixture did not report ready: ") +
                    QString::fromUtf8(line);
        return false;
    }
    m_issuer = QString::fromUtf8(line.mid(6).trimmed());
    return true;
}

QByteArray OidcProviderFixture::post(const QString &path, const QByteArray &body,
                                     const QByteArray &contentType)
{
    QNetworkRequest request(QUrl(m_issuer + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    return awaitReply(m_network->post(request, body));
}

void OidcProviderFixture::setBehaviour(const QJsonObject &behaviour)
{
    post(QStringLiteral("/__fixture"), QJsonDocument(behaviour).toJson(), "application/json");
}

QByteArray OidcProviderFixture::signToken(const QString &key, const QJsonObject &header,
                                          const QJsonObject &payload)
{
    const QJsonObject request{{QStringLiteral("key"), key},
                              {QStringLiteral("header"), header},
                              {QStringLiteral("payload"), payload}};
    return post(QStringLiteral("/__fixture/sign"), QJsonDocument(request).toJson(),
                "application/json");
}

QJsonObject OidcProviderFixture::publishedKeys()
{
    return QJsonDocument::fromJson(awaitReply(m_network->get(
                                       QNetworkRequest(QUrl(m_issuer + QStringLiteral("/jwks"))))))
        .object();
}

void OidcProviderFixture::revoke(const QString &token, const QString &clientId)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("token"), QString::fromLatin1(QUrl::toPercentEncoding(token)));
    form.addQueryItem(QStringLiteral("client_id"), clientId);
    post(QStringLiteral("/token/revocation"), form.toString(QUrl::FullyEncoded).toLatin1(),
         "application/x-www-form-urlencoded");
}

OidcTestBrowser::OidcTestBrowser(QObject *parent)
    : QObject(parent), m_network(std::make_unique<QNetworkAccessManager>())
{}

OidcTestBrowser::~OidcTestBrowser() = default;

bool OidcTestBrowser::open(const QUrl &url)
{
    m_authorizationUrl = rewriteAuthorization ? rewriteAuthorization(url) : url;
    // A browser starts loading after the application has handed over the address.
    QTimer::singleShot(0, this, [this] { follow(m_authorizationUrl, 20); });
    return true;
}

void OidcTestBrowser::follow(const QUrl &url, int hopsLeft)
{
    QUrl target = url;
    const bool isCallback = url.host() == QLatin1StringView("127.0.0.1") &&
                            url.path() == QLatin1StringView("/callback");
    if (isCallback) {
        if (rewriteCallback)
            target = rewriteCallback(url);
        m_callbackUrl = target;
    }
    QNetworkRequest request(target);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, isCallback, hopsLeft] {
        reply->deleteLater();
        const QByteArray body = reply->readAll();
        const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"));
        if (!isCallback && !location.isEmpty() && hopsLeft > 0) {
            follow(reply->url().resolved(location), hopsLeft - 1);
            return;
        }
        if (isCallback)
            m_callbackPage = QString::fromUtf8(body);
        m_finished = true;
    });
}

void OidcMemorySecretStore::readSecret(const QString &key,
                                       std::function<void(ReadResult)> completion)
{
    ReadResult result;
    if (!reachable)
        result.status = ReadStatus::unavailable;
    else if (m_entries->contains(key))
        result = {ReadStatus::found, m_entries->value(key)};
    // A keyring answers later, never from within the call.
    QTimer::singleShot(0, [completion = std::move(completion), result] { completion(result); });
}

void OidcMemorySecretStore::writeSecret(const QString &key, const QString &secret,
                                        std::function<void(WriteStatus)> completion)
{
    if (reachable)
        m_entries->insert(key, secret);
    const WriteStatus status = reachable ? WriteStatus::stored : WriteStatus::failed;
    QTimer::singleShot(0, [completion = std::move(completion), status] { completion(status); });
}

void OidcMemorySecretStore::removeSecret(const QString &key, std::function<void()> completion)
{
    if (reachable)
        m_entries->remove(key);
    QTimer::singleShot(0, std::move(completion));
}
