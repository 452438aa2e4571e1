#pragma once

// Dates in the board file: ISO 8601 internet date-times, written in UTC to the whole second.

#include <QByteArrayView>
#include <QDateTime>

#include <optional>

namespace BoardCodec::detail {

/// "2026-01-31T08:05:09Z"
inline constexpr qsizetype writtenDateLength = 20;

/// Writes the writtenDateLength characters of \a date, fractions of a second dropped.
char *writeDate(char *out, const QDateTime &date);

/// Reads "yyyy-MM-ddTHH:mm:ss" followed by "Z" or an offset "+hh:mm" or "-hh:mm".
std::optional<QDateTime> readDate(QByteArrayView text);

} // namespace BoardCodec::detail
