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

const QByteArray activateMessage = QByteArrayLiteral("activate\n");

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

SingleInstance::Role SingleInstance::claim(std::chrono::milliseconds timeout)
{
    m_lock = std::make_unique<QLockFile>(lockPath());
    // A lock left by a process that no longer runs is taken over at once.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        listen();
        return Role::primary;
    }
    m_lock.reset();
    askPrimaryToActivate(timeout);
    // Even when the running instance cannot be reached, this launch must not become a second
    // writer of the board.
    return Role::secondary;
}

void SingleInstance::listen()
{
    // Holding the lock means any socket file left behind belongs to a dead instance.
    QLocalServer::removeServer(serverPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(serverPath());
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(activateMessage.trimmed()))
                    emit activationRequested();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool SingleInstance::askPrimaryToActivate(std::chrono::milliseconds timeout) const
{
    const QDeadlineTimer deadline(timeout);
    do {
        QLocalSocket socket;
        socket.connectToServer(serverPath());
        if (socket.waitForConnected(250)) {
            socket.write(activateMessage);
            const bool written = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (written)
                return true;
        }
        // The running instance may hold the lock but not listen yet.
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}
