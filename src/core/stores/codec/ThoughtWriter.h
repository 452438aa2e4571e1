#pragma once

// The encoder's part for one thought: its seven members in the file's order and form, written
// into memory sized beforehand.

#include "models/Thought.h"

namespace BoardCodec::detail {

/// The most bytes writeThought() can produce for \a thought, with a comma to separate it.
qsizetype maximumThoughtBytes(const Thought &thought);

/// Writes \a thought as one compact JSON object and returns the end of what was written.
char *writeThought(char *out, const Thought &thought);

} // namespace BoardCodec::detail
