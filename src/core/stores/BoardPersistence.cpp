#include "BoardPersistence.h"

#include "BoardCodec.h"
#include "services/ThoughtSyncMerge.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <system_error>
#include <variant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileState
{
    // Set by a load that found a file it could not use; the next save rescues that file first.
    std::atomic<bool> unusableFileFound = false;
};

BoardFileProblem problem(BoardFileProblem::Kind kind, const QString &path, int systemError = 0)
{
    return BoardFileProblem{kind, path, systemError};
}

// Reads the whole file into a buffer that ends in the decoder's padding, so the decoder reads the
// bytes where they landed. Stops with tooLarge past the size limit, whatever the file claimed.
std::variant<QByteArray, BoardFileProblem> readPadded(QFile &file, const QString &path)
{
    // The size is a first guess only: the file may change while it is read.
    QByteArray buffer(file.size() + BoardCodec::readPadding, Qt::Uninitialized);
    qsizetype length = 0;
    for (;;) {
        if (length > BoardPersistence::maxFileSize)
            return problem(BoardFileProblem::Kind::tooLarge, path);
        if (buffer.size() - length == BoardCodec::readPadding) {
            // Full at the size first seen: one byte more tells whether the file grew meanwhile,
            // without doubling the buffer for the usual file that did not.
            char next = 0;
            errno = 0;
            const qint64 more = file.read(&next, 1);
            if (more < 0)
                return problem(BoardFileProblem::Kind::unreadable, path, errno ? errno : EIO);
            if (more == 0)
                break;
            buffer.resize(buffer.size() * 2);
            buffer[length++] = next;
        }
        errno = 0;
        const qint64 read =
            file.read(buffer.data() + length, buffer.size() - BoardCodec::readPadding - length);
        if (read < 0)
            return problem(BoardFileProblem::Kind::unreadable, path, errno ? errno : EIO);
        if (read == 0)
            break;
        length += read;
    }
    buffer.truncate(length + BoardCodec::readPadding);
    return buffer;
}

bool hasRepeatedIds(const Board &board)
{
    QSet<QUuid> seen;
    seen.reserve(board.size());
    for (const Thought &thought : board) {
        const qsizetype before = seen.size();
        seen.insert(thought.id);
        if (seen.size() == before)
            return true;
    }
    return false;
}

LoadedBoard readFile(const QString &path)
{
    if (path.isEmpty())
        return {};
    // Opened without waiting, and checked before a byte is read: a pipe or a device in the
    // board's place would otherwise block the launch for ever or read without end.
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        if (errno == ENOENT)
            return {};
        return {std::nullopt, problem(BoardFileProblem::Kind::unreadable, path, errno)};
    }
    QFile file;
    file.open(descriptor, QIODevice::ReadOnly | QIODevice::Unbuffered,
              QFileDevice::AutoCloseHandle);
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0)
        return {std::nullopt, problem(BoardFileProblem::Kind::unreadable, path, errno)};
    if (!S_ISREG(status.st_mode))
        return {std::nullopt, problem(BoardFileProblem::Kind::notAFile, path)};
    if (status.st_size > BoardPersistence::maxFileSize)
        return {std::nullopt, problem(BoardFileProblem::Kind::tooLarge, path)};
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    // Read, not mapped: a mapping would crash the process should another program truncate the
    // file while it is decoded.
    std::variant<QByteArray, BoardFileProblem> data = readPadded(file, path);
    if (auto *failed = std::get_if<BoardFileProblem>(&data))
        return {std::nullopt, *failed};
    const QByteArray &bytes = std::get<QByteArray>(data);
    std::optional<Board> board = BoardCodec::decodePadded(
        QByteArrayView(bytes.constData(), bytes.size() - BoardCodec::readPadding));
    if (!board)
        return {std::nullopt, problem(BoardFileProblem::Kind::undecodable, path)};
    // A file that names a thought twice is read as a cloud board is: the first position, the
    // newest version, so that every operation addresses exactly one card.
    if (hasRepeatedIds(*board))
        board = ThoughtSyncMerge::merge(*board, Board());
    return {std::move(board), std::nullopt};
}

