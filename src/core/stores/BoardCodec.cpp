#include "BoardCodec.h"

#include "codec/AsWrittenReader.h"
#include "codec/IsoDate.h"
#include "codec/StrictReader.h"
#include "codec/ThoughtWriter.h"

#include <simdjson.h>

// The entry points of the codec; its parts live in codec/: the writer of one thought and the
// pieces it writes (UTF-8 strings, ids, dates), and two readers. The strict reader takes any JSON
// and decides; the reader of the writer's own form goes first because nearly every file is in
// that form and it reads it without a parser finding the structure first.
static_assert(BoardCodec::readPadding >= simdjson::SIMDJSON_PADDING);

namespace BoardCodec {

namespace {

std::optional<Board> read(simdjson::padded_string_view json, QString *error)
{
    if (std::optional<Board> board = detail::readAsWritten(json.data(), json.data() + json.size()))
        return board;
    return detail::readStrictly(json, error);
}

} // namespace

QByteArray encode(const Board &board)
{
    // One exact upper bound, one allocation.
    qsizetype capacity = 2;
    for (const Thought &thought : board)
        capacity += detail::maximumThoughtBytes(thought);
    QByteArray bytes(capacity, Qt::Uninitialized);
    char *out = bytes.data();
    *out++ = '[';
    bool first = true;
    for (const Thought &thought : board) {
        if (!first)
            *out++ = ',';
        first = false;
        out = detail::writeThought(out, thought);
    }
    *out++ = ']';
    Q_ASSERT(out - bytes.constData() <= capacity);
    bytes.truncate(out - bytes.constData());
    return bytes;
}

bool encodeInPieces(const Board &board, const std::function<bool(QByteArrayView)> &write)
{
    // Small enough to come from the heap's free lists rather than fresh pages on every save,
    // large enough that the writes cost little.
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    char *out = buffer.data();
    *out++ = '[';
    bool first = true;
    for (const Thought &thought : board) {
        // Room for this thought, the comma before it and the closing bracket.
        const qsizetype needed = detail::maximumThoughtBytes(thought) + 1;
        if (out - buffer.constData() + needed > buffer.size()) {
            if (!write(QByteArrayView(buffer.constData(), out - buffer.constData())))
                return false;
            if (needed > buffer.size())
                buffer.resize(needed);
            out = buffer.data();
        }
        if (!first)
            *out++ = ',';
        first = false;
        out = detail::writeThought(out, thought);
    }
    *out++ = ']';
    return write(QByteArrayView(buffer.constData(), out - buffer.constData()));
}

std::optional<Board> decode(QByteArrayView data, QString *error)
{
    if (data.isEmpty())
        return decodePadded(data, error);
    const simdjson::padded_string padded(data.data(), size_t(data.size()));
    return read(padded, error);
}

std::optional<Board> decodePadded(QByteArrayView data, QString *error)
{
    // Nothing is no JSON, and an empty view may have no bytes to point at.
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("the board is empty");
        return std::nullopt;
    }
    return read(simdjson::padded_string_view(data.data(), size_t(data.size()),
                                             size_t(data.size() + readPadding)),
                error);
}

QByteArray formatDate(const QDateTime &date)
{
    QByteArray text(detail::writtenDateLength, Qt::Uninitialized);
    detail::writeDate(text.data(), date);
    return text;
}

std::optional<QDateTime> parseDate(QByteArrayView text)
{
    return detail::readDate(text);
}

} // namespace BoardCodec
