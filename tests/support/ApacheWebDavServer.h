#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

/// A real Apache httpd serving WebDAV (mod_dav_fs, Basic authentication, strong digest ETags) on a
/// free loopback port, with its whole configuration and data in a temporary folder. It runs as
/// long as the object lives. Works for a normal user and for root, whose worker processes Apache
/// hands to "nobody".
class ApacheWebDavServer
{
public:
    ApacheWebDavServer();
    ~ApacheWebDavServer();

    /// Starts the server and waits until it accepts connections; on failure \a error says why
    /// (including Apache's own log).
    bool start(QString *error);
    void stop();

    /// The authenticated WebDAV collection, e.g. http://127.0.0.1:PORT/dav/.
    QUrl collectionUrl() const;
    /// A collection every request to which is refused with 403.
    QUrl forbiddenUrl() const;
    QString user() const { return QStringLiteral("lumaret"); }
    QString password() const { return QStringLiteral("correct horse 电池"); }

    /// Where collectionUrl() lives on disk, for reading and planting files behind the server.
    QString collectionPath() const;

private:
    bool writeConfiguration(const QString &modules, QString *error);
    QString readErrorLog() const;

    QTemporaryDir m_root;
    QProcess m_process;
    quint16 m_port = 0;
};
