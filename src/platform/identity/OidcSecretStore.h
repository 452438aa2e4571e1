#pragma once

#include <QString>

#include <functional>

/// Where the sign-in keeps the one secret it must remember between launches (the refresh token).
/// The application uses the desktop's keyring; tests hand in a store of their own, because a
/// build machine has no keyring to talk to.
class OidcSecretStore
{
public:
    enum class ReadStatus { found, notFound, unavailable };

    struct ReadResult
    {
        ReadStatus status = ReadStatus::notFound;
        QString secret;
    };

    enum class WriteStatus { stored, failed };

    virtual ~OidcSecretStore() = default;

    /// Answers once, on the GUI thread. `unavailable` means the store could not be asked at all,
    /// which is not the same as knowing that nothing is stored.
    virtual void readSecret(const QString &key, std::function<void(ReadResult)> completion) = 0;
    virtual void writeSecret(const QString &key, const QString &secret,
                             std::function<void(WriteStatus)> completion) = 0;
    virtual void removeSecret(const QString &key, std::function<void()> completion) = 0;
};
