#pragma once

#include "identity/OidcSecretStore.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;

/// A real OpenID Connect provider (the Node fixture in tests/fixtures/oidc) on a free loopback
/// port for the lifetime of this object. It knows the native clients "lumaret" (RS256 ID tokens)
/// and "lumaret-es256", the accounts "ada" (name and e-mail) and "anonymous" (neither), and plays
/// the person at its login and consent steps as `setBehaviour` says.
class OidcProviderFixture
{
public:
    OidcProviderFixture();
    ~OidcProviderFixture();

    /// Starts the provider; on failure `problem()` says why and `shouldSkip()` whether the
    /// machine simply has no Node (never the case on CI, where a missing Node is a failure).
    bool start();
    QString problem() const { return m_problem; }
    bool shouldSkip() const { return m_shouldSkip; }

    QString issuer() const { return m_issuer; }

    /// Changes what the next interactions do: "consent" ("grant" or "deny"), "account" ("ada"
    /// or "anonymous"), "forgeJwks" (publish impostor keys with the real key ids).
    void setBehaviour(const QJsonObject &behaviour);

    /// A compact token with this header and payload, signed with the provider's key "signing-rsa"
    /// or "signing-ec", or with an impostor key of that id ("impostor-signing-rsa").
    QByteArray signToken(const QString &key, const QJsonObject &header, const QJsonObject &payload);

    /// The provider's published key set.
    QJsonObject publishedKeys();

    /// Revokes a token at the provider, as the person would by withdrawing the application's
    /// access there.
    void revoke(const QString &token, const QString &clientId);

private:
    QByteArray post(const QString &path, const QByteArray &body, const QByteArray &contentType);

    QProcess m_process;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QString m_issuer;
    QString m_problem;
    bool m_shouldSkip = false;
};

/// Plays the person's browser: follows the provider's redirects with its own cookies up to the
/// application's loopback redirect, and remembers what it saw. The two hooks let a test change
/// the authorization request on its way out and the redirect on its way back.
class OidcTestBrowser : public QObject
{
    Q_OBJECT

public:
    explicit OidcTestBrowser(QObject *parent = nullptr);
    ~OidcTestBrowser() override;

    std::function<QUrl(const QUrl &)> rewriteAuthorization;
    std::function<QUrl(const QUrl &)> rewriteCallback;

    /// The opener to hand to the provider.
    bool open(const QUrl &url);

    QUrl authorizationUrl() const { return m_authorizationUrl; }
    QUrl callbackUrl() const { return m_callbackUrl; }
    /// The page the application's redirect listener answered with.
    QString callbackPage() const { return m_callbackPage; }
    bool finished() const { return m_finished; }

private:
    void follow(const QUrl &url, int hopsLeft);

    std::unique_ptr<QNetworkAccessManager> m_network;
    QUrl m_authorizationUrl;
    QUrl m_callbackUrl;
    QString m_callbackPage;
    bool m_finished = false;
};

/// A secret store in memory, standing in for the keyring that test machines lack. The entries
/// live in a table the test keeps, so they can be read after the store was handed over.
class OidcMemorySecretStore : public OidcSecretStore
{
public:
    explicit OidcMemorySecretStore(QHash<QString, QString> *entries) : m_entries(entries) {}

    /// A store that cannot be reached answers every read with "unavailable".
    bool reachable = true;

    void readSecret(const QString &key, std::function<void(ReadResult)> completion) override;
    void writeSecret(const QString &key, const QString &secret,
                     std::function<void(WriteStatus)> completion) override;
    void removeSecret(const QString &key, std::function<void()> completion) override;

private:
    QHash<QString, QString> *m_entries;
};
