#pragma once

#include "identity/OidcSecretStore.h"

#include <QHash>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTimer>
#include <QUrl>

/// A real OpenID Connect provider (the Node fixture in tests/fixtures/oidc) on a free loopback
/// port while this object lives, with the native clients "lumaret" (RS256) and "lumaret-es256".
class OidcProviderFixture
{
public:
    ~OidcProviderFixture();

    /// On failure `problem()` says why; `shouldSkip()` when the machine has no Node and is no CI.
    bool start();
    QString problem() const { return m_problem; }
    bool shouldSkip() const { return m_shouldSkip; }
    QString issuer() const { return m_issuer; }

    /// What the next interactions do: "consent" ("grant" or "deny"), "account" ("ada" or
    /// "anonymous"), "forgeJwks" (publish impostor keys with the real key ids), "misbehave"
    /// ({"path", "location"}: redirect there; {"path", "flood"}: send that many bytes).
    void setBehaviour(const QJsonObject &behaviour);
    /// The bytes the last flood wrote before the client stopped reading or went away.
    qint64 floodBytesSent() { return request("/__fixture/sent", "{}").toLongLong(); }
    /// A token signed with the key "signing-rsa" or "signing-ec", or an impostor's ("impostor-…").
    QByteArray signToken(const QString &key, const QJsonObject &header, const QJsonObject &payload);
    QJsonObject publishedKeys();
    /// Revokes a token, as the person would by withdrawing the application's access.
    void revoke(const QString &token, const QString &clientId);

private:
    QByteArray request(const QString &path, const QByteArray &body = {},
                       const QByteArray &contentType = "application/json");

    QProcess m_process;
    QNetworkAccessManager m_network;
    QString m_issuer;
    QString m_problem;
    bool m_shouldSkip = false;
};

/// Plays the person's browser up to the application's loopback redirect; the hooks change the
/// request on its way out and the redirect on its way back.
class OidcTestBrowser : public QObject
{
    Q_OBJECT

public:
    std::function<QUrl(const QUrl &)> rewriteAuthorization = [](const QUrl &url) { return url; };
    std::function<QUrl(const QUrl &)> rewriteCallback = [](const QUrl &url) { return url; };

    bool open(const QUrl &url);
    QUrl authorizationUrl() const { return m_authorizationUrl; }
    QUrl callbackUrl() const { return m_callbackUrl; }

private:
    void follow(const QUrl &url, int hopsLeft);

    QNetworkAccessManager m_network;
    QUrl m_authorizationUrl;
    QUrl m_callbackUrl;
};

/// A secret store in a table the test keeps, standing in for the keyring test machines lack.
/// Like a keyring it answers later, never from within the call; one that cannot be reached
/// answers every read with "unavailable".
class OidcMemorySecretStore : public OidcSecretStore
{
public:
    OidcMemorySecretStore(QHash<QString, QString> *entries, bool reachable)
        : m_entries(entries), m_reachable(reachable)
    {}

    void readSecret(const QString &key, std::function<void(ReadResult)> completion) override
    {
        const ReadResult result{!m_reachable               ? ReadStatus::unavailable
                                : m_entries->contains(key) ? ReadStatus::found
                                                           : ReadStatus::notFound,
                                m_entries->value(key)};
        QTimer::singleShot(0, [completion, result] { completion(result); });
    }
    void writeSecret(const QString &key, const QString &secret,
                     std::function<void(WriteStatus)> completion) override
    {
        if (m_reachable)
            m_entries->insert(key, secret);
        const WriteStatus status = m_reachable ? WriteStatus::stored : WriteStatus::failed;
        QTimer::singleShot(0, [completion, status] { completion(status); });
    }
    void removeSecret(const QString &key, std::function<void()> completion) override
    {
        if (m_reachable)
            m_entries->remove(key);
        QTimer::singleShot(0, completion);
    }

private:
    QHash<QString, QString> *m_entries;
    bool m_reachable;
};
