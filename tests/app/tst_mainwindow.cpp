#include "BoardFixtures.h"
#include "ContentView.h"
#include "FakeSettings.h"
#include "LumaretApp.h"
#include "MainWindow.h"
#include "QuickComposer.h"
#include "ScriptedIdentityProvider.h"
#include "SearchField.h"
#include "services/AppleIDAuthService.h"
#include "services/CloudKitThoughtSyncing.h"
#include "services/SyncService.h"
#include "stores/BoardStore.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

/// The real application wiring over an in-memory board and settings of the test's own.
struct AppFixture
{
    RecordingPersistence persistence;
    FakeSettings settings;
    QStringList created;
    std::unique_ptr<LumaretApp> app;
    std::unique_ptr<MainWindow> window;

    AppFixture()
    {
        persistence.stored = Board{makeThought(QStringLiteral("写周报"))};
        BoardPersistence recorded = persistence.persistence();
        auto load = recorded.load;
        recorded.load = [this, load] {
            created.append(QStringLiteral("board"));
            return load();
        };
        app = std::make_unique<LumaretApp>(
            AppDependencies{recorded,
                            [this] {
                                created.append(QStringLiteral("identity provider"));
                                return std::make_unique<ScriptedIdentityProvider>(
                                    std::make_shared<ScriptedIdentityProvider::Script>());
                            },
                            [this] {
                                created.append(QStringLiteral("settings"));
                                return settings.open();
                            },
                            [this] {
                                created.append(QStringLiteral("cloud store"));
                                return std::unique_ptr<CloudKitThoughtSyncing>();
                            }});
        window = std::make_unique<MainWindow>(app->services());
    }

    BoardStore *store() const { return app->services().store; }
};

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void servicesComeUpInOrder();
    void windowKeepsItsContentWithinLimits();
    void recordMenuHoldsTheTwoCommands();
    void newThoughtFocusesTheComposerWithoutAddingOne();
    void archiveCommandSavesEvenWithNothingCompleted();
};

void MainWindowTest::servicesComeUpInOrder()
{
    AppFixture fixture;
    QCOMPARE(fixture.created,
             (QStringList{QStringLiteral("board"), QStringLiteral("identity provider"),
                          QStringLiteral("settings"), QStringLiteral("cloud store")}));
    const AppServices services = fixture.app->services();
    QVERIFY(services.store && services.authService && services.syncService);
    QCOMPARE(fixture.window->windowTitle(), QStringLiteral("Lumaret"));
}

void MainWindowTest::windowKeepsItsContentWithinLimits()
{
    AppFixture fixture;
    MainWindow &window = *fixture.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ContentView *content = window.contentView();
    QCOMPARE(content->size(), QSize(1120, 720));

    window.resize(400, 300);
    QTRY_COMPARE(content->size(), QSize(980, 640));
    window.resize(3000, 2000);
    QTRY_COMPARE(content->size(), QSize(1320, 880));
    QCOMPARE(window.minimumSize().width(), 980);
    QCOMPARE(window.maximumSize().width(), 1320);
}

void MainWindowTest::recordMenuHoldsTheTwoCommands()
{
    AppFixture fixture;
    const QList<QAction *> menus = fixture.window->menuBar()->actions();
    QCOMPARE(menus.size(), 2); // 记录, then 编辑
    QCOMPARE(menus.first()->text(), QStringLiteral("记录"));
    const QList<QAction *> commands = menus.first()->menu()->actions();
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands.at(0)->text(), QStringLiteral("新建想法"));
    QCOMPARE(commands.at(0)->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    QCOMPARE(commands.at(1)->text(), QStringLiteral("归档已完成"));
    QCOMPARE(commands.at(1)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+E")));
    QVERIFY(commands.at(0)->isEnabled() && commands.at(1)->isEnabled());
}

void MainWindowTest::newThoughtFocusesTheComposerWithoutAddingOne()
{
    AppFixture fixture;
    MainWindow &window = *fixture.window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QuickComposer *composer = window.contentView()->composer();
    const qsizetype count = fixture.store()->thoughts().size();
    for (int attempt = 0; attempt < 2; ++attempt) {
        window.contentView()->searchField()->lineEdit()->setFocus();
        QVERIFY(!composer->isFocused());
        QTest::keySequence(&window, QKeySequence(QStringLiteral("Ctrl+N")));
        QVERIFY(composer->isFocused());
    }
    QCOMPARE(fixture.store()->thoughts().size(), count);
    QVERIFY(fixture.persistence.saves.isEmpty());
}

void MainWindowTest::archiveCommandSavesEvenWithNothingCompleted()
{
    AppFixture fixture;
    MainWindow &window = *fixture.window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const Board before = fixture.store()->thoughts();
    QTest::keySequence(&window, QKeySequence(QStringLiteral("Ctrl+Shift+E")));
    QCOMPARE(fixture.persistence.saves.size(), 1);
    QCOMPARE(fixture.store()->thoughts(), before);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
