// An envelope an older version left on the server is read to carry its board over, and the server
// is not under Lumaret's control. Reading one must never crash, and a board it holds must decode
// as any board file does.
#include "cloud/RemoteBoardFile.h"
#include "stores/BoardCodec.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const CloudResult<QByteArray> boardFile = boardFileInEnvelope(json);
    if (boardFile.hasValue())
        BoardCodec::decode(boardFile.value());
    return 0;
}
