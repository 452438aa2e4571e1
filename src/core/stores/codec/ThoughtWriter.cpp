#include "ThoughtWriter.h"

#include "IsoDate.h"
#include "JsonStrings.h"
#include "StatusText.h"
#include "UuidText.h"

#include <cstring>
#include <string_view>

namespace BoardCodec::detail {

namespace {

char *writeLiteral(char *out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Everything of a thought but its two texts: the member names and punctuation (81 bytes), the id,
// the status, two dates, the flag (5) and the separating comma.
constexpr qsizetype fixedBytesPerThought =
    81 + uuidTextLength + longestStatusText + 2 * writtenDateLength + 5 + 1;

} // namespace

qsizetype maximumThoughtBytes(const Thought &thought)
{
    return fixedBytesPerThought + maximumStringBytes(thought.title) +
           maximumStringBytes(thought.note);
}

char *writeThought(char *out, const Thought &thought)
{
    out = writeLiteral(out, "{\"id\":\"");
    out = writeUuid(out, thought.id);
    out = writeLiteral(out, "\",\"title\":");
    out = writeString(out, thought.title);
    out = writeLiteral(out, ",\"note\":");
    out = writeString(out, thought.note);
    out = writeLiteral(out, ",\"status\":\"");
    out = writeLiteral(out, statusText(thought.status));
    out = writeLiteral(out, "\",\"createdAt\":\"");
    out = writeDate(out, thought.createdAt);
    out = writeLiteral(out, "\",\"updatedAt\":\"");
    out = writeDate(out, thought.updatedAt);
    return writeLiteral(out,
                        thought.isDeleted ? "\",\"isDeleted\":true}" : "\",\"isDeleted\":false}");
}

} // namespace BoardCodec::detail
