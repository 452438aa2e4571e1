#include "BoardFixtures.h"
#include "DesktopIntegration.h"
#include "OidcProviderFixture.h"
#include "PortalAppearance.h"
#include "QuickCapture.h"
#include "SingleInstance.h"
#include "stores/BoardStore.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QScopeGuard>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// Answers the settings portal's Read from a thread of its own, because the application asks it
// with a blocking call.
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

class DesktopTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void desktopFilesValidate_data();
    void desktopFilesValidate();
    void packageDependsOnWhatItLinks();
    void quickCaptureReachesTheOneWriter_data();
    void quickCaptureReachesTheOneWriter();
    void appearanceFollowsThePortal_data();
    void appearanceFollowsThePortal();
    void signInProviderIsCheckedBeforeItIsKept_data();
    void signInProviderIsCheckedBeforeItIsKept();

private:
    OidcProviderFixture m_provider;
    QString m_build = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QString m_source = qEnvironmentVariable("LUMARET_SOURCE_DIR");
};

static QByteArray run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        qWarning() << program << "did not finish";
    if (exitCode)
        *exitCode = process.exitCode();
    return process.readAllStandardOutput() + process.readAllStandardError();
}

void DesktopTest::initTestCase()
{
    if (!QFile::exists(m_build + QStringLiteral("/lumaret")))
        QSKIP("the lumaret executable is not built next to the tests");
}

void DesktopTest::desktopFilesValidate_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");
    const QString id = DesktopIntegration::applicationId();
    QTest::newRow("desktop entry") << "desktop-file-validate" << QStringList() << id + ".desktop";
    QTest::newRow("metainfo") << "appstreamcli" << QStringList{"validate", "--no-net"}
                              << id + ".metainfo.xml";
}

void DesktopTest::desktopFilesValidate()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    int exitCode = -1;
    const QByteArray output =
        run(validator, arguments << m_source + QStringLiteral("/data/") + file, &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
}

