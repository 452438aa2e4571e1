#include "BoardPersistence.h"

#include "BoardCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <atomic>
#include <future>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct FileState
{
    // Set by a load that found a file it could not decode; the next save rescues that file first.
    std::atomic<bool> unreadableFileFound = false;
};

// Reads the whole file into a buffer that ends in the decoder's padding, so the decoder reads the
// bytes where they landed. Nothing when the file cannot be read.
std::optional<QByteArray> readPadded(QFile &file)
{
    // The size is a first guess only: the file may change while it is read.
    QByteArray buffer(file.size() + BoardCodec::readPadding, Qt::Uninitialized);
    qsizetype length = 0;
    for (;;) {
        if (buffer.size() - length == BoardCodec::readPadding) {
            // Full at the size first seen: one byte more tells whether the file grew meanwhile,
            // without doubling the buffer for the usual file that did not.
            char next = 0;
            const qint64 more = file.read(&next, 1);
            if (more < 0)
                return std::nullopt;
            if (more == 0)
                break;
            buffer.resize(buffer.size() * 2);
            buffer[length++] = next;
        }
        const qint64 read =
            file.read(buffer.data() + length, buffer.size() - BoardCodec::readPadding - length);
        if (read < 0)
            return std::nullopt;
        if (read == 0)
            break;
        length += read;
    }
    buffer.truncate(length + BoardCodec::readPadding);
    return buffer;
}

std::optional<Board> loadFile(const QString &path, FileState &state)
{
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    std::optional<Board> board;
    // Read, not mapped: a mapping would crash the process should another program truncate the
    // file while it is decoded.
    if (const std::optional<QByteArray> data = readPadded(file)) {
        board = BoardCodec::decodePadded(
            QByteArrayView(data->constData(), data->size() - BoardCodec::readPadding));
    }
    if (!board)
        state.unreadableFileFound = true;
    return board;
}

bool moveUnreadableFileAside(const QString &path)
{
    if (!QFileInfo::exists(path))
        return true;
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int attempt = 2; QFileInfo::exists(target); ++attempt)
        target = path + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(attempt);
    return QFile::rename(path, target);
}

void saveFile(const QString &path, const Board &board, FileState &state)
{
    if (path.isEmpty())
        return;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return;
    if (state.unreadableFileFound) {
        // Writing over a file we could not read would destroy the only copy of that board.
        if (!moveUnreadableFileAside(path))
            return;
        state.unreadableFileFound = false;
    }
    QSaveFile file(path);
    // Unbuffered: a buffered QSaveFile can meet a short write on a full disk only while
    // flushing at commit, and then still renames the truncated file over the good one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    // Written in pieces as it is encoded: a large board never needs a buffer of its whole size.
    // Each megabyte written is handed to the disk at once (without waiting for it), so the disk
    // writes while the rest is encoded and the sync at commit has only the tail left to wait for.
    constexpr qint64 writeBackEvery = 1024 * 1024;
    qint64 written = 0;
    qint64 handedToDisk = 0;
    const bool complete = BoardCodec::encodeInPieces(board, [&](QByteArrayView piece) {
        if (file.write(piece.data(), piece.size()) != piece.size())
            return false;
        written += piece.size();
        if (written - handedToDisk >= writeBackEvery) {
#ifdef Q_OS_LINUX
            ::sync_file_range(file.handle(), handedToDisk, written - handedToDisk,
                              SYNC_FILE_RANGE_WRITE);
#endif
            handedToDisk = written;
        }
        return true;
    });
    if (!complete || file.size() != written) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

BoardPersistence makeFilePersistence(std::function<QString()> path)
{
    auto state = std::make_shared<FileState>();
    return BoardPersistence{
        [path, state] { return loadFile(path(), *state); },
        [path, state](const Board &board) { saveFile(path(), board, *state); },
    };
}

} // namespace

BoardPersistence BoardPersistence::live()
{
    return makeFilePersistence(&BoardPersistence::liveStoragePath);
}

BoardPersistence BoardPersistence::file(const QString &path)
{
    return makeFilePersistence([path] { return path; });
}

BoardPersistence BoardPersistence::readingAhead(BoardPersistence persistence)
{
    if (!persistence.load)
        return persistence;
    // Shared, so copies of the persistence take the same reading; the first load() consumes it.
    std::shared_ptr<std::future<std::optional<Board>>> ahead;
    try {
        ahead = std::make_shared<std::future<std::optional<Board>>>(
            std::async(std::launch::async, persistence.load));
    } catch (const std::system_error &) {
        // No thread to be had (a process limit, say): the board is read when it is asked for.
        return persistence;
    }
    persistence.load = [ahead, load = std::move(persistence.load)] {
        return ahead->valid() ? ahead->get() : load();
    };
    return persistence;
}

QString BoardPersistence::liveStoragePath()
{
    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty())
        return {};
    return dataFolder + QStringLiteral("/Lumaret/board.json");
}
