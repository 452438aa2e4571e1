#include "BoardFixtures.h"
#include "ContentView.h"
#include "FakeSettings.h"
#include "LumaretApp.h"
#include "MainWindow.h"
#include "QuickComposer.h"
#include "ScriptedIdentityProvider.h"
#include "SearchField.h"
#include "SingleInstance.h"
#include "services/CloudKitThoughtSyncing.h"
#include "stores/BoardStore.h"

#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// The application as a whole: its wiring, its window, and one writer per board.
class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void menuShortcutsReachTheWiredServices();
    void secondLaunchHandsOverWithoutWritingTheBoard();
};

void MainWindowTest::menuShortcutsReachTheWiredServices()
{
    // The real application wiring over an in-memory board and settings of the test's own.
    RecordingPersistence persistence;
    persistence.stored = Board{makeThought("写周报")};
    FakeSettings settings;
    LumaretApp app(AppDependencies{persistence.persistence(),
                                   [] {
                                       return std::make_unique<ScriptedIdentityProvider>(
                                           std::make_shared<ScriptedIdentityProvider::Script>());
                                   },
                                   [&] { return settings.open(); },
                                   [] { return std::unique_ptr<CloudKitThoughtSyncing>(); }});
    MainWindow window(app.services());
    QCOMPARE(window.windowTitle(), QStringLiteral("Lumaret"));
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const Board before = app.services().store->thoughts();
    QuickComposer *composer = window.contentView()->composer();
    for (int attempt = 0; attempt < 2; ++attempt) {
        window.contentView()->searchField()->lineEdit()->setFocus();
        QTest::keySequence(&window, QKeySequence(QStringLiteral("Ctrl+N")));
        QVERIFY(composer->isFocused());
    }
    QVERIFY(persistence.saves.isEmpty());
    // Archiving saves even when nothing is completed.
    QTest::keySequence(&window, QKeySequence(QStringLiteral("Ctrl+Shift+E")));
    QCOMPARE(persistence.saves.size(), 1);
    QCOMPARE(app.services().store->thoughts(), before);
}

void MainWindowTest::secondLaunchHandsOverWithoutWritingTheBoard()
{
    const QString binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../lumaret");
    if (!QFile::exists(binary))
        QSKIP("the lumaret executable is not built next to the tests");
    QTemporaryDir home;
    QTemporaryDir runtime; // Locks and sockets go to a runtime folder of the test's own.
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString data = home.filePath("data");
    const QString key =
        SingleInstance::keyFor(QString::number(getuid()), data + "/Lumaret/board.json");
    QCOMPARE(SingleInstance::keyFor("1000", data + "/"), SingleInstance::keyFor("1000", data));
    QVERIFY(SingleInstance::keyFor("1001", data) != SingleInstance::keyFor("1000", data));
    // A lock naming a process that no longer exists, as a crash leaves it, is taken over.
    QProcess vanished;
    vanished.start(QStringLiteral("true"));
    QVERIFY(vanished.waitForStarted());
    const qint64 pid = vanished.processId();
    QVERIFY(vanished.waitForFinished());
    QFile lock(runtime.filePath(key + ".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid) + "\nlumaret\n" + QSysInfo::machineHostName().toUtf8() +
               "\n");
    lock.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_DATA_HOME", data);
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    QProcess first;
    QProcess second;
    for (QProcess *process : {&first, &second})
        process->setProcessEnvironment(environment);
    first.start(binary);
    // The first instance is up once its socket exists.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtime.filePath(key + ".socket")), 10000);
    second.start(binary);
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    // Neither instance changed anything, so no board file was written.
    QVERIFY(!QFile::exists(data + "/Lumaret/board.json"));
    first.terminate();
    QVERIFY(first.waitForFinished(5000));
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
