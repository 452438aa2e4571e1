// Two boards from anywhere (this disk and the cloud) meet in the merge. Whatever they hold, the
// result has every id exactly once, keeps the local order, and each kept version is the newest
// one seen for its id.
#include "services/ThoughtSyncMerge.h"
#include "stores/BoardCodec.h"

#include <QHash>
#include <QSet>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The input is two board files separated by the first NUL byte.
    const auto *separator = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    if (!separator)
        return 0;
    const QByteArrayView localBytes(reinterpret_cast<const char *>(data), separator - data);
    const QByteArrayView remoteBytes(reinterpret_cast<const char *>(separator + 1),
                                     qsizetype(size) - (separator - data) - 1);
    const std::optional<Board> local = BoardCodec::decode(localBytes);
    const std::optional<Board> remote = BoardCodec::decode(remoteBytes);
    if (!local || !remote)
        return 0;

    const Board merged = ThoughtSyncMerge::merge(*local, *remote);

    QHash<QUuid, QDateTime> newest;
    QList<QUuid> order;
    for (const Board *side : {&*local, &*remote}) {
        for (const Thought &thought : *side) {
            auto it = newest.find(thought.id);
            if (it == newest.end()) {
                newest.insert(thought.id, thought.updatedAt);
                order.append(thought.id);
            } else if (thought.updatedAt > *it) {
                *it = thought.updatedAt;
            }
        }
    }
    check(merged.size() == order.size());
    QSet<QUuid> seen;
    for (qsizetype i = 0; i < merged.size(); ++i) {
        check(merged[i].id == order[i]); // Local order first, then the cloud's first appearances.
        check(!seen.contains(merged[i].id));
        seen.insert(merged[i].id);
        check(merged[i].updatedAt == newest.value(merged[i].id));
    }
    return 0;
}
