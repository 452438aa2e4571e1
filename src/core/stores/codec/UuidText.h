#pragma once

// Ids in the board file: the standard textual form, upper case and without braces when written,
// either case when read.

#include <QByteArrayView>
#include <QUuid>

#include <optional>

namespace BoardCodec::detail {

inline constexpr qsizetype uuidTextLength = 36;

/// Writes the uuidTextLength characters of \a id.
char *writeUuid(char *out, const QUuid &id);

/// The id \a text spells, or nothing when it is not exactly the standard form.
std::optional<QUuid> readUuid(QByteArrayView text);

} // namespace BoardCodec::detail
