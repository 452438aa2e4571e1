#pragma once

#include "services/IdentityProvider.h"

#include <QList>
#include <QString>

#include <memory>

/// An identity provider whose answers a test scripts. With an answer set it replies at once from
/// inside the call; without one it keeps the completion for the test to call later.
class ScriptedIdentityProvider : public IdentityProvider
{
public:
    /// Shared with the test, so it outlives the service that owns the provider.
    struct Script
    {
        std::optional<CredentialState> credentialAnswer;
        std::optional<AuthorizationOutcome> requestAnswer;
        QStringList askedUsers;
        QList<AuthorizationRequest> requests;
        QStringList forgottenUsers;
        std::function<void(CredentialState)> pendingCredential;
        std::function<void(AuthorizationOutcome)> pendingRequest;
    };

    explicit ScriptedIdentityProvider(std::shared_ptr<Script> script) : m_script(std::move(script))
    {}

    void credentialState(const QString &user,
                         std::function<void(CredentialState)> completion) override
    {
        m_script->askedUsers.append(user);
        if (m_script->credentialAnswer)
            return completion(*m_script->credentialAnswer);
        m_script->pendingCredential = std::move(completion);
    }
    void performRequest(const AuthorizationRequest &request,
                        std::function<void(AuthorizationOutcome)> completion) override
    {
        m_script->requests.append(request);
        if (m_script->requestAnswer)
            return completion(*m_script->requestAnswer);
        m_script->pendingRequest = std::move(completion);
    }
    void forget(const QString &user) override { m_script->forgottenUsers.append(user); }

private:
    std::shared_ptr<Script> m_script;
};
