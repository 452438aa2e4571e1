#include "CloudCommand.h"

#include <QTextStream>

int runCloudCommand(const QStringList &arguments)
{
    Q_UNUSED(arguments);
    QTextStream(stderr) << QStringLiteral("lumaret cloud: not available in this build\n");
    return 2;
}
