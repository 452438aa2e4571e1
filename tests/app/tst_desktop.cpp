#include "BoardFixtures.h"
#include "DesktopIntegration.h"
#include "OidcProviderFixture.h"
#include "QuickCapture.h"
#include "SingleInstance.h"
#include "stores/BoardSnapshots.h"
#include "stores/BoardStore.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDirIterator>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

// The settings portal; it answers from a thread of its own, as Lumaret asks with a blocking call.
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    std::atomic<uint> scheme = 0;

public slots:
    QDBusVariant Read(const QString &, const QString &)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(uint(scheme))));
    }
};

// The Lumaret holding the board: none, one that adds what it is sent, one that listens without
// adding, one that holds the lock without listening.
// Not running, and its board file cannot be written: a folder stands where the file would be.
enum class Lumaret { closed, running, deaf, silent, closedUnwritable, runningUnwritable };

/// A home of the test's own for this process and the Lumarets it starts: data, settings, and a
/// private runtime folder for locks and sockets.
static std::unique_ptr<QTemporaryDir> privateHome()
{
    auto home = std::make_unique<QTemporaryDir>();
    QDir(home->path()).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char *folder : {"DATA", "CONFIG"})
        qputenv(QByteArray("XDG_") + folder + "_HOME", home->filePath(folder).toUtf8());
    qputenv("XDG_RUNTIME_DIR", home->filePath("run").toUtf8());
    return home;
}

/// What under \a folder, itself included, others may read or enter; the board file aside.
static QStringList readableByOthers(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    for (QString file = folder; !file.isEmpty(); file = it.hasNext() ? it.next() : QString()) {
        if (QFileInfo(file).permissions() & 0x0077 && !file.endsWith("/board.json"))
            found.append(file);
    }
    return found;
}

static std::pair<int, QByteArray> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    return {process.exitCode(), process.readAllStandardOutput() + process.readAllStandardError()};
}

class DesktopTest : public QObject
{
    Q_OBJECT

    OidcProviderFixture m_provider;
    QString m_lumaret = QCoreApplication::applicationDirPath() + "/../lumaret";

private slots:
    void initTestCase()
    {
        if (!QFile::exists(m_lumaret))
            QSKIP("the lumaret executable is not built next to the tests");
    }

    void packageInstallsAValidLauncher()
    {
        const QTemporaryDir package;
        const QString config = QCoreApplication::applicationDirPath() + "/../CPackConfig.cmake";
        const auto [code, output] =
            run("cpack", {"-G", "DEB", "--config", config, "-B", package.path()});
        QVERIFY2(code == 0, output.constData());
        const QString deb = package.filePath(QDir(package.path()).entryList({"*.deb"})[0]);
        const QString share = package.filePath("root/usr/share/"),
                      id = DesktopIntegration::applicationId();
        run("dpkg-deb", {"-x", deb, package.filePath("root")});
        // From dpkg-shlibdeps, and the platform plugin that no linker line names.
        const QByteArray depends = run("dpkg-deb", {"-f", deb, "Depends"}).second;
        for (const char *name : {"libqt6widgets6", "libqt6keychain1", "qt6-qpa-plugins"})
            QVERIFY2(depends.contains(name), depends.constData());
        for (const QString &icon : {"scalable/apps/" + id + ".svg", "48x48/apps/" + id + ".png"})
            QVERIFY2(QFile::exists(share + "icons/hicolor/" + icon), qPrintable(icon));
        for (const auto &validation :
             {QStringList{"desktop-file-validate", share + "applications/" + id + ".desktop"},
              QStringList{"appstreamcli", "validate", "--no-net",
                          share + "metainfo/" + id + ".metainfo.xml"}}) {
            const auto [valid, said] = run(validation.first(), validation.mid(1));
            QVERIFY2(valid == 0, said.constData());
        }
    }

