#pragma once

#include "models/Thought.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>
#include <optional>

/// The board file format, shared by the board file and the cloud record's payload: one compact
/// JSON array of thought objects, members in the order id, title, note, status, createdAt,
/// updatedAt, isDeleted; upper-case ids; whole-second UTC dates; '/' escaped; raw UTF-8.
namespace BoardCodec {

QByteArray encode(const Board &board);

/// Produces the bytes of encode() in pieces of bounded size, handing each to \a write, so that a
/// large board is written without holding its whole text. Stops at the first \a write that
/// returns false and then returns false.
bool encodeInPieces(const Board &board, const std::function<bool(QByteArrayView)> &write);

/// Decodes a whole board, or nothing when any rule is broken anywhere in \a data. \a error, when
/// given, receives a description of the first broken rule.
std::optional<Board> decode(QByteArrayView data, QString *error = nullptr);

/// How many bytes past its end decodePadded() may read. Their values do not matter.
inline constexpr qsizetype readPadding = 64;

/// decode() without first copying \a data: the readPadding bytes after it must be readable. The
/// board file is read straight into such a buffer.
std::optional<Board> decodePadded(QByteArrayView data, QString *error = nullptr);

/// The date form of the file: "2026-01-31T08:05:09Z", fractions of a second dropped.
QByteArray formatDate(const QDateTime &date);
/// Reads an ISO 8601 internet date-time (whole seconds, "Z" or a "+hh:mm" offset).
std::optional<QDateTime> parseDate(QByteArrayView text);

} // namespace BoardCodec
