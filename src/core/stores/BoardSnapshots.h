#pragma once

#include "stores/BoardPersistence.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

/// Copies of the board file kept in "snapshots/" beside it, so that an earlier board can be
/// brought back: one before the first change of every launch and of every day. The last ten and
/// the first of each of the last thirty days are kept, within 50 MiB in all.
class BoardSnapshots
{
public:
    using Clock = std::function<QDateTime()>;

    struct Snapshot
    {
        /// The name the person gives to restore it: its UTC time, "yyyyMMdd-HHmmss".
        QString id;
        QDateTime takenAt;
        QString path;
        qint64 size = 0;
    };

    static constexpr int keptNewest = 10;
    static constexpr int keptDays = 30;
    static constexpr qint64 maxTotalSize = 50 * 1024 * 1024;

    /// The snapshots of the board file at \a boardPath.
    explicit BoardSnapshots(const QString &boardPath);

    /// \a persistence, which keeps a snapshot of the file at \a boardPath before its first save,
    /// and again before the first save of each new day.
    static BoardPersistence guarding(BoardPersistence persistence,
                                     std::function<QString()> boardPath, Clock clock = {});

    /// Makes the board's folder (creating it when missing), the snapshots' folder and every
    /// snapshot readable by the user only, as an earlier version may have left them readable by
    /// all.
    void restrictToOwner() const;

    /// Every snapshot, newest first.
    QList<Snapshot> list() const;
    /// Copies the board file as it is now, unless it is missing or equals the newest snapshot,
    /// then drops the snapshots no longer kept. Returns the new snapshot's id, if one was taken.
    std::optional<QString> take(const QDateTime &now);
    /// The board of snapshot \a id, or nothing when there is none or it cannot be read.
    std::optional<Board> board(const QString &id) const;

    /// The board a restore of \a snapshot puts in place of \a current: the snapshot's thoughts in
    /// its order, and every thought it does not know as a tombstone, so that other machines
    /// drop them too.
    static Board restored(const Board &current, const Board &snapshot);

private:
    void prune(const QDateTime &now) const;

    QString m_boardPath;
    QString m_folder;
};
