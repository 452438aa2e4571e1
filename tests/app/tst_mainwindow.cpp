#include "AppFixture.h"
#include "ContentView.h"
#include "EditorOverlay.h"
#include "KanbanCardList.h"
#include "MainWindow.h"
#include "QuickComposer.h"
#include "SearchField.h"
#include "ThoughtEditorView.h"
#include "services/AppleIDAuthService.h"
#include "support/TextStyles.h"

#include <QAccessible>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaEnum>
#include <QTextLayout>
#include <QtTest>

// The real window and wiring over A (with a note), B, C (未开始), D (进行中) and E (归档), the
// caret in the composer, worked by keyboard and read as a screen reader reads it.
class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup()
    {
        m_window.reset();
        m_app.reset();
    }
    void keysWorkTheBoard_data();
    void keysWorkTheBoard();
    void openEditorKeepsTheKeyboard();
    void screenReaderSeesTheWindow_data();
    void screenReaderSeesTheWindow();
    void chineseIsDrawnInOneFace();
    void signInIsCheckedOnlyOnceTheWindowIsOnScreen();

private:
    void press(const QString &keys);
    QString board() const;
    QString focusedCard() const;
    std::unique_ptr<AppFixture> m_app;
    std::unique_ptr<MainWindow> m_window;
};

void MainWindowTest::init()
{
    Thought withNote = makeThought("A");
    withNote.note = "周五前";
    m_app = std::make_unique<AppFixture>(Board{withNote, makeThought("B"), makeThought("C"),
                                               makeThought("D", ThoughtStatus::inProgress),
                                               makeThought("E", ThoughtStatus::archived)});
    m_window = std::make_unique<MainWindow>(m_app->services());
    QCOMPARE(m_window->windowTitle(), "Lumaret");
    m_window->bringToFront();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QVERIFY(m_window->contentView()->composer()->isFocused());
}

void MainWindowTest::press(const QString &keys)
{
    for (const QString &key : keys.split(' ')) {
        if (key == "search")
            m_window->contentView()->searchField()->lineEdit()->setFocus();
        else
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
    }
}

// The columns' titles, separated by "|".
QString MainWindowTest::board() const
{
    QStringList columns;
    for (ThoughtStatus status : ThoughtStatuses::allCases)
        columns.append(titles(m_app->store()->visibleThoughtsByStatus()[status]).join(' '));
    return columns.join('|');
}

// The card with the ring: the focused list's current card, while that list still shows it.
QString MainWindowTest::focusedCard() const
{
    if (ThoughtEditorView *editor = m_window->contentView()->editor())
        return "editor on " + editor->thought().title;
    if (m_window->contentView()->composer()->isFocused())
        return "composer";
    const auto *cards = qobject_cast<KanbanCardList *>(QApplication::focusWidget());
    for (const Thought &thought : cards ? cards->thoughts() : Board()) {
        if (thought.id == cards->currentCard())
            return thought.title;
    }
    return {};
}

void MainWindowTest::keysWorkTheBoard_data()
{
    // The keys pressed, the card with the focus ring, the board: "A B C|D||E" is the start.
    QTest::addColumn<QString>("run");
    QTest::newRow("Tab: first card") << "Tab => A => A B C|D||E";
    QTest::newRow("Down stops at the end") << "Tab Down Down Down => C => A B C|D||E";
    QTest::newRow("Up from the end") << "Tab End Up => B => A B C|D||E";
    QTest::newRow("Right passes an empty column") << "Tab Right Right => E => A B C|D||E";
    QTest::newRow("Left back to the first column") << "Tab Right Left => A => A B C|D||E";
    QTest::newRow("Return opens") << "Tab Down Return => editor on B => A B C|D||E";
    QTest::newRow("Ctrl+Return advances") << "Tab Down Ctrl+Return => B => A C|D B||E";
    QTest::newRow("Ctrl+Shift+Right") << "Tab Ctrl+Shift+Right => A => B C|D A||E";
    QTest::newRow("Ctrl+Shift+Left stops at the first column")
        << "Tab Ctrl+Shift+Left => A => A B C|D||E";
    QTest::newRow("Ctrl+Shift+Right stops at the last column")
        << "Tab Right Right Ctrl+Shift+Right => E => A B C|D||E";
    QTest::newRow("Ctrl+Shift+Down") << "Tab Ctrl+Shift+Down => A => B A C|D||E";
    QTest::newRow("Ctrl+Shift+Up") << "Tab End Ctrl+Shift+Up => C => A C B|D||E";
    QTest::newRow("Delete: next card") << "Tab Down Delete => C => A C|D||E";
    QTest::newRow("Delete the only: next column") << "Tab Right Delete => A => A B C|||E";
    QTest::newRow("Tab passes an empty column")
        << "Tab Delete Delete Delete Ctrl+N Tab => D => |D||E";
    QTest::newRow("Ctrl+N from a card") << "Tab Down Ctrl+N => composer => A B C|D||E";
    QTest::newRow("Ctrl+N from the search field") << "search Ctrl+N => composer => A B C|D||E";
    QTest::newRow("Ctrl+Shift+E archives the completed")
        << "Tab Ctrl+Return Ctrl+Return Ctrl+Shift+E =>  => B C|D||E A";
}

