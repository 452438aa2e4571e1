#pragma once

#include "models/Thought.h"
#include "stores/BoardPersistence.h"

/// A fixed instant to build boards around: 2026-03-01T09:00:00Z.
QDateTime fixtureNow();

/// A thought with a fresh id, created an hour before fixtureNow() and updated the given seconds
/// after it.
Thought makeThought(const QString &title, ThoughtStatus status = ThoughtStatus::notStarted,
                    qint64 updatedOffsetSeconds = 0, bool isDeleted = false);

/// A persistence that keeps the board in memory and remembers every save.
struct RecordingPersistence
{
    std::optional<Board> stored;
    QList<Board> saves;

    BoardPersistence persistence();
};

/// The titles of \a board in order, for readable comparisons.
QStringList titles(const Board &board);