void DesktopTest::packageDependsOnWhatItLinks()
{
    QTemporaryDir out;
    int exitCode = -1;
    QByteArray output =
        run(QStringLiteral("cpack"),
            {"-G", "DEB", "--config", m_build + "/CPackConfig.cmake", "-B", out.path()}, &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
    const QString deb = out.filePath(QDir(out.path()).entryList({"*.deb"}).value(0));
    const QByteArray depends = run(QStringLiteral("dpkg-deb"), {"-f", deb, "Depends"});
    // From dpkg-shlibdeps, and the platform plugin no linker line names.
    for (const char *package : {"libqt6widgets6", "libqt6keychain1", "libicu72", "qt6-qpa-plugins"})
        QVERIFY2(depends.contains(package), depends.constData());
    const QByteArray files = run(QStringLiteral("dpkg-deb"), {"-c", deb});
    const QString id = DesktopIntegration::applicationId();
    for (const QString &path :
         {QStringLiteral("./usr/bin/lumaret"), "./usr/share/applications/" + id + ".desktop",
          "./usr/share/metainfo/" + id + ".metainfo.xml",
          "./usr/share/icons/hicolor/scalable/apps/" + id + ".svg",
          "./usr/share/icons/hicolor/48x48/apps/" + id + ".png"})
        QVERIFY2(files.contains(path.toUtf8()), qPrintable(path));
}

enum class Lumaret { closed, running, silent };

void DesktopTest::quickCaptureReachesTheOneWriter_data()
{
    QTest::addColumn<Lumaret>("lumaret");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("added");
    const QStringList none;
    QTest::newRow("closed, words") << Lumaret::closed << QStringList{"记一下", "吧"} << QByteArray()
                                   << 0 << QStringList{"记一下 吧"};
    QTest::newRow("closed, lines") << Lumaret::closed << QStringList{"-"}
                                   << QByteArray("a\n\n b \r\n") << 0 << QStringList{"b", "a"};
    QTest::newRow("closed, empty")
        << Lumaret::closed << QStringList{" "} << QByteArray() << 2 << none;
    QTest::newRow("running, words")
        << Lumaret::running << QStringList{"记一下"} << QByteArray() << 0 << QStringList{"记一下"};
    QTest::newRow("running, lines")
        << Lumaret::running << QStringList{"-"} << QByteArray("x\ny") << 0 << QStringList{"y", "x"};
    QTest::newRow("running, blank input")
        << Lumaret::running << QStringList{"-"} << QByteArray("\n \n") << 2 << none;
    // The lock is held by a Lumaret that does not answer: the board must stay untouched.
    QTest::newRow("silent holder")
        << Lumaret::silent << QStringList{"记一下"} << QByteArray() << 1 << none;
}

void DesktopTest::quickCaptureReachesTheOneWriter()
{
    QFETCH(Lumaret, lumaret);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QStringList, added);
    QTemporaryDir home;
    QDir(home.path())
        .mkdir(QStringLiteral("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("run")).toUtf8());
    const QString boardPath = BoardPersistence::liveStoragePath();

    SingleInstance window(SingleInstance::currentKey());
    BoardStore store(BoardPersistence::file(boardPath));
    const qsizetype before = store.thoughts().size();
    if (lumaret == Lumaret::running) {
        QCOMPARE(window.claim(), SingleInstance::Role::primary);
        acceptQuickCaptures(window, store);
    } else if (lumaret == Lumaret::silent) {
        QVERIFY(window.tryLockWithoutServing());
    }

    QProcess add;
    add.start(m_build + QStringLiteral("/lumaret"), QStringList{"add"} + arguments);
    add.write(input);
    add.closeWriteChannel();
    // The running window answers from this test's event loop.
    QTRY_COMPARE_WITH_TIMEOUT(add.state(), QProcess::NotRunning, 15000);
    QCOMPARE(add.exitCode(), exitCode);
    QCOMPARE(add.readAllStandardError().isEmpty(), exitCode == 0);

    const Board after = lumaret == Lumaret::running
                            ? store.thoughts()
                            : BoardPersistence::file(boardPath).load().value_or(Board());
    QCOMPARE(titles(after.mid(0, added.size())), added);
    QCOMPARE(after.size(),
             added.isEmpty() && lumaret != Lumaret::running ? 0 : before + added.size());
}

void DesktopTest::appearanceFollowsThePortal_data()
{
    QTest::addColumn<uint>("atLaunch");
    QTest::addColumn<bool>("darkAtLaunch");
    QTest::addColumn<QString>("changedKey");
    QTest::addColumn<uint>("changedTo");
    QTest::addColumn<bool>("darkAfter");
    QTest::newRow("dark, then light") << 1u << true << "color-scheme" << 2u << false;
    QTest::newRow("light, then dark") << 2u << false << "color-scheme" << 1u << true;
    QTest::newRow("no preference, then dark") << 0u << false << "color-scheme" << 1u << true;
    QTest::newRow("other settings change nothing") << 1u << true << "accent-color" << 2u << true;
}

void DesktopTest::appearanceFollowsThePortal()
{
    QFETCH(uint, atLaunch);
    QFETCH(bool, darkAtLaunch);
    QFETCH(QString, changedKey);
    QFETCH(uint, changedTo);
    QFETCH(bool, darkAfter);
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    QVERIFY(daemon.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(daemon.readLine().trimmed());
    QDBusConnection portalBus = QDBusConnection::connectToBus(address, QStringLiteral("portal"));
    QVERIFY(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    FakePortal portal;
    portal.scheme = atLaunch;
    QThread portalThread;
    portal.moveToThread(&portalThread);
    portalThread.start();
    const auto cleanup = qScopeGuard([&] {
        portalBus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        portalThread.quit();
        portalThread.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("app"));
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        daemon.kill();
        daemon.waitForFinished();
    });
    portalBus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                             QDBusConnection::ExportAllSlots);

    QApplication::setPalette(QApplication::style()->standardPalette());
    auto isDark = [] {
        const QPalette palette = QApplication::palette();
        return palette.color(QPalette::Window).lightness() <
               palette.color(QPalette::WindowText).lightness();
    };
    {
        PortalAppearance appearance(QDBusConnection::connectToBus(address, QStringLiteral("app")));
        QCOMPARE(isDark(), darkAtLaunch);
        QDBusMessage change = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
        change << QStringLiteral("org.freedesktop.appearance") << changedKey
               << QVariant::fromValue(QDBusVariant(changedTo));
        QVERIFY(portalBus.send(change));
        QTRY_COMPARE(isDark(), darkAfter);
        // A change that does not concern the appearance must not flip it later either.
        QTest::qWait(100);
        QCOMPARE(isDark(), darkAfter);
    }
}

void DesktopTest::signInProviderIsCheckedBeforeItIsKept_data()
{
    QTest::addColumn<QString>("issuer");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("provider answers") << "{provider}" << 0;
    QTest::newRow("issuer differs from its document") << "{provider}/" << 1;
    QTest::newRow("nothing listens") << "http://127.0.0.1:9" << 1;
    QTest::newRow("plain http elsewhere") << "http://example.org" << 1;
}

void DesktopTest::signInProviderIsCheckedBeforeItIsKept()
{
    QFETCH(QString, issuer);
    QFETCH(int, exitCode);
    if (m_provider.issuer().isEmpty() && !m_provider.start()) {
        if (m_provider.shouldSkip())
            QSKIP(qPrintable(m_provider.problem()));
        QFAIL(qPrintable(m_provider.problem()));
    }
    issuer.replace("{provider}", m_provider.issuer());
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    const QString lumaret = m_build + QStringLiteral("/lumaret");
    int code = -1;
    run(lumaret, {"signin", "configure", issuer, "lumaret"}, &code);
    QCOMPARE(code, exitCode);
    QCOMPARE(run(lumaret, {"signin", "status"}).contains(issuer.toUtf8()), exitCode == 0);
    // The environment wins over the stored choice, for machines without a settings file.
    qputenv("LUMARET_OIDC_ISSUER", "https://id.example.org");
    qputenv("LUMARET_OIDC_CLIENT_ID", "lumaret");
    QVERIFY(run(lumaret, {"signin", "status"}).contains("https://id.example.org"));
    qunsetenv("LUMARET_OIDC_ISSUER");
    qunsetenv("LUMARET_OIDC_CLIENT_ID");
}

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
