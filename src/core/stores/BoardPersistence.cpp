#include "BoardPersistence.h"

#include "BoardCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <atomic>
#include <memory>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileState
{
    // Set by a load that found a file it could not decode; the next save rescues that file first.
    std::atomic<bool> unreadableFileFound = false;
};

// A large board file mapped into memory instead of copied, followed by the decoder's padding.
// Every page of a copy is a fresh page the kernel must hand out and clear, and at launch that is
// most of what reading a large board costs; mapped, the file's pages already in the page cache are
// used as they are. The mapping holds the file as it was opened: Lumaret replaces its board file
// by renaming a new one over it and never truncates it in place.
class MappedFile
{
public:
    // Smaller boards are copied: mapping and unmapping would cost more than the copy.
    static constexpr qint64 smallestMapped = 256 * 1024;

    static std::unique_ptr<MappedFile> map(int descriptor)
    {
        struct stat before = {};
        if (::fstat(descriptor, &before) != 0 || !S_ISREG(before.st_mode) ||
            before.st_size < smallestMapped)
            return nullptr;
        const auto size = size_t(before.st_size);
        const auto page = size_t(::sysconf(_SC_PAGESIZE));
        const size_t length = (size + BoardCodec::readPadding + page - 1) / page * page;
        // Zero pages first, then the file over their beginning, so that the padding is readable
        // even where it runs past the file's last page.
        void *region = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (region == MAP_FAILED)
            return nullptr;
        auto mapped = std::unique_ptr<MappedFile>(new MappedFile(region, length, size));
        if (::mmap(region, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, descriptor,
                   0) == MAP_FAILED)
            return nullptr;
        // A file that changed size in the meantime is read the ordinary way instead.
        struct stat after = {};
        if (::fstat(descriptor, &after) != 0 || after.st_size != before.st_size)
            return nullptr;
        return mapped;
    }

    ~MappedFile() { ::munmap(m_region, m_length); }

    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    QByteArrayView bytes() const
    {
        return QByteArrayView(static_cast<const char *>(m_region), qsizetype(m_size));
    }

private:
    MappedFile(void *region, size_t length, size_t size)
        : m_region(region), m_length(length), m_size(size)
    {}

    void *m_region;
    size_t m_length;
    size_t m_size;
};

// Reads the whole file into a buffer that ends in the decoder's padding, so the decoder reads the
// bytes where they landed. Nothing when the file cannot be read.
std::optional<QByteArray> readPadded(QFile &file)
{
    // The size is a first guess only: the file may change while it is read.
    QByteArray buffer(file.size() + BoardCodec::readPadding, Qt::Uninitialized);
    qsizetype length = 0;
    for (;;) {
        if (buffer.size() - length == BoardCodec::readPadding)
            buffer.resize(buffer.size() * 2);
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
    if (const std::unique_ptr<MappedFile> mapped = MappedFile::map(file.handle())) {
        board = BoardCodec::decodePadded(mapped->bytes());
    } else if (const std::optional<QByteArray> data = readPadded(file)) {
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
    qint64 written = 0;
    const bool complete = BoardCodec::encodeInPieces(board, [&](QByteArrayView piece) {
        if (file.write(piece.data(), piece.size()) != piece.size())
            return false;
        written += piece.size();
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

QString BoardPersistence::liveStoragePath()
{
    const QString dataFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty())
        return {};
    return dataFolder + QStringLiteral("/Lumaret/board.json");
}
