#include "WebDavServer.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QString findProgram(const QString &name)
{
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/usr/local/bin"});
}

// Debian's layout; the test machines run Debian.
const QString apacheModules = "/usr/lib/apache2/modules";

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

} // namespace

WebDavServer::WebDavServer(Kind kind) : m_kind(kind)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Apache stops its workers by signalling its whole process group; in a session of its own
    // that group is not the test's. A test that crashes takes the server down with it.
    m_process.setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
}

WebDavServer::~WebDavServer()
{
    stop();
}

QString WebDavServer::collectionPath() const
{
    return m_root.filePath("htdocs/dav");
}

QUrl WebDavServer::collectionUrl() const
{
    return QUrl(QString("http://127.0.0.1:%1/dav/").arg(m_port));
}

bool WebDavServer::writeConfiguration(QString *error)
{
    const QDir root(m_root.path());
    for (const char *folder : {"run", "logs", "lock", "htdocs/dav"}) {
        if (!root.mkpath(folder)) {
            *error = QString("cannot create ") + folder;
            return false;
        }
    }
    const bool isRoot = ::geteuid() == 0;
    if (isRoot && m_kind == Kind::apache) {
        // Apache's workers drop to "nobody", who must reach the data and the lock database.
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        const auto shared = open | QFile::WriteGroup | QFile::WriteOther;
        QFile::setPermissions(m_root.path(), open);
        QFile::setPermissions(root.filePath("htdocs"), open);
        QFile::setPermissions(root.filePath("htdocs/dav"), shared);
        QFile::setPermissions(root.filePath("lock"), shared);
    }

    const QByteArray passwordHash =
        QCryptographicHash::hash(password().toUtf8(), QCryptographicHash::Sha1).toBase64();
    const QByteArray users =
        m_kind == Kind::apache  ? user().toUtf8() + ":{SHA}" + passwordHash + '\n'
        : m_kind == Kind::nginx ? user().toUtf8() + ":{PLAIN}" + password().toUtf8() + '\n'
                                : user().toUtf8() + ':' + password().toUtf8() + '\n';
    QString configuration;
    if (m_kind == Kind::apache) {
        configuration = QString(R"(ServerRoot "%1"
DefaultRuntimeDir "%1/run"
PidFile "%1/run/httpd.pid"
Listen 127.0.0.1:%2
ServerName 127.0.0.1
LoadModule mpm_prefork_module %3/mod_mpm_prefork.so
LoadModule authn_core_module %3/mod_authn_core.so
LoadModule authn_file_module %3/mod_authn_file.so
LoadModule auth_basic_module %3/mod_auth_basic.so
LoadModule authz_core_module %3/mod_authz_core.so
LoadModule authz_user_module %3/mod_authz_user.so
LoadModule alias_module %3/mod_alias.so
LoadModule dav_module %3/mod_dav.so
LoadModule dav_fs_module %3/mod_dav_fs.so
StartServers 2
MinSpareServers 1
MaxSpareServers 4
ErrorLog "%1/logs/error.log"
LogLevel warn
DocumentRoot "%1/htdocs"
DAVLockDB "%1/lock/DAVLock"
FileETag Digest
<Directory "%1/htdocs">
    Require all denied
</Directory>
Alias /dav "%1/htdocs/dav"
<Directory "%1/htdocs/dav">
    Dav On
    AuthType Basic
    AuthName "Lumaret tests"
    AuthBasicProvider file
    AuthUserFile "%1/users"
    Require valid-user
</Directory>
)")
                            .arg(m_root.path())
                            .arg(m_port)
                            .arg(apacheModules);
        if (isRoot)
            configuration += "User nobody\nGroup nogroup\n";
    } else if (m_kind == Kind::nginx) {
        configuration = QString(R"(%3 daemon off; pid "%1/run/nginx.pid";
load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so; events {}
http { access_log off; client_body_temp_path "%1/run"; types { application/json json; }
  dav_ext_lock_zone zone=lumaret:1m;
  server { listen 127.0.0.1:%2; root "%1/htdocs"; client_max_body_size 0;
    location /dav/ { auth_basic "Lumaret tests"; auth_basic_user_file "%1/users";
      dav_methods PUT DELETE MKCOL COPY MOVE; dav_ext_methods PROPFIND OPTIONS LOCK UNLOCK;
      dav_ext_lock zone=lumaret; } } }
)")
                            .arg(m_root.path())
                            .arg(m_port)
                            .arg(isRoot ? "user root root;" : "");
    } else if (m_kind == Kind::sabreDav) {
        // FSExt's files carry an MD5 ETag; FS's plain ones carry none.
        configuration = QString(R"(<?php
require_once 'Sabre/autoload.php';
class TestUser extends \Sabre\DAV\Auth\Backend\AbstractBasic {
    protected function validateUserPass($u, $p) { return $u === '%2' && $p === '%3'; } }
$server = new \Sabre\DAV\Server(new \Sabre\DAV\FSExt\Directory('%1/htdocs/dav'));
$server->setBaseUri('/dav/');
$server->addPlugin(new \Sabre\DAV\Locks\Plugin(new \Sabre\DAV\Locks\Backend\File('%1/lock/locks')));
$server->addPlugin(new \Sabre\DAV\Auth\Plugin(new TestUser(), 'Lumaret tests'));
$server->exec();
)")
                            .arg(m_root.path(), user(), password());
    } else if (m_kind != Kind::rclone) {
        configuration =
            QString(R"conf(server.modules = ("mod_webdav", "mod_auth", "mod_authn_file")
server.document-root = "%1/htdocs"
server.bind = "127.0.0.1"
server.port = %2
server.errorlog = "%1/logs/error.log"
%3
auth.backend = "plain"
auth.backend.plain.userfile = "%1/users"
$HTTP["url"] =~ "^/dav($|/)" {
    webdav.activate = "enable"
    webdav.is-readonly = "disable"
    auth.require = ("" => ("method" => "basic", "realm" => "Lumaret tests",
                           "require" => "valid-user"))
}
)conf")
                .arg(m_root.path())
                .arg(m_port)
                .arg(m_kind == Kind::lighttpd
                         ? QString(R"(mimetype.assign = (".json" => "application/json"))")
                         : QString());
    }
    if (!writeFile(root.filePath("users"), users) ||
        !writeFile(root.filePath("server.conf"), configuration.toUtf8())) {
        *error = "cannot write the configuration";
        return false;
    }
    return true;
}

