#pragma once

#include "services/IdentityProvider.h"

/// The provider of a build configured without one: every sign-in fails as not configured and
/// no remembered user is ever found.
class NoIdentityProvider : public IdentityProvider
{
public:
    void credentialState(const QString &user,
                         std::function<void(CredentialState)> completion) override;
    void performRequest(const AuthorizationRequest &request,
                        std::function<void(AuthorizationOutcome)> completion) override;
    bool isConfigured() const override { return false; }
};
