#pragma once

#include "services/IdentityProvider.h"

#include <QString>

/// The sentences that tell a person how a sign-in went, for the panel, the settings dialog, the
/// terminal and the page the browser shows at the end of a sign-in alike.
namespace SignInMessages {

/// Why a sign-in did not finish.
QString failure(const AuthorizationError &error);

/// Why a provider cannot be chosen to sign in with, as its check found. Says in full what a
/// usable discovery document looks like, since the person is typing its address.
QString issuerProblem(const AuthorizationError &error);

/// What a signed-in person should know about their sign-in; empty when nothing.
QString notice(IdentityCredential::Notice notice);

} // namespace SignInMessages
