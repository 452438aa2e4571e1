#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLockFile;

/// Makes sure only one Lumaret writes a given board: the first launch holds a lock and listens;
/// a later launch with the same key asks it to come forward and then steps aside.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role { primary, secondary };

    /// \a key names the instance; keyFor() derives it from the user and the data folder.
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// Becomes the primary instance, or, when another holds the key, asks it to come forward
    /// (trying for up to \a timeout while it is still starting) and reports secondary. A
    /// secondary instance must exit without touching the board.
    Role claim(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

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
    void listen();
    bool askPrimaryToActivate(std::chrono::milliseconds timeout) const;

    QString m_key;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
