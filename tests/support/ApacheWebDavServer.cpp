#include "ApacheWebDavServer.h"

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

QString findApache()
{
    for (const QString &name : {QStringLiteral("apache2"), QStringLiteral("httpd")}) {
        const QString path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                   QStringLiteral("/usr/bin")});
        if (!path.isEmpty())
            return path;
    }
    return {};
}

QString findModules()
{
    for (const QString &folder :
         {QStringLiteral("/usr/lib/apache2/modules"), QStringLiteral("/usr/lib64/httpd/modules"),
          QStringLiteral("/usr/lib/httpd/modules"), QStringLiteral("/usr/libexec/apache2")}) {
        if (QFile::exists(folder + QStringLiteral("/mod_dav_fs.so")))
            return folder;
    }
    return {};
}

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

ApacheWebDavServer::ApacheWebDavServer()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // Apache stops its workers by signalling its whole process group; in a session of its own
    // that group is not the test's. A test that crashes takes the server down with it.
    m_process.setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
}

ApacheWebDavServer::~ApacheWebDavServer()
{
    stop();
}

QString ApacheWebDavServer::collectionPath() const
{
    return m_root.filePath(QStringLiteral("htdocs/dav"));
}

QUrl ApacheWebDavServer::collectionUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/dav/").arg(m_port));
}

QUrl ApacheWebDavServer::forbiddenUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/forbidden/").arg(m_port));
}

bool ApacheWebDavServer::writeConfiguration(const QString &modules, QString *error)
{
    const QDir root(m_root.path());
    for (const QString &folder :
         {QStringLiteral("run"), QStringLiteral("logs"), QStringLiteral("lock"),
          QStringLiteral("htdocs/dav"), QStringLiteral("htdocs/forbidden")}) {
        if (!root.mkpath(folder)) {
            *error = QStringLiteral("cannot create %1").arg(folder);
            return false;
        }
    }
    const bool isRoot = ::geteuid() == 0;
    if (isRoot) {
        // Apache's workers drop to "nobody", who must reach the data and the lock database.
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        const auto shared = open | QFile::WriteGroup | QFile::WriteOther;
        QFile::setPermissions(m_root.path(), open);
        QFile::setPermissions(root.filePath(QStringLiteral("htdocs")), open);
        QFile::setPermissions(root.filePath(QStringLiteral("htdocs/dav")), shared);
        QFile::setPermissions(root.filePath(QStringLiteral("lock")), shared);
    }

    const QByteArray passwordHash =
        QCryptographicHash::hash(password().toUtf8(), QCryptographicHash::Sha1).toBase64();
    if (!writeFile(root.filePath(QStringLiteral("htpasswd")),
                   user().toUtf8() + ":{SHA}" + passwordHash + '\n')) {
        *error = QStringLiteral("cannot write htpasswd");
        return false;
    }

    QString configuration = QStringLiteral(R"(ServerRoot "%1"
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
    AuthUserFile "%1/htpasswd"
    Require valid-user
</Directory>
Alias /forbidden "%1/htdocs/forbidden"
<Directory "%1/htdocs/forbidden">
    Dav On
    Require all denied
</Directory>
)")
                                .arg(m_root.path())
                                .arg(m_port)
                                .arg(modules);
    if (isRoot)
        configuration += QStringLiteral("User nobody\nGroup nogroup\n");
    if (!writeFile(root.filePath(QStringLiteral("httpd.conf")), configuration.toUtf8())) {
        *error = QStringLiteral("cannot write httpd.conf");
        return false;
    }
    return true;
}

bool ApacheWebDavServer::start(QString *error)
{
    const QString apache = findApache();
    const QString modules = findModules();
    if (apache.isEmpty() || modules.isEmpty()) {
        *error = QStringLiteral("Apache httpd with mod_dav_fs is not installed");
        return false;
    }
    if (!m_root.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    // Another process may take the probed port before Apache binds it; a few tries make that rare
    // race harmless.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freeLoopbackPort();
        if (m_port == 0 || !writeConfiguration(modules, error))
            continue;
        m_process.start(apache,
                        {QStringLiteral("-f"), m_root.filePath(QStringLiteral("httpd.conf")),
                         QStringLiteral("-DFOREGROUND")});
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
        *error = QString::fromLocal8Bit(m_process.readAll()) + readErrorLog();
        stop();
    }
    return false;
}

void ApacheWebDavServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString ApacheWebDavServer::readErrorLog() const
{
    QFile log(m_root.filePath(QStringLiteral("logs/error.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(log.readAll());
}
