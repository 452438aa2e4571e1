#pragma once

#include <QStringList>

/// "lumaret signin …": chooses, shows or forgets the OpenID Connect provider the sign-in panel
/// uses, without opening a window. \a arguments are the words after "signin". Returns the process
/// exit code.
int runSignInCommand(const QStringList &arguments);
