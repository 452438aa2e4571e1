#pragma once

#include "models/ThoughtStatus.h"

#include <QUuid>

#include <optional>

/// Where a dragged card would land: in the column of \a status, immediately before the card
/// \a beforeThoughtID or, without one, at the end of that column.
struct ThoughtDropTarget
{
    ThoughtStatus status = ThoughtStatus::notStarted;
    std::optional<QUuid> beforeThoughtID;

    friend bool operator==(const ThoughtDropTarget &, const ThoughtDropTarget &) = default;
};