void MainWindowTest::keysWorkTheBoard()
{
    QFETCH(QString, run);
    const QStringList parts = run.split(" => ");
    press(parts[0]);
    QCOMPARE(focusedCard(), parts[1]);
    QCOMPARE(board(), parts[2]);
}

void MainWindowTest::openEditorKeepsTheKeyboard()
{
    ContentView *content = m_window->contentView();
    press("Tab Down Return");
    QVERIFY(QTest::qWaitFor([&] { return !content->editorOverlay()->isAnimating(); }));
    for (const char *key : {"Tab", "Shift+Tab"}) {
        QSet<QWidget *> visited;
        for (int step = 0; step < 12; ++step) {
            press(key);
            QVERIFY(content->editor()->isAncestorOf(QApplication::focusWidget()));
            visited.insert(QApplication::focusWidget());
        }
        QVERIFY(visited.size() >= 4); // round through the panel, not stuck on one control
    }
    // The window's commands would act behind the backdrop: nothing reaches the board.
    press("Ctrl+N Ctrl+Shift+E");
    content->composer()->setFocused(); // as a program might ask
    QVERIFY(!content->composer()->isFocused());
    QVERIFY(m_app->persistence.saves.isEmpty());
    QCOMPARE(focusedCard(), "editor on B");
    press("Escape");
    QCOMPARE(focusedCard(), "B");
}

void MainWindowTest::screenReaderSeesTheWindow_data()
{
    // An object's role, name and description, as assistive technology is told them.
    QTest::addColumn<QString>("object");
    QTest::newRow("composer") << "EditableText\t记录瞬间想法\t输入想法后按回车添加到未开始";
    QTest::newRow("search") << "EditableText\t搜索\t按标题、备注或状态筛选看板";
    QTest::newRow("pill") << "StatusBar\t本机\t当前保存在本机，登录 Apple ID 后同步到 iCloud";
    QTest::newRow("failed sign-in: its reason") << "Button\t重新登录\t无法连接登录服务";
    QTest::newRow("column and count") << "Grouping\t未开始\t3 个想法";
    QTest::newRow("card with a note") << "ListItem\tA\t未开始，\\S+前，有备注";
    QTest::newRow("card without a note") << "ListItem\tD\t进行中，\\S+前";
}

void MainWindowTest::screenReaderSeesTheWindow()
{
    QFETCH(QString, object);
    m_app->services().authService->handle(AuthorizationError{"无法连接登录服务"});
    QStringList tree;
    const std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        tree.append(QString(QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role())) +
                    '\t' + node->text(QAccessible::Name) + '\t' +
                    node->text(QAccessible::Description));
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(m_window.get()));
    QVERIFY2(tree.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(object))) >= 0,
             qPrintable(tree.join('\n')));
}

void MainWindowTest::chineseIsDrawnInOneFace()
{
    // Left to fontconfig, the menus' Chinese would outside a Chinese locale take the Japanese
    // forms of the same characters.
    auto hanFace = [](const QFont &font) {
        QTextLayout layout(QStringLiteral("编辑"), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        return layout.glyphRuns().value(0).rawFont().familyName();
    };
    QCOMPARE(hanFace(m_window->menuBar()->font()), hanFace(textStyleFont(TextStyle::body)));
}

void MainWindowTest::signInIsCheckedOnlyOnceTheWindowIsOnScreen()
{
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->credentialAnswer = CredentialState::authorized;
    FakeSettings settings;
    settings.open()->setValue(AppleIDAuthService::userIdentifierKey(), "ada");
    RecordingPersistence persistence;
    LumaretApp app(
        AppDependencies{persistence.persistence(),
                        [script] { return std::make_unique<ScriptedIdentityProvider>(script); },
                        [&settings] { return settings.open(); },
                        [] { return std::unique_ptr<CloudKitThoughtSyncing>(); }},
        ServiceStart::afterFirstFrame);
    MainWindow window(app.services());
    app.startServicesAfterFirstFrame(&window);
    QTest::qWait(50);
    QCOMPARE(script->askedUsers, QStringList());
    window.show();
    // Sooner than the fallback for a window that is never painted.
    QTRY_COMPARE_WITH_TIMEOUT(script->askedUsers, QStringList{"ada"}, 1000);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
