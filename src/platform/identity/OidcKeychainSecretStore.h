#pragma once

#include "identity/OidcSecretStore.h"

/// The desktop keyring (the Secret Service on Linux) reached through QtKeychain. The fallback to
/// a plain file that QtKeychain can offer is switched off: a refresh token never lands on disk.
class OidcKeychainSecretStore : public OidcSecretStore
{
public:
    void readSecret(const QString &key, std::function<void(ReadResult)> completion) override;
    void writeSecret(const QString &key, const QString &secret,
                     std::function<void(WriteStatus)> completion) override;
    void removeSecret(const QString &key, std::function<void()> completion) override;
};
