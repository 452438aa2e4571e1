#include "SignInService.h"

#include "support/PrivateFiles.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>
#include <QStringList>

namespace {

bool isEastAsianScript(const QString &text)
{
    for (const QChar character : text) {
        switch (character.script()) {
        case QChar::Script_Han:
        case QChar::Script_Hiragana:
        case QChar::Script_Katakana:
        case QChar::Script_Hangul:
            return true;
        default:
            break;
        }
    }
    return false;
}

/// Runs \a work on the application's thread after the current call returns, and only if the
/// guarded object still exists then. Provider completions may come from any thread and even from
/// inside the call that started them.
template <typename Receiver, typename Work>
void postToMainThread(const QPointer<Receiver> &guard, Work work)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application,
        [guard, work = std::move(work)]() mutable {
            if (guard)
                work(guard.data());
        },
        Qt::QueuedConnection);
}

} // namespace

SignInService::SignInService(std::unique_ptr<IdentityProvider> provider,
                             std::unique_ptr<QSettings> defaults, QObject *parent)
    : QObject(parent), m_defaults(std::move(defaults)), m_provider(std::move(provider))
{
    moveLegacyKeys();
    const QString user = m_defaults->value(userIdentifierKey()).toString();
    if (user.isEmpty()) {
        m_state = SignInState::signedOut();
        return;
    }
    m_state = SignInState::checking();
    refreshCredentialState(user);
}

SignInService::~SignInService() = default;

void SignInService::configure(AuthorizationRequest &request) const
{
    request.requestedScopes = {AuthorizationScope::fullName, AuthorizationScope::email};
}

void SignInService::handle(const AuthorizationOutcome &outcome)
{
    if (const auto *error = std::get_if<AuthorizationError>(&outcome)) {
        setState(SignInState::failed(*error));
        return;
    }
    const Authorization &authorization = std::get<Authorization>(outcome);
    if (!authorization.credential) {
        setState(SignInState::failed(
            AuthorizationError(AuthorizationError::Kind::credentialUnreadable)));
        return;
    }
    const QString name = preferredDisplayName(*authorization.credential, fallbackName());
    m_defaults->setValue(userIdentifierKey(), authorization.credential->user);
    m_defaults->setValue(displayNameKey(), name);
    PrivateFiles::sync(*m_defaults);
    setState(SignInState::signedIn(name, authorization.credential->notice));
}

void SignInService::signOut()
{
    const QString user = m_defaults->value(userIdentifierKey()).toString();
    if (!user.isEmpty())
        m_provider->forget(user);
    m_defaults->remove(userIdentifierKey());
    m_defaults->remove(displayNameKey());
    PrivateFiles::sync(*m_defaults);
    setState(SignInState::signedOut());
}

void SignInService::moveLegacyKeys()
{
    const QString legacyUser = m_defaults->value(legacyUserIdentifierKey()).toString();
    if (legacyUser.isEmpty())
        return;
    // A user already under the new keys signed in later than the one left under the old ones.
    if (!m_defaults->contains(userIdentifierKey())) {
        m_defaults->setValue(userIdentifierKey(), legacyUser);
        m_defaults->setValue(displayNameKey(), m_defaults->value(legacyDisplayNameKey()));
    }
    m_defaults->remove(legacyUserIdentifierKey());
    m_defaults->remove(legacyDisplayNameKey());
    PrivateFiles::sync(*m_defaults);
}

void SignInService::setProvider(std::unique_ptr<IdentityProvider> provider)
{
    signOut();
    m_provider = std::move(provider);
    // The panel names the provider even when nobody was signed in.
    emit stateChanged();
}

QString SignInService::fallbackName() const
{
    // A provider that told neither name nor e-mail still says whose account this is.
    const QString provider = providerName();
    return provider.isEmpty() ? QStringLiteral("已登录") : provider;
}

void SignInService::signIn()
{
    AuthorizationRequest request;
    configure(request);
    const QPointer<SignInService> guard(this);
    m_provider->performRequest(request, [guard](AuthorizationOutcome outcome) {
        postToMainThread(guard, [outcome = std::move(outcome)](SignInService *service) {
            service->handle(outcome);
        });
    });
}

void SignInService::refreshCredentialState(const QString &user)
{
    const QPointer<SignInService> guard(this);
    m_provider->credentialState(user, [guard, user](CredentialState credentialState) {
        postToMainThread(guard, [credentialState, user](SignInService *service) {
            service->applyCredentialState(user, credentialState);
        });
    });
}

void SignInService::applyCredentialState(const QString &user, CredentialState credentialState)
{
    // The answer is about the user remembered at launch. If a sign-in or sign-out has replaced
    // that user meanwhile, the answer no longer applies and must not remove the new user's keys.
    if (m_defaults->value(userIdentifierKey()).toString() != user)
        return;
    switch (credentialState) {
    case CredentialState::authorized: {
        const QString name = m_defaults->value(displayNameKey()).toString();
        setState(SignInState::signedIn(name.isEmpty() ? fallbackName() : name));
        return;
    }
    case CredentialState::revoked:
    case CredentialState::notFound:
        m_defaults->remove(userIdentifierKey());
        m_defaults->remove(displayNameKey());
        PrivateFiles::sync(*m_defaults);
        setState(SignInState::signedOut());
        return;
    case CredentialState::unreachable:
        break;
    }
    // A transferred or unknown answer keeps the remembered user, so the next launch asks again.
    setState(SignInState::signedOut());
}

QString SignInService::preferredDisplayName(const IdentityCredential &credential,
                                            const QString &fallback)
{
    if (credential.fullName) {
        const QString name = formattedName(*credential.fullName);
        if (!name.isEmpty())
            return name;
    }
    if (credential.email && !credential.email->isEmpty())
        return *credential.email;
    return fallback;
}

QString SignInService::formattedName(const PersonNameComponents &components)
{
    if (isEastAsianScript(components.familyName) || isEastAsianScript(components.givenName))
        return components.familyName + components.givenName;
    QStringList parts;
    for (const QString &part : {components.givenName, components.familyName}) {
        if (!part.isEmpty())
            parts.append(part);
    }
    if (parts.isEmpty() && !components.nickname.isEmpty())
        return components.nickname;
    return parts.join(QLatin1Char(' '));
}

void SignInService::setState(const SignInState &state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}
