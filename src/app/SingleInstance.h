#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QLockFile;

/// Makes sure only one Lumaret writes a given board: the first launch holds a lock and listens;
/// a later launch with the same key asks it to come forward and then steps aside.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    /// unavailable: this launch can neither serve nor reach an instance; problem() says why.
    enum class Role { primary, secondary, unavailable };
    /// What the socket holds at most before it drops a connection: a "lumaret add" sends its
    /// whole request at once, so anything slow or large is a stray or a runaway.
    struct Limits
    {
        int connections = 8;
        qint64 heldBytes = 8 * 1024 * 1024;
        std::chrono::milliseconds connectionTimeLimit{10000};
    };
    /// What the primary instance did with thoughts sent by "lumaret add".
    struct CaptureAnswer
    {
        qsizetype added = 0;
        /// Why the board holding them could not be saved; empty when it was.
        QString unsavedReason;
    };
    /// Adds thoughts sent by "lumaret add" and says how many it took.
    using CaptureHandler = std::function<CaptureAnswer(const QStringList &texts)>;

    /// \a key names the instance; keyFor() derives it from the user and the data folder.
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    SingleInstance(const QString &key, Limits limits, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// Becomes the primary instance, or, when another holds the key, asks it to come forward
    /// and reports secondary. For up to \a timeout it keeps trying both, because the holder may
    /// still be starting, or be a quick capture about to release the lock. A secondary instance
    /// must exit without touching the board, and so must an unavailable one, after telling the
    /// person problem().
    Role claim(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

    /// Takes the lock for a short job that serves no other launch, such as adding a thought to the
    /// board file of a closed Lumaret. False while another process holds it.
    bool tryLockWithoutServing();

    /// Hands \a texts to the primary instance and returns its answer (0 added when it refused or
    /// did not answer in time), or nothing when no primary could be reached. Only "nothing" lets a
    /// caller write the board itself without risking the thoughts twice.
    std::optional<CaptureAnswer> submitToPrimary(const QStringList &texts,
                                                 std::chrono::milliseconds timeout) const;

    /// Lets the primary instance take thoughts from "lumaret add"; without a handler it refuses
    /// them.
    void setCaptureHandler(CaptureHandler handler) { m_captureHandler = std::move(handler); }

    /// Why the last claim() found the instance unavailable, in a sentence.
    QString problem() const { return m_problem; }

    /// The folder of the lock and the socket: XDG_RUNTIME_DIR, or a private folder in the user's
    /// cache when the session has none. Empty, with \a problem set, unless the folder is a real
    /// folder owned by this user that no one else may enter: a shared folder would let another
    /// user hold the lock or receive what "lumaret add" sends.
    static QString runtimeFolder(QString *problem = nullptr);

    /// One key per user and per data folder, so that separate boards run side by side.
    static QString keyFor(const QString &user, const QString &dataFolder);
    /// The key of the current user and the live board's folder.
    static QString currentKey();

signals:
    /// Another launch asked this instance to come forward.
    void activationRequested();

private:
    QString lockPath() const;
    QString serverPath() const;
    bool tryLock();
    bool listen();
    void serve(QLocalSocket *socket);
    bool askPrimaryToActivate() const;

    QString m_key;
    Limits m_limits;
    QString m_problem;
    int m_connections = 0;
    qint64 m_heldBytes = 0;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    CaptureHandler m_captureHandler;
};
