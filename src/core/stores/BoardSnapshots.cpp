#include "BoardSnapshots.h"

#include "BoardCodec.h"
#include "support/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <memory>

namespace {

const QString idFormat = QStringLiteral("yyyyMMdd-HHmmss");
const QString prefix = QStringLiteral("board-");
const QString suffix = QStringLiteral(".json");

std::optional<QByteArray> readAll(const QString &path)
{
    // Only a regular file of a board's size: a pipe or a device in the board's place would block
    // the save behind the snapshot, or read without end.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > BoardPersistence::maxFileSize)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return data;
}

} // namespace

BoardSnapshots::BoardSnapshots(const QString &boardPath)
    : m_boardPath(boardPath),
      // Without a board file there is no folder beside it; never fall back to the working one.
      m_folder(boardPath.isEmpty()
                   ? QString()
                   : QFileInfo(boardPath).absolutePath() + QStringLiteral("/snapshots"))
{}

BoardPersistence BoardSnapshots::guarding(BoardPersistence persistence,
                                          std::function<QString()> boardPath, Clock clock)
{
    if (!clock)
        clock = [] { return QDateTime::currentDateTimeUtc(); };
    // The day of the last snapshot this process took; none yet at launch.
    auto lastDay = std::make_shared<QDate>();
    persistence.save = [save = std::move(persistence.save), boardPath = std::move(boardPath),
                        clock = std::move(clock), lastDay](const Board &board) -> SavedBoard {
        const QDateTime now = clock();
        const QDate today = now.toLocalTime().date();
        if (*lastDay != today) {
            const QString path = boardPath();
            if (!path.isEmpty()) {
                BoardSnapshots snapshots(path);
                snapshots.restrictToOwner();
                snapshots.take(now);
            }
            *lastDay = today;
        }
        return save ? save(board) : SavedBoard();
    };
    return persistence;
}

void BoardSnapshots::restrictToOwner() const
{
    if (m_folder.isEmpty())
        return;
    // Made here when missing, so that the first save ever does not create it readable by all.
    PrivateFiles::makeFolder(QFileInfo(m_boardPath).absolutePath());
    PrivateFiles::restrict(m_folder);
    for (const Snapshot &snapshot : list())
        PrivateFiles::restrict(snapshot.path);
}

QList<BoardSnapshots::Snapshot> BoardSnapshots::list() const
{
    QList<Snapshot> snapshots;
    if (m_folder.isEmpty())
        return snapshots;
    const QFileInfoList files =
        QDir(m_folder).entryInfoList({prefix + QLatin1Char('*') + suffix}, QDir::Files);
    for (const QFileInfo &file : files) {
        const QString id = file.completeBaseName().mid(prefix.size());
        QDateTime takenAt = QDateTime::fromString(id.left(idFormat.size()), idFormat);
        if (!takenAt.isValid())
            continue;
        takenAt.setTimeSpec(Qt::UTC);
        snapshots.append({id, takenAt, file.absoluteFilePath(), file.size()});
    }
    // Ids sort by time; a second snapshot within one second carries a suffix and sorts after.
    std::sort(snapshots.begin(), snapshots.end(),
              [](const Snapshot &a, const Snapshot &b) { return a.id > b.id; });
    return snapshots;
}

std::optional<QString> BoardSnapshots::take(const QDateTime &now)
{
    const std::optional<QByteArray> data =
        m_boardPath.isEmpty() ? std::nullopt : readAll(m_boardPath);
    if (!data)
        return std::nullopt;
    const QList<Snapshot> existing = list();
    if (!existing.isEmpty() && readAll(existing.first().path) == data)
        return std::nullopt;
    if (!PrivateFiles::makeFolder(m_folder))
        return std::nullopt;
    const QString stamp = now.toUTC().toString(idFormat);
    QString id = stamp;
    for (int attempt = 2; QFileInfo::exists(m_folder + QLatin1Char('/') + prefix + id + suffix);
         ++attempt)
        id = stamp + QLatin1Char('-') + QString::number(attempt);
    QSaveFile file(m_folder + QLatin1Char('/') + prefix + id + suffix);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(*data) != data->size() || !file.commit())
        return std::nullopt;
    prune(now);
    return id;
}

void BoardSnapshots::prune(const QDateTime &now) const
{
    const QList<Snapshot> snapshots = list();
    const QDate today = now.toLocalTime().date();
    // Newest first, so the last snapshot seen of a day is its first.
    QSet<QDate> days;
    QList<bool> kept(snapshots.size(), false);
    for (qsizetype i = snapshots.size() - 1; i >= 0; --i) {
        const QDate day = snapshots[i].takenAt.toLocalTime().date();
        const bool firstOfDay = !days.contains(day);
        days.insert(day);
        kept[i] = i < keptNewest || (firstOfDay && day.daysTo(today) < keptDays);
    }
    qint64 total = 0;
    for (qsizetype i = 0; i < snapshots.size(); ++i) {
        if (kept[i]) {
            total += snapshots[i].size;
            // The newest is kept whatever its size: it may be the only way back.
            kept[i] = i == 0 || total <= maxTotalSize;
        }
        if (!kept[i])
            QFile::remove(snapshots[i].path);
    }
}

std::optional<Board> BoardSnapshots::board(const QString &id) const
{
    for (const Snapshot &snapshot : list()) {
        if (snapshot.id == id) {
            const std::optional<QByteArray> data = readAll(snapshot.path);
            return data ? BoardCodec::decode(*data) : std::nullopt;
        }
    }
    return std::nullopt;
}

Board BoardSnapshots::restored(const Board &current, const Board &snapshot)
{
    Board board = snapshot;
    QSet<QUuid> known;
    for (const Thought &thought : snapshot)
        known.insert(thought.id);
    for (Thought thought : current) {
        if (known.contains(thought.id))
            continue;
        thought.isDeleted = true;
        board.append(thought);
    }
    return board;
}
