#pragma once

// The reader that decides whether bytes are a board: any JSON at all, held to the file format's
// rules.

#include "models/Thought.h"

#include <simdjson.h>

#include <optional>

namespace BoardCodec::detail {

/// The whole board, or nothing when any rule is broken anywhere in \a json; \a error, when given,
/// then receives a description of the first broken rule.
std::optional<Board> readStrictly(simdjson::padded_string_view json, QString *error);

} // namespace BoardCodec::detail
