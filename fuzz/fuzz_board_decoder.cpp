// Any bytes may sit in a board file. Decoding must never crash, and whatever decodes must survive
// a round trip through the encoder unchanged. Files in the form the encoder writes take a shorter
// way through the decoder; a leading space sends the same bytes the long way, and both ways must
// agree on every input.
#include "stores/BoardCodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<Board> board = BoardCodec::decode(bytes);
    if (BoardCodec::decode(" " + bytes.toByteArray()) != board)
        std::abort();
    if (!board)
        return 0;
    const QByteArray encoded = BoardCodec::encode(*board);
    const std::optional<Board> again = BoardCodec::decode(encoded);
    if (!again || BoardCodec::encode(*again) != encoded)
        std::abort();
    return 0;
}
