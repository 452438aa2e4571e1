#include "ThoughtStatus.h"

namespace ThoughtStatuses {

QString rawValue(ThoughtStatus status)
{
    switch (status) {
    case ThoughtStatus::notStarted:
        return QStringLiteral("notStarted");
    case ThoughtStatus::inProgress:
        return QStringLiteral("inProgress");
    case ThoughtStatus::completed:
        return QStringLiteral("completed");
    case ThoughtStatus::archived:
        return QStringLiteral("archived");
    }
    Q_UNREACHABLE();
    return QString();
}

std::optional<ThoughtStatus> fromRawValue(QStringView raw)
{
    for (ThoughtStatus status : allCases) {
        if (raw == rawValue(status))
            return status;
    }
    return std::nullopt;
}

QString title(ThoughtStatus status)
{
    switch (status) {
    case ThoughtStatus::notStarted:
        return QStringLiteral("未开始");
    case ThoughtStatus::inProgress:
        return QStringLiteral("进行中");
    case ThoughtStatus::completed:
        return QStringLiteral("已完成");
    case ThoughtStatus::archived:
        return QStringLiteral("归档");
    }
    Q_UNREACHABLE();
    return QString();
}

QString systemImage(ThoughtStatus status)
{
    switch (status) {
    case ThoughtStatus::notStarted:
        return QStringLiteral("circle.dashed");
    case ThoughtStatus::inProgress:
        return QStringLiteral("bolt.circle");
    case ThoughtStatus::completed:
        return QStringLiteral("checkmark.circle");
    case ThoughtStatus::archived:
        return QStringLiteral("archivebox");
    }
    Q_UNREACHABLE();
    return QString();
}

StatusColor accentColor(ThoughtStatus status)
{
    switch (status) {
    case ThoughtStatus::notStarted:
        return {0.27, 0.53, 0.95};
    case ThoughtStatus::inProgress:
        return {0.93, 0.56, 0.16};
    case ThoughtStatus::completed:
        return {0.18, 0.66, 0.45};
    case ThoughtStatus::archived:
        return {0.51, 0.45, 0.74};
    }
    Q_UNREACHABLE();
    return StatusColor();
}

ThoughtStatus next(ThoughtStatus status)
{
    switch (status) {
    case ThoughtStatus::notStarted:
        return ThoughtStatus::inProgress;
    case ThoughtStatus::inProgress:
        return ThoughtStatus::completed;
    case ThoughtStatus::completed:
    case ThoughtStatus::archived:
        return ThoughtStatus::archived;
    }
    Q_UNREACHABLE();
    return ThoughtStatus::archived;
}

} // namespace ThoughtStatuses
