#pragma once

#include <QStringList>

/// "lumaret cloud …": connects, inspects or forgets the cloud account without opening a window.
/// \a arguments are the words after "cloud". Returns the process exit code.
int runCloudCommand(const QStringList &arguments);
