#include "SingleInstance.h"

#include "stores/BoardPersistence.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// One request per connection, in lines: "activate", or "add <base64 of UTF-8>" once per thought
// followed by "end", which the primary answers with "added <count>", or with
// "unsaved <count> <base64 of the UTF-8 reason>" when it took them but could not save its board.
const QByteArray activateLine = QByteArrayLiteral("activate");
const QByteArray addPrefix = QByteArrayLiteral("add ");
const QByteArray endLine = QByteArrayLiteral("end");
const QByteArray addedPrefix = QByteArrayLiteral("added ");
const QByteArray unsavedPrefix = QByteArrayLiteral("unsaved ");

} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : SingleInstance(key, Limits(), parent)
{}

SingleInstance::SingleInstance(const QString &key, Limits limits, QObject *parent)
    : QObject(parent), m_key(key), m_limits(limits)
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::keyFor(const QString &user, const QString &dataFolder)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(user.toUtf8());
    hash.addData(QByteArrayView("\n"));
    hash.addData(QDir::cleanPath(dataFolder).toUtf8());
    return QStringLiteral("lumaret-") + QString::fromLatin1(hash.result().toHex().left(16));
}

QString SingleInstance::currentKey()
{
    return keyFor(QString::number(getuid()), BoardPersistence::liveStoragePath());
}

QString SingleInstance::runtimeFolder(QString *problem)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) {
        // Sessions started by su, cron or some ssh setups have no runtime folder; the user's own
        // cache is the next place no one else can write to.
        const QString cache =
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (!cache.isEmpty() && QDir().mkpath(cache)) {
            folder = cache + QStringLiteral("/lumaret-runtime");
            // Created private from the start; an existing one is checked below like any other.
            ::mkdir(QFile::encodeName(folder).constData(), S_IRWXU);
        }
    }
    struct stat status = {};
    // lstat, so that a link to a folder of someone else's choosing is refused too.
    const bool isPrivate = QDir::isAbsolutePath(folder) &&
                           ::lstat(QFile::encodeName(folder).constData(), &status) == 0 &&
                           S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
                           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
    if (isPrivate)
        return folder;
    if (problem) {
        *problem = folder.isEmpty()
                       ? QStringLiteral("找不到只属于当前用户的运行时文件夹（XDG_RUNTIME_DIR）。")
                       : QStringLiteral("运行时文件夹 %1 不是只属于当前用户的文件夹（须为 "
                                        "0700），Lumaret 不会在其中放置锁和套接字。")
                             .arg(folder);
    }
    return {};
}

QString SingleInstance::lockPath() const
{
    return runtimeFolder() + QLatin1Char('/') + m_key + QStringLiteral(".lock");
}

QString SingleInstance::serverPath() const
{
    return runtimeFolder() + QLatin1Char('/') + m_key + QStringLiteral(".socket");
}

bool SingleInstance::tryLock()
{
    if (runtimeFolder(&m_problem).isEmpty())
        return false;
    m_lock = std::make_unique<QLockFile>(lockPath());
    // A lock left by a process that no longer runs is taken over at once.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    m_lock.reset();
    return false;
}

SingleInstance::Role SingleInstance::claim(std::chrono::milliseconds timeout)
{
    m_problem.clear();
    if (runtimeFolder(&m_problem).isEmpty())
        return Role::unavailable;
    const QDeadlineTimer deadline(timeout);
    do {
        if (tryLock()) {
            if (listen())
                return Role::primary;
            m_lock.reset();
            return Role::unavailable;
        }
        if (askPrimaryToActivate())
            return Role::secondary;
        // The holder may still be starting, or be a quick capture about to release the lock.
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    // Even when the running instance cannot be reached, this launch must not become a second
    // writer of the board.
    m_problem = QStringLiteral("另一个 Lumaret 持有看板的锁，但没有回应。");
    return Role::unavailable;
}

bool SingleInstance::tryLockWithoutServing()
{
    return tryLock();
}

bool SingleInstance::listen()
{
    // Holding the lock means any socket file left behind belongs to a dead instance.
    QLocalServer::removeServer(serverPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(serverPath())) {
        // Without the socket no later launch could find this one, and each would wait in vain.
        m_problem =
            QStringLiteral("无法在 %1 上监听：%2").arg(serverPath(), m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return true;
}

void SingleInstance::serve(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (m_connections >= m_limits.connections) {
        socket->abort();
        return;
    }
    struct Request
    {
        QStringList texts;
        qint64 textBytes = 0;
        qint64 held = 0;
    };
    auto request = std::make_shared<Request>();
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this, request] {
        --m_connections;
        m_heldBytes -= request->held;
    });
    // Never more in the socket's buffer than all connections together may hold.
    socket->setReadBufferSize(m_limits.heldBytes);
    QTimer::singleShot(m_limits.connectionTimeLimit, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, request] {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine().trimmed();
            request->textBytes += line.size();
            if (line == activateLine) {
                emit activationRequested();
                socket->disconnectFromServer();
                return;
            }
            if (line.startsWith(addPrefix)) {
                request->texts.append(
                    QString::fromUtf8(QByteArray::fromBase64(line.mid(addPrefix.size()))));
            } else if (line == endLine) {
                const CaptureAnswer answer =
                    m_captureHandler ? m_captureHandler(request->texts) : CaptureAnswer();
                socket->write(answer.unsavedReason.isEmpty()
                                  ? addedPrefix + QByteArray::number(answer.added) + '\n'
                                  : unsavedPrefix + QByteArray::number(answer.added) + ' ' +
                                        answer.unsavedReason.toUtf8().toBase64() + '\n');
                socket->disconnectFromServer();
                return;
            }
        }
        const qint64 held = request->textBytes + socket->bytesAvailable();
        m_heldBytes += held - request->held;
        request->held = held;
        if (m_heldBytes >= m_limits.heldBytes)
            socket->abort();
    });
}

bool SingleInstance::askPrimaryToActivate() const
{
    if (runtimeFolder().isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(serverPath());
    if (!socket.waitForConnected(250))
        return false;
    socket.write(activateLine + '\n');
    const bool written = socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return written;
}

std::optional<SingleInstance::CaptureAnswer>
SingleInstance::submitToPrimary(const QStringList &texts, std::chrono::milliseconds timeout) const
{
    if (runtimeFolder().isEmpty())
        return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(serverPath());
    if (!socket.waitForConnected(250))
        return std::nullopt;
    QByteArray request;
    for (const QString &text : texts)
        request += addPrefix + text.toUtf8().toBase64() + '\n';
    request += endLine + '\n';
    socket.write(request);
    const QDeadlineTimer deadline(timeout);
    QByteArray answer;
    while (!answer.endsWith('\n') && !deadline.hasExpired() &&
           socket.state() == QLocalSocket::ConnectedState) {
        if (socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            answer += socket.readAll();
    }
    answer += socket.readAll();
    if (answer.startsWith(unsavedPrefix)) {
        const QList<QByteArray> parts = answer.mid(unsavedPrefix.size()).trimmed().split(' ');
        return CaptureAnswer{parts.value(0).toLongLong(),
                             QString::fromUtf8(QByteArray::fromBase64(parts.value(1)))};
    }
    if (!answer.startsWith(addedPrefix))
        return CaptureAnswer();
    return CaptureAnswer{answer.mid(addedPrefix.size()).trimmed().toLongLong(), {}};
}
