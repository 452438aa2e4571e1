#include "BoardFixtures.h"

QDateTime fixtureNow()
{
    return QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
}

Thought makeThought(const QString &title, ThoughtStatus status, qint64 updatedOffsetSeconds,
                    bool isDeleted)
{
    return Thought{QUuid::createUuid(),
                   title,
                   QString(),
                   status,
                   fixtureNow().addSecs(-3600),
                   fixtureNow().addSecs(updatedOffsetSeconds),
                   isDeleted};
}

BoardPersistence RecordingPersistence::persistence()
{
    return BoardPersistence{[this] { return stored; },
                            [this](const Board &board) { saves.append(stored.emplace(board)); }};
}

QStringList titles(const Board &board)
{
    QStringList result;
    for (const Thought &thought : board)
        result.append(thought.title);
    return result;
}
