// Any bytes may sit in a board file. Decoding must never crash, and whatever decodes must survive
// a round trip through the encoder unchanged.
#include "stores/BoardCodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<Board> board =
        BoardCodec::decode(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!board)
        return 0;
    const QByteArray encoded = BoardCodec::encode(*board);
    const std::optional<Board> again = BoardCodec::decode(encoded);
    if (!again || BoardCodec::encode(*again) != encoded)
        std::abort();
    return 0;
}