    void quickCaptureReachesTheOneWriter_data()
    {
        QTest::addColumn<Lumaret>("lumaret");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("closed, words") << Lumaret::closed << QStringList{"记一下", "吧"}
                                       << QByteArray() << 0 << QStringList{"记一下 吧"};
        QTest::newRow("closed, lines") << Lumaret::closed << QStringList{"-"}
                                       << QByteArray("a\n\n b \r\n") << 0 << QStringList{"b", "a"};
        QTest::newRow("closed, empty")
            << Lumaret::closed << QStringList{" "} << QByteArray() << 2 << QStringList();
        QTest::newRow("closed, unknown option")
            << Lumaret::closed << QStringList{"-x"} << QByteArray() << 2 << QStringList();
        QTest::newRow("closed, a tab inside")
            << Lumaret::closed << QStringList{"a\tb"} << QByteArray() << 0 << QStringList{"a b"};
        QTest::newRow("closed, a folder where the board file should be")
            << Lumaret::closedUnwritable << QStringList{"记一下"} << QByteArray() << 1
            << QStringList();
        QByteArray lines;
        QStringList newestFirst;
        for (int i = 0; i < 10000; ++i) {
            lines += QByteArray::number(i) + '\n';
            newestFirst.prepend(QString::number(i));
        }
        QTest::newRow("running, 10,000 lines")
            << Lumaret::running << QStringList{"-"} << lines << 0 << newestFirst;
        // The window keeps what it took: a retry would add it twice.
        QTest::newRow("running, the window cannot save")
            << Lumaret::runningUnwritable << QStringList{"记一下"} << QByteArray() << 1
            << QStringList{"记一下"};
        QTest::newRow("running, words") << Lumaret::running << QStringList{"记一下"} << QByteArray()
                                        << 0 << QStringList{"记一下"};
        QTest::newRow("running, lines") << Lumaret::running << QStringList{"-"}
                                        << QByteArray("x\ny") << 0 << QStringList{"y", "x"};
        // A Lumaret that does not confirm, or does not answer: the board must stay untouched.
        QTest::newRow("running, adds nothing")
            << Lumaret::deaf << QStringList{"记一下"} << QByteArray() << 1 << QStringList();
        QTest::newRow("silent holder")
            << Lumaret::silent << QStringList{"记一下"} << QByteArray() << 1 << QStringList();
    }

    void quickCaptureReachesTheOneWriter()
    {
        QFETCH(Lumaret, lumaret);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QStringList, added);
        const auto home = privateHome();
        const QString boardPath = BoardPersistence::liveStoragePath();
        if (lumaret == Lumaret::closedUnwritable) {
            QVERIFY(QDir().mkpath(boardPath));
            lumaret = Lumaret::closed;
        }
        const bool running = lumaret == Lumaret::running || lumaret == Lumaret::runningUnwritable;
        RecordingPersistence refusing{
            {}, {}, BoardFileProblem{BoardFileProblem::Kind::unwritable, boardPath, ENOSPC}};
        SingleInstance window(SingleInstance::currentKey());
        BoardStore store(lumaret == Lumaret::runningUnwritable ? refusing.persistence()
                                                               : BoardPersistence::file(boardPath));
        QSignalSpy changes(&store, &BoardStore::changed);
        // A board file that is not there yet gets only the new thoughts: samples are the window's.
        const qsizetype before = running ? store.thoughts().size() : 0;
        if (lumaret == Lumaret::silent)
            QVERIFY(window.tryLockWithoutServing());
        else if (lumaret != Lumaret::closed)
            QCOMPARE(window.claim(), SingleInstance::Role::primary);
        if (running)
            acceptQuickCaptures(window, store);

