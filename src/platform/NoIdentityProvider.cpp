#include "NoIdentityProvider.h"

void NoIdentityProvider::credentialState(const QString &user,
                                         std::function<void(CredentialState)> completion)
{
    Q_UNUSED(user);
    completion(CredentialState::notFound);
}

void NoIdentityProvider::performRequest(const AuthorizationRequest &request,
                                        std::function<void(AuthorizationOutcome)> completion)
{
    Q_UNUSED(request);
    completion(AuthorizationError{AuthorizationError::Kind::notConfigured});
}
