#include "SingleInstance.h"

#include "stores/BoardPersistence.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

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
// Only the same user can connect, but a runaway writer must still not fill the memory.
constexpr qint64 requestSizeLimit = 8 * 1024 * 1024;

QString runtimeFolder()
{
    // The runtime folder is private to the user; the temporary folder is shared, which the key's
    // user part and the socket's access option make safe enough.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent) : QObject(parent), m_key(key) {}

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
    const QDeadlineTimer deadline(timeout);
    do {
        if (tryLock()) {
            listen();
            return Role::primary;
        }
        if (askPrimaryToActivate())
            return Role::secondary;
        // The holder may still be starting, or be a quick capture about to release the lock.
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    // Even when the running instance cannot be reached, this launch must not become a second
    // writer of the board.
    return Role::secondary;
}

bool SingleInstance::tryLockWithoutServing()
{
    return tryLock();
}

void SingleInstance::listen()
{
    // Holding the lock means any socket file left behind belongs to a dead instance.
    QLocalServer::removeServer(serverPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(serverPath());
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

void SingleInstance::serve(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    struct Request
    {
        QStringList texts;
        qint64 size = 0;
    };
    auto request = std::make_shared<Request>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, request] {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine().trimmed();
            request->size += line.size();
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
        if (request->size + socket->bytesAvailable() > requestSizeLimit)
            socket->abort();
    });
}

bool SingleInstance::askPrimaryToActivate() const
{
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
