#pragma once

// Statuses in the board file, by their raw values; compared plainly, because every reader reads
// one for every thought.

#include "models/ThoughtStatus.h"

#include <QByteArrayView>

#include <cstring>
#include <optional>
#include <string_view>

namespace BoardCodec::detail {

/// The longest raw value, "notStarted" and "inProgress".
inline constexpr qsizetype longestStatusText = 10;

inline std::string_view statusText(ThoughtStatus status)
{
    switch (status) {
    case ThoughtStatus::notStarted:
        return "notStarted";
    case ThoughtStatus::inProgress:
        return "inProgress";
    case ThoughtStatus::completed:
        return "completed";
    case ThoughtStatus::archived:
        return "archived";
    }
    return "notStarted";
}

/// A comparison the compiler can unroll: member names and statuses are read for every thought.
inline bool equals(QByteArrayView text, std::string_view expected)
{
    return size_t(text.size()) == expected.size() &&
           std::memcmp(text.data(), expected.data(), expected.size()) == 0;
}

/// The status whose raw value is exactly \a text, or nothing.
inline std::optional<ThoughtStatus> readStatus(QByteArrayView text)
{
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        if (equals(text, statusText(status)))
            return status;
    }
    return std::nullopt;
}

} // namespace BoardCodec::detail
