#include "WebDavServer.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct CommandRun
{
    int exitCode = -1;
    QString output;
    QString errors;
};

} // namespace

Q_DECLARE_METATYPE(WebDavServer *)

/// The "lumaret cloud" verbs, run as the real executable in a home of its own.
class CloudCommandTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void connectChecksTheAddressPasswordAndConditionalWrites_data();
    void connectChecksTheAddressPasswordAndConditionalWrites();
    void statusChecksTheAccountFromTheEnvironment_data();
    void statusChecksTheAccountFromTheEnvironment();

private:
    CommandRun run(const QStringList &arguments, const QByteArray &input = {},
                   const QProcessEnvironment &extra = {});
    bool anyFileContains(const QByteArray &needle) const;

    WebDavServer m_server;
    WebDavServer m_lighttpd{WebDavServer::Kind::lighttpd};
    WebDavServer m_lighttpdWithoutJsonType{WebDavServer::Kind::lighttpdWithoutJsonType};
    WebDavServer m_rclone{WebDavServer::Kind::rclone};
    std::unique_ptr<QTemporaryDir> m_home;
    QString m_executable;
};

void CloudCommandTest::initTestCase()
{
    m_executable = QCoreApplication::applicationDirPath() + QStringLiteral("/../lumaret");
    QVERIFY2(QFile::exists(m_executable), "build the lumaret executable first");
    QString error;
    for (WebDavServer *server : {&m_server, &m_lighttpd, &m_lighttpdWithoutJsonType, &m_rclone})
        QVERIFY2(server->start(&error), qPrintable(error));
}

void CloudCommandTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

CommandRun CloudCommandTest::run(const QStringList &arguments, const QByteArray &input,
                                 const QProcessEnvironment &extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LUMARET_CLOUD_URL", "LUMARET_CLOUD_USER", "LUMARET_CLOUD_PASSWORD",
                             "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), m_home->path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       m_home->filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    environment.insert(extra);

    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(m_executable, QStringList{QStringLiteral("cloud")} + arguments);
    process.write(input);
    process.closeWriteChannel();
    CommandRun result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAllStandardOutput());
    result.errors = QString::fromUtf8(process.readAllStandardError());
    return result;
}

bool CloudCommandTest::anyFileContains(const QByteArray &needle) const
{
    QDirIterator files(m_home->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle))
            return true;
    }
    return false;
}

void CloudCommandTest::connectChecksTheAddressPasswordAndConditionalWrites_data()
{
    QTest::addColumn<WebDavServer *>("server");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("refusal");

    const QByteArray right = m_server.password().toUtf8() + '\n';
    QTest::newRow("plain http to another host")
        << &m_server << QString("http://cloud.example.com/dav/") << right << 2
        << QString("https://");
    QTest::newRow("password refused")
        << &m_server << QString() << QByteArray("wrong\n") << 1 << QString("用户名或密码");
    QTest::newRow("no password") << &m_server << QString() << QByteArray() << 1
                                 << QString("没有读到密码");
    // Without a keyring, as on a build machine, a server that passed every check still ends in
    // the keyring's refusal: the account is then never written in clear.
    QTest::newRow("Apache mod_dav works")
        << &m_server << QString() << right << 1 << QString("钥匙串");
    QTest::newRow("lighttpd works") << &m_lighttpd << QString() << right << 1 << QString("钥匙串");
    QTest::newRow("lighttpd without a type for .json sends no ETag")
        << &m_lighttpdWithoutJsonType << QString() << right << 1 << QString("mimetype.assign");
    QTest::newRow("rclone ignores If-Match")
        << &m_rclone << QString() << right << 1 << QString("If-Match");
}

void CloudCommandTest::connectChecksTheAddressPasswordAndConditionalWrites()
{
    QFETCH(WebDavServer *, server);
    QFETCH(QString, address);
    QFETCH(QByteArray, password);
    QFETCH(int, exitCode);
    QFETCH(QString, refusal);

    const CommandRun result =
        run({"connect", address.isEmpty() ? server->collectionUrl().toString() : address, "--user",
             server->user()},
            password);
    QVERIFY(!anyFileContains(m_server.password().toUtf8()));
    QVERIFY(!anyFileContains(m_server.password().toUtf8().toBase64()));
    if (result.exitCode == 0 && refusal == "钥匙串") {
        // A desktop with a keyring stored the account; disconnecting forgets it again.
        QVERIFY(run({"status"}).output.contains(server->collectionUrl().toString()));
        QCOMPARE(run({"disconnect"}).exitCode, 0);
    } else {
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(result.errors.contains(refusal), qPrintable(result.errors));
    }
    QVERIFY(run({"status"}).output.contains("未连接"));
    // The check's scratch resource never stays behind.
    QDirIterator left(server->collectionPath(), {".lumaret-check-*"}, QDir::Files | QDir::Hidden,
                      QDirIterator::Subdirectories);
    QVERIFY(!left.hasNext());
}

void CloudCommandTest::statusChecksTheAccountFromTheEnvironment_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("answer");

    QTest::newRow("server answers") << m_server.password() << 0 << QString("服务器：可用");
    QTest::newRow("password refused") << QString("wrong") << 1 << QString("用户名或密码");
    QTest::newRow("no password") << QString() << 1 << QString("LUMARET_CLOUD_PASSWORD");
}

void CloudCommandTest::statusChecksTheAccountFromTheEnvironment()
{
    QFETCH(QString, password);
    QFETCH(int, exitCode);
    QFETCH(QString, answer);

    QProcessEnvironment account;
    account.insert("LUMARET_CLOUD_URL", m_server.collectionUrl().toString());
    account.insert("LUMARET_CLOUD_USER", m_server.user());
    account.insert("LUMARET_CLOUD_PASSWORD", password);
    const CommandRun result = run({"status"}, {}, account);

    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.output.contains(answer), qPrintable(result.output));
    QVERIFY(result.output.contains("环境变量"));
}

QTEST_GUILESS_MAIN(CloudCommandTest)
#include "tst_cloudcommand.moc"
