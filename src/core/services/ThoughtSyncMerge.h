#pragma once

#include "models/Thought.h"

#include <optional>

/// Reconciles the board of this machine with the board read from the cloud.
namespace ThoughtSyncMerge {

/// Newest edit per thought wins, whole: for an id on both sides the remote version replaces the
/// local one only when its updatedAt is strictly later, so ties keep the local version. Local
/// order is kept; thoughts only in the cloud follow in the order they first appear there.
/// Tombstones are ordinary records. Every id occurs once in the result.
///
/// A repeated id within either input is collapsed the same way: the first position is kept and
/// the strictly newest version wins. Runs in time linear in the total number of thoughts.
Board merge(const Board &local, const Board &remote);

/// Merges what each side changed since \a agreed, the board as this machine and the cloud last
/// agreed on it, field by field: a title, note, status or deletion flag changed on one side only
/// takes that side's value, whatever the clocks say. Only a field changed on both sides goes to
/// the newer version, at the whole seconds the record keeps, a tie going to the greater value so
/// that every machine decides it alike. An edit against a deletion keeps the thought, with the
/// edit: a card coming back costs less than typed words lost. Without an agreed board every
/// difference counts as changed on both sides.
///
/// The order is this machine's where it reordered since the agreed board (or without one),
/// otherwise the cloud's, with thoughts only this machine holds before the thought that followed
/// them here. Dates come out in whole seconds, as the record keeps them. The result for each
/// thought does not depend on which side is local, so two machines merging the same pair agree.
Board merge(const std::optional<Board> &agreed, const Board &local, const Board &cloud);

/// Whether two boards are the same once written: the record keeps whole seconds, so a local date
/// with milliseconds equals its copy read back from the cloud.
bool sameInCloud(const Board &lhs, const Board &rhs);

} // namespace ThoughtSyncMerge
