#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void secondClaimHandsOverToTheFirst();
    void keysSeparateUsersAndDataFolders();
    void lockOfAVanishedInstanceIsTakenOver();
    void secondLaunchExitsWithoutWritingTheBoard();

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
};

void SingleInstanceTest::init()
{
    // Locks and sockets go to a runtime folder of the test's own.
    m_runtime = std::make_unique<QTemporaryDir>();
    QFile::setPermissions(m_runtime->path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", m_runtime->path().toUtf8());
}

void SingleInstanceTest::secondClaimHandsOverToTheFirst()
{
    const QString key =
        SingleInstance::keyFor(QStringLiteral("1000"), m_runtime->filePath(QStringLiteral("data")));
    SingleInstance first(key);
    QCOMPARE(first.claim(), SingleInstance::Role::primary);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    SingleInstance second(key);
    QCOMPARE(second.claim(std::chrono::milliseconds(2000)), SingleInstance::Role::secondary);
    QTRY_COMPARE(raised.size(), 1);

    SingleInstance third(key);
    QCOMPARE(third.claim(std::chrono::milliseconds(2000)), SingleInstance::Role::secondary);
    QTRY_COMPARE(raised.size(), 2);
}

void SingleInstanceTest::keysSeparateUsersAndDataFolders()
{
    const QString key =
        SingleInstance::keyFor(QStringLiteral("1000"), QStringLiteral("/home/a/.local/share"));
    QCOMPARE(
        SingleInstance::keyFor(QStringLiteral("1000"), QStringLiteral("/home/a/.local/share/")),
        key);
    QVERIFY(SingleInstance::keyFor(QStringLiteral("1001"),
                                   QStringLiteral("/home/a/.local/share")) != key);
    QVERIFY(SingleInstance::keyFor(QStringLiteral("1000"), QStringLiteral("/tmp/other")) != key);

    SingleInstance first(key);
    SingleInstance other(
        SingleInstance::keyFor(QStringLiteral("1000"), QStringLiteral("/tmp/other")));
    QCOMPARE(first.claim(), SingleInstance::Role::primary);
    QCOMPARE(other.claim(), SingleInstance::Role::primary);
}

void SingleInstanceTest::lockOfAVanishedInstanceIsTakenOver()
{
    const QString key = SingleInstance::keyFor(QStringLiteral("1000"), QStringLiteral("/crashed"));
    // A lock file naming a process that no longer exists, as a crash leaves it.
    QProcess finished;
    finished.start(QStringLiteral("true"));
    QVERIFY(finished.waitForStarted());
    const qint64 vanished = finished.processId();
    QVERIFY(finished.waitForFinished());
    QFile lock(m_runtime->filePath(key + QStringLiteral(".lock")));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(vanished) + "\nlumaret\n" + QSysInfo::machineHostName().toUtf8() +
               "\n");
    lock.close();

    SingleInstance instance(key);
    QCOMPARE(instance.claim(std::chrono::milliseconds(500)), SingleInstance::Role::primary);
}

void SingleInstanceTest::secondLaunchExitsWithoutWritingTheBoard()
{
    const QString binary =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../lumaret"));
    if (!QFile::exists(binary))
        QSKIP("the lumaret executable is not built next to the tests");
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(binary);
    QVERIFY(first.waitForStarted());
    // The first instance is up once its socket exists.
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(m_runtime->path())
                                  .entryList({QStringLiteral("lumaret-*.socket")}, QDir::System)
                                  .isEmpty(),
                             10000);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(binary);
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    // Neither instance changed anything, so no board file was written.
    QVERIFY(!QFile::exists(home.filePath(QStringLiteral("data/Lumaret/board.json"))));

    first.terminate();
    QVERIFY(first.waitForFinished(5000));
}

QTEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
