#pragma once

#include "models/Thought.h"

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

} // namespace ThoughtSyncMerge
