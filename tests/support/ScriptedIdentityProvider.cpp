#include "ScriptedIdentityProvider.h"

void ScriptedIdentityProvider::credentialState(const QString &user,
                                               std::function<void(CredentialState)> completion)
{
    m_script->askedUsers.append(user);
    if (m_script->credentialAnswer)
        completion(*m_script->credentialAnswer);
    else
        m_script->pendingCredential = std::move(completion);
}

void ScriptedIdentityProvider::performRequest(const AuthorizationRequest &request,
                                              std::function<void(AuthorizationOutcome)> completion)
{
    m_script->requests.append(request);
    if (m_script->requestAnswer)
        completion(*m_script->requestAnswer);
    else
        m_script->pendingRequest = std::move(completion);
}
