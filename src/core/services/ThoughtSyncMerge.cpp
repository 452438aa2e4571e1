#include "ThoughtSyncMerge.h"

#include <QHash>

namespace ThoughtSyncMerge {

Board merge(const Board &local, const Board &remote)
{
    Board result;
    result.reserve(local.size() + remote.size());
    // The position in the result of the version currently chosen for each id.
    QHash<QUuid, qsizetype> positions;
    positions.reserve(local.size());

    const auto take = [&](const Thought &thought) {
        const auto found = positions.constFind(thought.id);
        if (found == positions.cend()) {
            positions.insert(thought.id, result.size());
            result.append(thought);
        } else if (thought.updatedAt > result.at(*found).updatedAt) {
            result[*found] = thought;
        }
    };
    for (const Thought &thought : local)
        take(thought);
    for (const Thought &thought : remote)
        take(thought);
    return result;
}

} // namespace ThoughtSyncMerge