QStringList WebDavServer::command() const
{
    const QString conf = m_root.filePath("server.conf");
    switch (m_kind) {
    case Kind::apache:
        return {findProgram("apache2"), "-f", conf, "-DFOREGROUND"};
    case Kind::lighttpd:
    case Kind::lighttpdWithoutJsonType:
        return {findProgram("lighttpd"), "-D", "-f", conf};
    case Kind::nginx:
        return {findProgram("nginx"),
                "-p",
                m_root.path(),
                "-e",
                m_root.filePath("logs/error.log"),
                "-c",
                conf};
    case Kind::sabreDav:
        return {findProgram("php"), "-S", QString("127.0.0.1:%1").arg(m_port), conf};
    case Kind::rclone:
        return QStringList{findProgram("rclone"), "serve", "webdav", m_root.filePath("htdocs")} +
               QStringList{"--addr", QString("127.0.0.1:%1").arg(m_port), "--user", user()} +
               QStringList{"--pass", password(), "--config", m_root.filePath("rclone.conf")};
    }
    return {};
}

bool WebDavServer::start(QString *error)
{
    if (command().constFirst().isEmpty() ||
        (m_kind == Kind::apache && !QFile::exists(apacheModules + "/mod_dav_fs.so")) ||
        (m_kind == Kind::nginx &&
         !QFile::exists("/usr/lib/nginx/modules/ngx_http_dav_ext_module.so")) ||
        (m_kind == Kind::sabreDav && !QFile::exists("/usr/share/php/Sabre/autoload.php"))) {
        *error = "the WebDAV server program is not installed";
        return false;
    }
    if (!m_root.isValid()) {
        *error = "no temporary folder";
        return false;
    }
    // Another process may take the probed port before the server binds it; a few tries make
    // that rare race harmless.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freeLoopbackPort();
        if (m_port == 0 || !writeConfiguration(error))
            continue;
        const QStringList program = command();
        m_process.start(program.constFirst(), program.mid(1));
        if (!m_process.waitForStarted(5000)) {
            *error = m_process.errorString();
            continue;
        }
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(200))
                return true;
            QThread::msleep(50);
        }
        m_process.waitForFinished(1000);
        *error = QString::fromLocal8Bit(m_process.readAll()) + readLog();
        stop();
    }
    return false;
}

void WebDavServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString WebDavServer::readLog() const
{
    QFile log(m_root.filePath("logs/error.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(log.readAll());
}