LoadedBoard loadFile(const QString &path, FileState &state)
{
    LoadedBoard loaded = readFile(path);
    if (loaded.problem)
        state.unusableFileFound = true;
    return loaded;
}

// Moves the file at \a path out of the way, keeping every byte; returns where it went, the path
// itself when nothing is there any more, or nothing when it could not be moved.
std::optional<QString> moveUnusableFileAside(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT ? std::optional<QString>(QString()) : std::nullopt;
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int attempt = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++attempt)
        target = path + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(attempt);
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) != 0)
        return std::nullopt;
    return target;
}

// The folder of the live board holds private notes: only its owner may look inside.
bool preparePrivateFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    ::chmod(QFile::encodeName(folder).constData(), S_IRWXU);
    return true;
}

enum class Folder { ownedByLumaret, theCallers };

SavedBoard saveFile(const QString &path, const Board &board, FileState &state, Folder folder)
{
    using Kind = BoardFileProblem::Kind;
    if (path.isEmpty())
        return {problem(Kind::noDataFolder, path), {}};
    const QString folderPath = QFileInfo(path).absolutePath();
    errno = 0;
    if (!(folder == Folder::ownedByLumaret ? preparePrivateFolder(folderPath)
                                           : QDir().mkpath(folderPath)))
        return {problem(Kind::unwritable, path, errno ? errno : EACCES), {}};
    SavedBoard saved;
    if (state.unusableFileFound) {
        // Writing over a file we could not read would destroy the only copy of that board.
        errno = 0;
        const std::optional<QString> movedTo = moveUnusableFileAside(path);
        if (!movedTo)
            return {problem(Kind::unwritable, path, errno ? errno : EACCES), {}};
        state.unusableFileFound = false;
        saved.movedAside = *movedTo;
    }
    QSaveFile file(path);
    // Unbuffered: a buffered QSaveFile can meet a short write on a full disk only while
    // flushing at commit, and then still renames the truncated file over the good one.
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // Qt refuses an existing file it may not write without saying why: the system does.
        int error = errno;
        if (::access(QFile::encodeName(path).constData(), W_OK) != 0 && errno != ENOENT)
            error = errno;
        saved.problem = problem(Kind::unwritable, path, error ? error : EIO);
        return saved;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // Written in pieces as it is encoded: a large board never needs a buffer of its whole size.
    // Each megabyte written is handed to the disk at once (without waiting for it), so the disk
    // writes while the rest is encoded and the sync at commit has only the tail left to wait for.
    constexpr qint64 writeBackEvery = 1024 * 1024;
    qint64 written = 0;
    qint64 handedToDisk = 0;
    int writeError = 0;
    const bool complete = BoardCodec::encodeInPieces(board, [&](QByteArrayView piece) {
        errno = 0;
        if (file.write(piece.data(), piece.size()) != piece.size()) {
            writeError = errno ? errno : EIO;
            return false;
        }
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
        saved.problem = problem(Kind::unwritable, path, writeError ? writeError : EIO);
        return saved;
    }
    errno = 0;
    if (!file.commit())
        saved.problem = problem(Kind::unwritable, path, errno ? errno : EIO);
    return saved;
}

BoardPersistence makeFilePersistence(std::function<QString()> path, Folder folder)
{
    auto state = std::make_shared<FileState>();
    return BoardPersistence{
        [path, state] { return loadFile(path(), *state); },
        [path, state, folder](const Board &board) {
            return saveFile(path(), board, *state, folder);
        },
    };
}

} // namespace

BoardPersistence BoardPersistence::live()
{
    return makeFilePersistence(&BoardPersistence::liveStoragePath, Folder::ownedByLumaret);
}

BoardPersistence BoardPersistence::file(const QString &path)
{
    return makeFilePersistence([path] { return path; }, Folder::theCallers);
}

BoardPersistence BoardPersistence::readingAhead(BoardPersistence persistence)
{
    if (!persistence.load)
        return persistence;
    // Shared, so copies of the persistence take the same reading; the first load() consumes it.
    std::shared_ptr<std::future<LoadedBoard>> ahead;
    try {
        ahead = std::make_shared<std::future<LoadedBoard>>(
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
