#include "OidcProviderFixture.h"

#include <QDir>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUrlQuery>

OidcProviderFixture::~OidcProviderFixture()
{
    // Closing its input is the fixture's signal to stop; a kill follows if it does not.
    m_process.closeWriteChannel();
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool OidcProviderFixture::start()
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QDir folder(qEnvironmentVariable("LUMARET_SOURCE_DIR") + "/tests/fixtures/oidc");
    m_shouldSkip = node.isEmpty() && qEnvironmentVariableIsEmpty("CI");
    if (node.isEmpty() || !folder.exists("node_modules/oidc-provider")) {
        m_problem = "The OpenID provider fixture needs Node.js and npm ci --prefix "
                    "tests/fixtures/oidc (./build.sh test installs both).";
        return false;
    }
    m_process.setWorkingDirectory(folder.path());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(node, {QStringLiteral("server.js")});
    QByteArray line;
    while (!line.endsWith('\n') && m_process.waitForReadyRead(30000))
        line += m_process.readLine();
    m_issuer = QString::fromUtf8(line.mid(6).trimmed());
    if (!line.startsWith("READY "))
        m_problem = "The OpenID provider fixture did not report ready: " + QString::fromUtf8(line);
    return m_problem.isEmpty();
}

QByteArray OidcProviderFixture::request(const QString &path, const QByteArray &body,
                                        const QByteArray &contentType)
{
    QNetworkRequest request(QUrl(m_issuer + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    std::unique_ptr<QNetworkReply> reply(body.isEmpty() ? m_network.get(request)
                                                        : m_network.post(request, body));
    if (!reply->isFinished())
        QSignalSpy(reply.get(), &QNetworkReply::finished).wait(10000);
    return reply->readAll();
}

void OidcProviderFixture::setBehaviour(const QJsonObject &behaviour)
{
    request("/__fixture", QJsonDocument(behaviour).toJson());
}

QByteArray OidcProviderFixture::signToken(const QString &key, const QJsonObject &header,
                                          const QJsonObject &payload)
{
    const QJsonObject body{{"key", key}, {"header", header}, {"payload", payload}};
    return request("/__fixture/sign", QJsonDocument(body).toJson());
}

QJsonObject OidcProviderFixture::publishedKeys()
{
    return QJsonDocument::fromJson(request("/jwks")).object();
}

void OidcProviderFixture::revoke(const QString &token, const QString &clientId)
{
    QUrlQuery form;
    form.addQueryItem("token", QString::fromLatin1(QUrl::toPercentEncoding(token)));
    form.addQueryItem("client_id", clientId);
    request("/token/revocation", form.toString(QUrl::FullyEncoded).toLatin1(),
            "application/x-www-form-urlencoded");
}

bool OidcTestBrowser::open(const QUrl &url)
{
    m_authorizationUrl = rewriteAuthorization(url);
    // A browser starts loading after the application has handed over the address.
    QTimer::singleShot(0, this, [this] { follow(m_authorizationUrl, 20); });
    return true;
}

void OidcTestBrowser::follow(const QUrl &url, int hopsLeft)
{
    const bool isCallback = url.host() == "127.0.0.1" && url.path() == "/callback";
    if (isCallback)
        m_callbackUrl = rewriteCallback(url);
    QNetworkRequest request(isCallback ? m_callbackUrl : url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_network.get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, isCallback, hopsLeft] {
        reply->deleteLater();
        const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"));
        if (!isCallback && !location.isEmpty() && hopsLeft > 0)
            follow(reply->url().resolved(location), hopsLeft - 1);
    });
}