        QProcess add;
        add.start(m_lumaret, QStringList{"add"} + arguments);
        add.write(input);
        add.closeWriteChannel();
        // The running window answers from this test's event loop.
        QTRY_COMPARE_WITH_TIMEOUT(add.state(), QProcess::NotRunning, 15000);
        QCOMPARE(add.exitCode(), exitCode);
        QCOMPARE(add.readAllStandardError().isEmpty(), exitCode == 0);
        const Board after = running
                                ? store.thoughts()
                                : BoardPersistence::file(boardPath).load().board.value_or(Board());
        QCOMPARE(titles(after.mid(0, added.size())), added);
        QCOMPARE(after.size(), before + added.size());
        QCOMPARE(changes.size(), running && !added.isEmpty() ? 1 : 0); // One save, one undo step.
        if (!running && exitCode == 0) { // The board's folder is private, whoever made it.
            const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
            QCOMPARE(QFileInfo(QFileInfo(boardPath).absolutePath()).permissions() & others, 0);
        }
    }

    void appearanceFollowsThePortal_data()
    {
        QTest::addColumn<uint>("atLaunch");
        QTest::addColumn<QString>("changedKey");
        QTest::addColumn<uint>("changedTo");
        QTest::addColumn<bool>("darkAfter");
        QTest::addColumn<bool>("darkStyle");
        QTest::newRow("dark, then light") << 1u << "color-scheme" << 2u << false << false;
        QTest::newRow("light, then dark") << 2u << "color-scheme" << 1u << true << false;
        QTest::newRow("no preference, then dark") << 0u << "color-scheme" << 1u << true << false;
        QTest::newRow("other settings change nothing")
            << 1u << "accent-color" << 2u << true << false;
        QTest::newRow("dark style: light, then no preference")
            << 2u << "color-scheme" << 0u << true << true;
    }

    void appearanceFollowsThePortal()
    {
        QFETCH(uint, atLaunch);
        QFETCH(QString, changedKey);
        QFETCH(uint, changedTo);
        QFETCH(bool, darkAfter);
        QFETCH(bool, darkStyle);
        QProcess daemon;
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(daemon.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(daemon.readLine().trimmed());
        const QString tag = QString::fromUtf8(QTest::currentDataTag());
        QDBusConnection portalBus = QDBusConnection::connectToBus(address, "portal " + tag);
        QVERIFY(portalBus.registerService("org.freedesktop.portal.Desktop"));
        FakePortal portal;
        portal.scheme = atLaunch;
        QThread portalThread;
        portal.moveToThread(&portalThread);
        portalThread.start();
        const auto stop = qScopeGuard([&] {
            portalThread.quit();
            portalThread.wait();
            daemon.kill();
            daemon.waitForFinished();
        });
        portalBus.registerObject("/org/freedesktop/portal/desktop", &portal,
                                 QDBusConnection::ExportAllSlots);
        QPalette style = QApplication::style()->standardPalette();
        if (darkStyle) {
            style.setColor(QPalette::Window, Qt::black);
            style.setColor(QPalette::WindowText, Qt::white);
        }
        QApplication::setPalette(style);
        auto isDark = [] {
            const QPalette palette = QApplication::palette();
            return palette.color(QPalette::Window).lightness() <
                   palette.color(QPalette::WindowText).lightness();
        };
        DesktopIntegration desktop(QDBusConnection::connectToBus(address, "app " + tag));
        // 1 is the portal's "prefer dark", 2 "prefer light"; without a preference the style's
        // own appearance stays.
        QCOMPARE(isDark(), atLaunch == 1 || (atLaunch == 0 && darkStyle));
        QDBusMessage change = QDBusMessage::createSignal(
            "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
        change << "org.freedesktop.appearance" << changedKey
               << QVariant::fromValue(QDBusVariant(changedTo));
        QVERIFY(portalBus.send(change));
        QTRY_COMPARE(isDark(), darkAfter);
        // A change that does not concern the appearance must not flip it later either.
        QTest::qWait(100);
        QCOMPARE(isDark(), darkAfter);
    }

    void secondLaunchHandsOverWithoutWritingTheBoard()
    {
        const auto home = privateHome();
        const QString data = home->filePath("DATA");
        const QString key = SingleInstance::currentKey();
        QCOMPARE(SingleInstance::keyFor("1000", data + "/"), SingleInstance::keyFor("1000", data));
        QVERIFY(SingleInstance::keyFor("1001", data) != SingleInstance::keyFor("1000", data));
        // A lock naming a process that no longer exists, as a crash leaves it, is taken over.
        QProcess vanished;
        vanished.start("true");
        QVERIFY(vanished.waitForStarted());
        const qint64 pid = vanished.processId();
        QVERIFY(vanished.waitForFinished());
        QFile lock(home->filePath("run/" + key + ".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + "\nlumaret\n" + QSysInfo::machineHostName().toUtf8() +
                   "\n");
        lock.close();
        // And the file of the socket it listened on.
        const QString socket = home->filePath("run/" + key + ".socket");
        QVERIFY(QFile(socket).open(QIODevice::WriteOnly));
        QProcess first;
        QProcess second;
        first.start(m_lumaret);
        const auto answers = [&socket] {
            QLocalSocket probe;
            probe.connectToServer(socket);
            return probe.waitForConnected(100);
        };
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 10000);
        second.start(m_lumaret);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        // Neither instance changed anything, so no board file was written.
        QVERIFY(!QFile::exists(BoardPersistence::liveStoragePath()));
        first.terminate();
        QVERIFY(first.waitForFinished(5000));
    }

    void instanceKeepsToAPrivateFolderAndItsLimits_data()
    {
        // The runtime folder, then how many strays connect, send how much each and idle how long,
        // and how many are still connected; -1 strays where no instance may start.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QList<int>>("strays");
        QTest::newRow("private, within the limits") << "run" << QList<int>{3, 100, 0, 3};
        QTest::newRow("none set: one in the cache, a connection past the cap")
            << "" << QList<int>{4, 0, 0, 3};
        QTest::newRow("bytes held across connections") << "run" << QList<int>{3, 400, 0, 2};
        QTest::newRow("idle past the time limit") << "run" << QList<int>{3, 0, 800, 0};
        QTest::newRow("group may enter") << "group" << QList<int>{-1};
        QTest::newRow("another user's") << "stranger" << QList<int>{-1};
        QTest::newRow("a link to a private folder") << "link" << QList<int>{-1};
        QTest::newRow("too long a path for a socket") << QString(120, 'x') << QList<int>{-1};
    }

    void instanceKeepsToAPrivateFolderAndItsLimits()
    {
        QFETCH(QString, folder);
        QFETCH(QList<int>, strays);
        const auto home = privateHome();
        const QString path = home->filePath(folder);
        const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        if (folder == "link")
            QFile::link(home->filePath("run"), path);
        else
            QDir().mkdir(path,
                         folder == "group" ? owner | QFile::ReadGroup | QFile::ExeGroup : owner);
        if (folder == "stranger" && ::chown(QFile::encodeName(path), 65534, 65534) != 0)
            QSKIP("only root can hand a folder to another user");
        qputenv("XDG_RUNTIME_DIR", folder.isEmpty() ? QByteArray() : path.toUtf8());
        qputenv("XDG_CACHE_HOME", home->filePath("cache").toUtf8());
        SingleInstance window(SingleInstance::currentKey(),
                              {3, 1000, std::chrono::milliseconds(400)});
        QCOMPARE(window.claim() == SingleInstance::Role::primary, strays[0] >= 0);
        QCOMPARE(window.problem().isEmpty(), strays[0] >= 0);
        std::vector<std::unique_ptr<QLocalSocket>> sockets;
        for (int i = 0; i < strays[0]; ++i) {
            sockets.push_back(std::make_unique<QLocalSocket>());
            sockets.back()->connectToServer(SingleInstance::runtimeFolder() + '/' +
                                            SingleInstance::currentKey() + ".socket");
            QVERIFY(sockets.back()->waitForConnected(1000));
            sockets.back()->write(QByteArray(strays[1], 'a'));
            QTest::qWait(50);
        }
        QTest::qWait(100 + strays.value(2));
        QCOMPARE(std::count_if(sockets.begin(), sockets.end(),
                               [](const auto &socket) {
                                   return socket->state() == QLocalSocket::ConnectedState;
                               }),
                 strays.value(3));
    }

    void commandLineAnswersWithoutAWindow_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        for (const bool running : {false, true}) {
            const char *window = running ? "window running: " : "no window: ";
            auto row = [&](const char *name) -> QTestData & {
                return QTest::addRow("%s%s", window, name) << running;
            };
            row("--help") << QStringList{"--help"} << 0 << "lumaret snapshots";
            row("-h") << QStringList{"-h"} << 0 << "用法";
            row("--version") << QStringList{"--version"} << 0 << "Lumaret 0.";
            row("unknown command") << QStringList{"frobnicate"} << 2 << "「frobnicate」";
            row("unknown option") << QStringList{"--frobnicate"} << 2 << "「--frobnicate」";
            row("a command's own usage") << QStringList{"cloud", "--bogus"} << 2 << "cloud connect";
            row("a command's help") << QStringList{"add", "--help"} << 0 << "lumaret add";
        }
    }

    void commandLineAnswersWithoutAWindow()
    {
        QFETCH(bool, running);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        const auto home = privateHome();
        // A second launch hands over to a running window and exits 0: none of these may.
        SingleInstance window(SingleInstance::currentKey());
        if (running)
            QCOMPARE(window.claim(), SingleInstance::Role::primary);
        QProcess lumaret;
        lumaret.start(m_lumaret, arguments);
        // Offscreen, a window would stay open and the process would not end.
        QTRY_COMPARE_WITH_TIMEOUT(lumaret.state(), QProcess::NotRunning, 10000);
        QCOMPARE(lumaret.exitCode(), exitCode);
        const QByteArray output =
            exitCode == 0 ? lumaret.readAllStandardOutput() : lumaret.readAllStandardError();
        QVERIFY2(QString::fromUtf8(output).contains(said), output.constData());
    }

    void snapshotsAreListedAndRestored()
    {
        const auto home = privateHome();
        const QString path = BoardPersistence::liveStoragePath();
        QVERIFY(run(m_lumaret, {"snapshots"}).second.contains("还没有快照"));
        const Board kept{makeThought("kept"),
                         makeThought("gone", ThoughtStatus::notStarted, 0, true)};
        BoardPersistence::file(path).save(kept);
        const QString id = *BoardSnapshots(path).take(fixtureNow());
        BoardPersistence::file(path).save({makeThought("later")});
        // One live thought in the snapshot; the tombstone does not count.
        QVERIFY(QString(run(m_lumaret, {"snapshots"}).second)
                    .contains(QRegularExpression(id + " .* 1\n")));
        QCOMPARE(run(m_lumaret, {"snapshots", "restore", "20000101-000000"}).first, 1);
        QCOMPARE(run(m_lumaret, {"snapshots", "restore"}).first, 2);
        {
            // Not under a running window, which would write its board over the restored one.
            SingleInstance window(SingleInstance::currentKey());
            QCOMPARE(window.claim(), SingleInstance::Role::primary);
            QCOMPARE(run(m_lumaret, {"snapshots", "restore", id}).first, 1);
            QCOMPARE(titles(BoardPersistence::file(path).load().board.value_or(Board())),
                     QStringList{"later"});
        }
        {
            SingleInstance silent(SingleInstance::currentKey());
            QVERIFY(silent.tryLockWithoutServing());
            QCOMPARE(run(m_lumaret, {"snapshots", "restore", id}).first, 1);
        }
        // Left readable by all, as an earlier version left them, until the restore's save.
        const QString data = QFileInfo(path).absolutePath();
        for (const QString &file :
             {data, data + "/snapshots", data + "/snapshots/board-" + id + ".json"})
            QFile::setPermissions(file, QFileDevice::Permissions(0x7755));
        QCOMPARE(run(m_lumaret, {"snapshots", "restore", id}).first, 0);
        QCOMPARE(readableByOthers(data), QStringList());
        const Board restored = BoardPersistence::file(path).load().board.value_or(Board());
        QCOMPARE(titles(restored), (QStringList{"kept", "gone", "later"}));
        QCOMPARE(restored[2].isDeleted, true);
    }

    void signInProviderIsCheckedBeforeItIsKept_data()
    {
        QTest::addColumn<QString>("issuer");
        QTest::addColumn<QString>("answer");
        const QString invalid = "未设置：发现文档无效";
        QTest::newRow("provider answers") << "{provider}" << QString("已设置身份提供方");
        QTest::newRow("issuer differs from its document") << "{provider}/" << invalid;
        QTest::newRow("nothing listens")
            << "http://127.0.0.1:9" << QString("未设置：无法连接登录服务");
        QTest::newRow("plain http elsewhere") << "http://example.org" << invalid;
    }

    void signInProviderIsCheckedBeforeItIsKept()
    {
        QFETCH(QString, issuer);
        QFETCH(QString, answer);
        const int exitCode = answer.startsWith("已设置") ? 0 : 1;
        if (m_provider.issuer().isEmpty() && !m_provider.start()) {
            if (m_provider.shouldSkip())
                QSKIP(qPrintable(m_provider.problem()));
            QFAIL(qPrintable(m_provider.problem()));
        }
        issuer.replace("{provider}", m_provider.issuer());
        const auto home = privateHome();
        // A settings file left readable by all is made private when the choice is stored in it.
        const QString settings = home->filePath("CONFIG/Lumaret");
        QVERIFY(QDir().mkpath(settings));
        QFile(settings + "/Lumaret.conf")
            .open(QIODevice::WriteOnly, QFileDevice::Permissions(0x6644));
        const auto [code, said] = run(m_lumaret, {"signin", "configure", issuer, "lumaret"});
        QVERIFY2(code == exitCode && said.startsWith(answer.toUtf8()), said.constData());
        QCOMPARE(readableByOthers(settings).isEmpty(), exitCode == 0);
        QCOMPARE(run(m_lumaret, {"signin", "status"}).second.contains(issuer.toUtf8()),
                 exitCode == 0);
        // The environment wins over the stored choice, for machines without a settings file.
        qputenv("LUMARET_OIDC_ISSUER", "https://id.example.org");
        qputenv("LUMARET_OIDC_CLIENT_ID", "lumaret");
        QVERIFY(run(m_lumaret, {"signin", "status"}).second.contains("https://id.example.org"));
        qunsetenv("LUMARET_OIDC_ISSUER");
        qunsetenv("LUMARET_OIDC_CLIENT_ID");
    }
};

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
