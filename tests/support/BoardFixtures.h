#pragma once

#include "models/Thought.h"
#include "stores/BoardPersistence.h"

/// A fixed instant to build boards around: 2026-03-01T09:00:00Z.
inline QDateTime fixtureNow()
{
    return QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
}

/// A thought with a fresh id, created an hour before fixtureNow() and updated the given seconds
/// after it.
inline Thought makeThought(const QString &title, ThoughtStatus status = ThoughtStatus::notStarted,
                           qint64 updatedOffsetSeconds = 0, bool isDeleted = false)
{
    return Thought{QUuid::createUuid(),
                   title,
                   QString(),
                   status,
                   fixtureNow().addSecs(-3600),
                   fixtureNow().addSecs(updatedOffsetSeconds),
                   isDeleted};
}

/// A persistence that keeps the board in memory and remembers every save; while refusal is set,
/// saves fail with it and keep nothing.
struct RecordingPersistence
{
    std::optional<Board> stored;
    QList<Board> saves;
    std::optional<BoardFileProblem> refusal;

    BoardPersistence persistence()
    {
        return BoardPersistence{[this] {
                                    return LoadedBoard{stored, std::nullopt};
                                },
                                [this](const Board &board) {
                                    if (refusal)
                                        return SavedBoard{refusal, {}};
                                    saves.append(stored.emplace(board));
                                    return SavedBoard();
                                }};
    }
};

/// The titles of \a board in order, for readable comparisons.
inline QStringList titles(const Board &board)
{
    QStringList result;
    for (const Thought &thought : board)
        result.append(thought.title);
    return result;
}
