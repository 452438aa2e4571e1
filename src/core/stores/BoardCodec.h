#pragma once

#include "models/Thought.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

/// The board file format, shared by the board file and the cloud record's payload: one compact
/// JSON array of thought objects, members in the order id, title, note, status, createdAt,
/// updatedAt, isDeleted; upper-case ids; whole-second UTC dates; '/' escaped; raw UTF-8.
namespace BoardCodec {

QByteArray encode(const Board &board);

/// Decodes a whole board, or nothing when any rule is broken anywhere in \a data. \a error, when
/// given, receives a description of the first broken rule.
std::optional<Board> decode(QByteArrayView data, QString *error = nullptr);

/// The date form of the file: "2026-01-31T08:05:09Z", fractions of a second dropped.
QByteArray formatDate(const QDateTime &date);
/// Reads an ISO 8601 internet date-time (whole seconds, "Z" or a "+hh:mm" offset).
std::optional<QDateTime> parseDate(QByteArrayView text);

} // namespace BoardCodec
