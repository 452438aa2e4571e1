#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

/// A real WebDAV server on a free loopback port, with its whole configuration and data in a
/// temporary folder, Basic authentication, running as long as the object lives. Works for a
/// normal user and for root.
class WebDavServer
{
public:
    enum class Kind {
        /// Apache httpd with mod_dav_fs and strong digest ETags.
        apache,
        /// lighttpd with mod_webdav, configured with a MIME type for .json files.
        lighttpd,
        /// lighttpd with mod_webdav and no MIME type for .json: it sends no ETag for the record.
        lighttpdWithoutJsonType,
        /// rclone serve webdav, which ignores If-Match and If-None-Match.
        rclone,
        /// nginx with its dav module and dav-ext (PROPFIND, LOCK), which ignores If-Match on PUT.
        nginx,
        /// SabreDAV 1.8, the framework of PHP WebDAV servers, on PHP's built-in web server.
        sabreDav,
    };

    explicit WebDavServer(Kind kind = Kind::apache);
    ~WebDavServer();

    /// Starts the server and waits until it accepts connections; on failure \a error says why
    /// (including the server's own log).
    bool start(QString *error);
    void stop();

    /// The authenticated WebDAV collection, e.g. http://127.0.0.1:PORT/dav/.
    QUrl collectionUrl() const;
    QString user() const { return "lumaret"; }
    QString password() const { return "correct horse 电池"; }

    /// Where collectionUrl() lives on disk, for reading and planting files behind the server.
    QString collectionPath() const;

private:
    bool writeConfiguration(QString *error);
    QStringList command() const;
    QString readLog() const;

    Kind m_kind;
    QTemporaryDir m_root;
    QProcess m_process;
    quint16 m_port = 0;
};
