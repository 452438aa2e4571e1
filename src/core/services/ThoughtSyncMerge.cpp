#include "ThoughtSyncMerge.h"

#include <QHash>
#include <QSet>

#include <tuple>

namespace ThoughtSyncMerge {

namespace {

QDateTime wholeSeconds(const QDateTime &date)
{
    return date.addMSecs(-date.time().msec());
}

Thought inWholeSeconds(Thought thought)
{
    thought.createdAt = wholeSeconds(thought.createdAt);
    thought.updatedAt = wholeSeconds(thought.updatedAt);
    return thought;
}

QString canonical(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C);
}

bool sameText(const QString &lhs, const QString &rhs)
{
    return lhs == rhs || canonical(lhs) == canonical(rhs);
}

/// Whether \a lhs is the version to keep over \a rhs where both changed the same field.
bool isNewer(const Thought &lhs, const Thought &rhs)
{
    if (lhs.updatedAt != rhs.updatedAt)
        return lhs.updatedAt > rhs.updatedAt;
    const auto key = [](const Thought &thought) {
        return std::make_tuple(thought.isDeleted, int(thought.status), canonical(thought.title),
                               canonical(thought.note));
    };
    return key(lhs) > key(rhs);
}

/// One thought both sides hold, \a agreed its version when they last agreed, if there was one.
Thought mergeThought(const Thought *agreed, const Thought &local, const Thought &cloud)
{
    // Most thoughts are the same on both sides; nothing below would change them.
    if (local == cloud)
        return local;
    const Thought &newer = isNewer(local, cloud) ? local : cloud;
    Thought merged = newer;
    bool editedHere = false;
    bool editedThere = false;
    const auto field = [&](auto member, auto same) {
        const bool here = !agreed || !same(local.*member, agreed->*member);
        const bool there = !agreed || !same(cloud.*member, agreed->*member);
        if (here != there)
            merged.*member = here ? local.*member : cloud.*member;
        return std::make_pair(here, there);
    };
    const auto equal = [](const auto &lhs, const auto &rhs) { return lhs == rhs; };
    for (const auto &[here, there] :
         {field(&Thought::title, sameText), field(&Thought::note, sameText),
          field(&Thought::status, equal)}) {
        editedHere = editedHere || here;
        editedThere = editedThere || there;
    }
    const auto [deletedHere, deletedThere] = field(&Thought::isDeleted, equal);
    if (agreed && !agreed->isDeleted && merged.isDeleted && deletedHere != deletedThere &&
        (deletedHere ? editedThere : editedHere))
        merged.isDeleted = false;
    merged.createdAt = std::min(local.createdAt, cloud.createdAt);
    merged.updatedAt = std::max(local.updatedAt, cloud.updatedAt);
    return merged;
}

/// The ids of \a board that \a other holds too, in \a board's order.
QList<QUuid> sharedOrder(const Board &board, const Board &other)
{
    QSet<QUuid> otherIds;
    for (const Thought &thought : other)
        otherIds.insert(thought.id);
    QList<QUuid> order;
    for (const Thought &thought : board) {
        if (otherIds.contains(thought.id))
            order.append(thought.id);
    }
    return order;
}

/// The ids of both boards in the cloud's order: thoughts only this machine holds keep their
/// place before the thought that followed them here.
QList<QUuid> cloudOrder(const Board &local, const Board &cloud)
{
    QSet<QUuid> inCloud;
    for (const Thought &thought : cloud)
        inCloud.insert(thought.id);
    QHash<QUuid, QList<QUuid>> placedBefore;
    QList<QUuid> waiting;
    for (const Thought &thought : local) {
        if (!inCloud.contains(thought.id))
            waiting.append(thought.id);
        else if (!waiting.isEmpty())
            placedBefore.insert(thought.id, std::exchange(waiting, {}));
    }
    QList<QUuid> order;
    order.reserve(local.size() + cloud.size());
    for (const Thought &thought : cloud) {
        order.append(placedBefore.value(thought.id));
        order.append(thought.id);
    }
    order.append(waiting);
    return order;
}

QHash<QUuid, const Thought *> byId(const Board &board)
{
    QHash<QUuid, const Thought *> index;
    index.reserve(board.size());
    for (const Thought &thought : board)
        index.insert(thought.id, &thought);
    return index;
}

} // namespace

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

Board merge(const std::optional<Board> &agreed, const Board &local, const Board &cloud)
{
    // Repeated ids collapse first, and every date is taken at the seconds the record keeps.
    const auto prepared = [](const Board &board) {
        Board result = merge(board, Board());
        for (Thought &thought : result)
            thought = inWholeSeconds(thought);
        return result;
    };
    const Board here = prepared(local);
    const Board there = prepared(cloud);
    const Board before = agreed ? prepared(*agreed) : Board();
    const bool keepsLocalOrder = !agreed || sharedOrder(here, before) != sharedOrder(before, here);
    QList<QUuid> order;
    if (keepsLocalOrder) {
        for (const Thought &thought : merge(here, there))
            order.append(thought.id);
    } else {
        order = cloudOrder(here, there);
    }

    const QHash<QUuid, const Thought *> hereById = byId(here);
    const QHash<QUuid, const Thought *> thereById = byId(there);
    const QHash<QUuid, const Thought *> agreedById = byId(before);
    Board merged;
    merged.reserve(order.size());
    for (const QUuid &id : std::as_const(order)) {
        const Thought *mine = hereById.value(id);
        const Thought *theirs = thereById.value(id);
        if (mine && theirs)
            merged.append(mergeThought(agreedById.value(id), *mine, *theirs));
        else
            merged.append(mine ? *mine : *theirs);
    }
    return merged;
}

bool sameInCloud(const Board &lhs, const Board &rhs)
{
    return std::equal(
        lhs.cbegin(), lhs.cend(), rhs.cbegin(), rhs.cend(),
        [](const Thought &l, const Thought &r) { return inWholeSeconds(l) == inWholeSeconds(r); });
}

} // namespace ThoughtSyncMerge
