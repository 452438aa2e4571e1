#pragma once

#include "cloud/CloudAccount.h"

#include <QStringList>

/// "lumaret cloud …": connects, inspects or forgets the cloud account without opening a window.
/// \a arguments are the words after "cloud". Returns the process exit code.
int runCloudCommand(const QStringList &arguments);

/// Runs the checks `lumaret cloud connect` makes before it stores an account: the folder answers
/// for \a account with \a password, and the server honours guarded writes. Completes later, with
/// the reason worded for the person when the server is refused.
void checkCloudServerForConnect(const CloudAccount &account, PasswordSource password,
                                std::function<void(CloudResult<CloudAccountStatus>)> completion);
