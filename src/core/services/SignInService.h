#pragma once

#include "services/IdentityProvider.h"

#include <QObject>
#include <QString>

#include <memory>

class QSettings;

/// Keeps track of whether the user has signed in, under which name to greet them, and remembers
/// the signed-in user across launches. Sync never depends on it: it is shown to the user only.
class SignInService : public QObject
{
    Q_OBJECT

public:
    struct SignInState
    {
        enum class Kind { signedOut, checking, signedIn, failed };

        Kind kind = Kind::signedOut;
        /// The display name when signed in, empty otherwise.
        QString displayName;
        /// When signed in: what the provider said the person should know, such as a sign-in
        /// that will not survive this launch.
        IdentityCredential::Notice notice = IdentityCredential::Notice::none;
        /// When failed: what went wrong, for the panel to word.
        AuthorizationError error;

        static SignInState signedOut() { return {Kind::signedOut, {}, {}, {}}; }
        static SignInState checking() { return {Kind::checking, {}, {}, {}}; }
        static SignInState signedIn(const QString &displayName,
                                    IdentityCredential::Notice notice = {})
        {
            return {Kind::signedIn, displayName, notice, {}};
        }
        static SignInState failed(const AuthorizationError &error)
        {
            return {Kind::failed, {}, {}, error};
        }

        friend bool operator==(const SignInState &, const SignInState &) = default;
    };

    /// The stable identifier of the remembered user.
    static QString userIdentifierKey() { return QStringLiteral("signin/userIdentifier"); }
    /// The name computed at the last successful sign-in.
    static QString displayNameKey() { return QStringLiteral("signin/displayName"); }
    /// Where earlier versions kept the same two values; read once, then moved.
    static QString legacyUserIdentifierKey()
    {
        return QStringLiteral("lumaret.appleid.userIdentifier");
    }
    static QString legacyDisplayNameKey() { return QStringLiteral("lumaret.appleid.displayName"); }

    /// Reads the remembered user from \a defaults (moving it from the earlier keys first) and,
    /// when there is one, asks \a provider once
    /// whether that user is still authorised; the state is "checking" until the answer arrives.
    SignInService(std::unique_ptr<IdentityProvider> provider, std::unique_ptr<QSettings> defaults,
                  QObject *parent = nullptr);
    ~SignInService() override;

    SignInState state() const { return m_state; }

    /// Asks for the full name and the e-mail address, in that order.
    void configure(AuthorizationRequest &request) const;
    /// Applies the outcome of a sign-in: a failure is shown and stores nothing; a credential is
    /// remembered under its display name.
    void handle(const AuthorizationOutcome &outcome);
    /// Forgets the remembered user. The provider is not told.
    void signOut();
    /// Whether a provider is configured to sign in with.
    bool hasProvider() const { return m_provider && m_provider->isConfigured(); }
    /// The provider's name for the person, empty when it has none.
    QString providerName() const { return m_provider ? m_provider->name() : QString(); }
    /// Signs in with \a provider from now on. Whoever was signed in with the previous one is
    /// forgotten: the new provider does not know them.
    void setProvider(std::unique_ptr<IdentityProvider> provider);
    /// Runs one sign-in with the provider: configures the request, then hands the outcome to
    /// handle() on this object's thread.
    void signIn();

    /// The name a credential is greeted with: its formatted name, else its e-mail, else
    /// \a fallback. Emptiness means length zero; nothing is trimmed.
    static QString preferredDisplayName(const IdentityCredential &credential,
                                        const QString &fallback);
    /// The person-name formatter's default style: family name first without a space for names
    /// written in East Asian scripts, given name first otherwise.
    static QString formattedName(const PersonNameComponents &components);

signals:
    void stateChanged();

private:
    void refreshCredentialState(const QString &user);
    void applyCredentialState(const QString &user, CredentialState credentialState);
    void setState(const SignInState &state);
    QString fallbackName() const;
    void moveLegacyKeys();

    SignInState m_state;
    std::unique_ptr<QSettings> m_defaults;
    std::unique_ptr<IdentityProvider> m_provider;
};
