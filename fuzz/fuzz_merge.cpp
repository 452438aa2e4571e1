// Three boards from anywhere (the board both sides last agreed on, this disk and the cloud) meet
// in the merge. Whatever they hold, every id comes out exactly once, two machines merging the same
// pair from either side agree, and a field changed on one side only is never lost.
#include "services/ThoughtSyncMerge.h"
#include "stores/BoardCodec.h"

#include <QHash>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

QHash<QUuid, Thought> byId(const Board &board)
{
    QHash<QUuid, Thought> index;
    for (const Thought &thought : ThoughtSyncMerge::merge(board, Board()))
        index.insert(thought.id, thought);
    return index;
}

/// Checks the fields of \a merged that only \a side changed since \a agreed.
void checkOneSidedFields(const Thought &agreed, const Thought &side, const Thought &other,
                         const Thought &merged)
{
    const auto sameText = [](const QString &lhs, const QString &rhs) {
        return lhs.normalized(QString::NormalizationForm_C) ==
               rhs.normalized(QString::NormalizationForm_C);
    };
    bool otherEdited = false;
    const auto field = [&](auto member, auto same) {
        const bool changedHere = !same(side.*member, agreed.*member);
        const bool changedThere = !same(other.*member, agreed.*member);
        otherEdited = otherEdited || changedThere;
        if (changedHere && !changedThere)
            check(same(merged.*member, side.*member));
    };
    const auto equal = [](const auto &lhs, const auto &rhs) { return lhs == rhs; };
    field(&Thought::title, sameText);
    field(&Thought::note, sameText);
    field(&Thought::status, equal);
    // A deletion gives way to an edit made meanwhile on the other side.
    if (side.isDeleted != agreed.isDeleted && other.isDeleted == agreed.isDeleted)
        check(merged.isDeleted == (side.isDeleted && !(otherEdited && !agreed.isDeleted)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The input is three board files separated by NUL bytes.
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype first = input.indexOf('\0');
    const qsizetype second = first < 0 ? -1 : input.indexOf('\0', first + 1);
    if (second < 0)
        return 0;
    const std::optional<Board> agreed = BoardCodec::decode(input.first(first));
    const std::optional<Board> local =
        BoardCodec::decode(input.sliced(first + 1, second - first - 1));
    const std::optional<Board> cloud = BoardCodec::decode(input.sliced(second + 1));
    if (!agreed || !local || !cloud)
        return 0;

    // An empty agreed board stands for none, as on a machine that never synced.
    const std::optional<Board> base = agreed->isEmpty() ? std::nullopt : agreed;
    const Board here = ThoughtSyncMerge::merge(base, *local, *cloud);
    const Board there = ThoughtSyncMerge::merge(base, *cloud, *local);
    const QHash<QUuid, Thought> mergedHere = byId(here);
    const QHash<QUuid, Thought> mergedThere = byId(there);
    const QHash<QUuid, Thought> localById = byId(*local);
    const QHash<QUuid, Thought> cloudById = byId(*cloud);
    const QHash<QUuid, Thought> agreedById = byId(*agreed);

    check(here.size() == mergedHere.size()); // every id once
    check(mergedHere == mergedThere);
    for (const QHash<QUuid, Thought> *side : {&localById, &cloudById}) {
        for (auto it = side->cbegin(); it != side->cend(); ++it)
            check(mergedHere.contains(it.key()));
    }
    check(mergedHere.size() <= localById.size() + cloudById.size());
    for (auto it = agreedById.cbegin(); base && it != agreedById.cend(); ++it) {
        const auto mine = localById.constFind(it.key());
        const auto theirs = cloudById.constFind(it.key());
        if (mine == localById.cend() || theirs == cloudById.cend())
            continue;
        const Thought &merged = mergedHere[it.key()];
        checkOneSidedFields(*it, *mine, *theirs, merged);
        checkOneSidedFields(*it, *theirs, *mine, merged);
    }
    return 0;
}
