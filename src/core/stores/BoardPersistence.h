#pragma once

#include "models/Thought.h"

#include <QString>

#include <functional>
#include <optional>

/// What stood in the way of reading or writing the board file, for the person to be told.
struct BoardFileProblem
{
    enum class Kind {
        /// No data folder to keep a board file in.
        noDataFolder,
        /// The file exists but could not be opened or read (systemError says why).
        unreadable,
        /// A folder, pipe, device or socket stands where the board file should be.
        notAFile,
        /// Larger than maxFileSize: no board of a person's grows that large.
        tooLarge,
        /// Read whole, but it is not a board this version understands.
        undecodable,
        /// The board could not be written (systemError says why).
        unwritable,
    };

    Kind kind = Kind::unreadable;
    /// The board file concerned.
    QString path;
    /// The system's error number (errno), where the system gave one.
    int systemError = 0;

    bool operator==(const BoardFileProblem &) const = default;
};

/// What a load found: a board, no file at all (both empty), or a file that could not be used.
struct LoadedBoard
{
    std::optional<Board> board;
    /// Set when a board file exists but could not be used; the file is then left as it was.
    std::optional<BoardFileProblem> problem;
};

/// What a save did.
struct SavedBoard
{
    /// Nothing when the board is on disk.
    std::optional<BoardFileProblem> problem;
    /// Where a board file that could not be read was moved before this save wrote its own.
    QString movedAside;
};

/// Where the board is loaded from and saved to: two functions, so the store can be built over a
/// file, memory, or anything a test records.
struct BoardPersistence
{
    /// A board file larger than this is refused unread.
    static constexpr qint64 maxFileSize = 256 * 1024 * 1024;

    /// The saved board; with neither board nor problem there is none yet.
    std::function<LoadedBoard()> load;
    /// Writes the whole board, replacing what was saved, and says whether it did.
    std::function<SavedBoard(const Board &)> save;

    /// The board file of the user: "Lumaret/board.json" in the generic data folder
    /// ($XDG_DATA_HOME, by default ~/.local/share). Its folder is kept private to the user.
    static BoardPersistence live();

    /// A board file at \a path. Only regular files are read, and only up to maxFileSize; a thought
    /// the file names twice loads once, in its newest version at its first place. A file
    /// that exists but cannot be used is never overwritten: the first save moves it aside as
    /// "<name>.unreadable-<UTC time>" in the same folder, so a damaged board or one written by a
    /// newer version can still be recovered by hand. The file is written readable by the user
    /// only.
    static BoardPersistence file(const QString &path);

    /// \a persistence with its first load already running on another thread: the first call of
    /// load() takes that board (waiting for it if need be), later calls load again. Start it only
    /// once nothing else may write the board, so that it reads what a load at its first call
    /// would have read.
    static BoardPersistence readingAhead(BoardPersistence persistence);

    /// The path live() uses now, or an empty string when there is no data folder.
    static QString liveStoragePath();
};
