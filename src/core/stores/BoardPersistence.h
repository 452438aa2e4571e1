#pragma once

#include "models/Thought.h"

#include <functional>
#include <optional>

/// Where the board is loaded from and saved to: two functions, so the store can be built over a
/// file, memory, or anything a test records.
struct BoardPersistence
{
    /// The saved board, or nothing when there is none or it cannot be read.
    std::function<std::optional<Board>()> load;
    /// Writes the whole board, replacing what was saved. Failures are dropped: the next change
    /// writes the whole board again.
    std::function<void(const Board &)> save;

    /// The board file of the user: "Lumaret/board.json" in the generic data folder
    /// ($XDG_DATA_HOME, by default ~/.local/share).
    static BoardPersistence live();

    /// A board file at \a path. A file that exists but cannot be read is not overwritten blindly:
    /// the first save moves it aside as "<name>.unreadable-<UTC time>" in the same folder, so a
    /// damaged board or one written by a newer version can still be recovered by hand.
    static BoardPersistence file(const QString &path);

    /// \a persistence with its first load already running on another thread: the first call of
    /// load() takes that board (waiting for it if need be), later calls load again. Start it only
    /// once nothing else may write the board, so that it reads what a load at its first call
    /// would have read.
    static BoardPersistence readingAhead(BoardPersistence persistence);

    /// The path live() uses now, or an empty string when there is no data folder.
    static QString liveStoragePath();
};
