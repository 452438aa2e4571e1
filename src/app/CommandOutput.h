#pragma once

#include <QTextStream>

/// What the command-line verbs share: their exit codes and their two output streams.
namespace CommandOutput {

enum ExitCode { success = 0, failure = 1, usageError = 2 };

inline QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

inline QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace CommandOutput
