#include "BoardFixtures.h"
#include "ContentView.h"
#include "EditorOverlay.h"
#include "FakeSettings.h"
#include "FakeSyncService.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "MainWindow.h"
#include "QuickComposer.h"
#include "ScriptedIdentityProvider.h"
#include "ThoughtEditorView.h"
#include "services/AppleIDAuthService.h"
#include "stores/BoardStore.h"

#include <QLineEdit>
#include <QtTest>

/// The real window over a board of three open thoughts, one in progress and one archived, with
/// the keyboard where a launch leaves it: in the composer.
class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keysWorkTheBoard_data();
    void keysWorkTheBoard();
    void openEditorKeepsTheKeyboard();

private:
    void press(const QString &keys);
    QString board() const;
    QString focusedCard() const;

    RecordingPersistence m_persistence;
    FakeSettings m_settings;
    FakeSyncService m_sync;
    std::unique_ptr<BoardStore> m_store;
    std::unique_ptr<AppleIDAuthService> m_auth;
    std::unique_ptr<MainWindow> m_window;
};

void TestKeyboard::init()
{
    m_persistence = RecordingPersistence();
    m_persistence.stored = Board{makeThought("A"), makeThought("B"), makeThought("C"),
                                 makeThought("D", ThoughtStatus::inProgress),
                                 makeThought("E", ThoughtStatus::archived)};
    m_store = std::make_unique<BoardStore>(m_persistence.persistence());
    m_auth = std::make_unique<AppleIDAuthService>(
        std::make_unique<ScriptedIdentityProvider>(
            std::make_shared<ScriptedIdentityProvider::Script>()),
        m_settings.open());
    m_window = std::make_unique<MainWindow>(AppServices{m_store.get(), m_auth.get(), &m_sync});
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QVERIFY(m_window->contentView()->composer()->isFocused());
}

void TestKeyboard::cleanup()
{
    m_window.reset();
    m_auth.reset();
    m_store.reset();
}

void TestKeyboard::press(const QString &keys)
{
    for (const QString &key : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
        QCoreApplication::processEvents();
    }
}

// The columns' titles, the columns separated by "|": "A B C|D||E".
QString TestKeyboard::board() const
{
    QStringList columns;
    for (ThoughtStatus status : ThoughtStatuses::allCases)
        columns.append(titles(m_store->visibleThoughtsByStatus()[status]).join(QLatin1Char(' ')));
    return columns.join(QLatin1Char('|'));
}

QString TestKeyboard::focusedCard() const
{
    if (ThoughtEditorView *editor = m_window->contentView()->editor())
        return QStringLiteral("editor on ") + editor->thought().title;
    // The card with the ring: the focused list's current card, if that list still shows it.
    const auto *cards = qobject_cast<KanbanCardList *>(QApplication::focusWidget());
    for (const Thought &thought : cards ? cards->thoughts() : Board()) {
        if (thought.id == cards->currentCard())
            return thought.title;
    }
    return {};
}

void TestKeyboard::keysWorkTheBoard_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("focused");
    QTest::addColumn<QString>("boardAfter");
    const QString unchanged = "A B C|D||E";
    QTest::newRow("Tab from the composer: first card") << "Tab"
                                                       << "A" << unchanged;
    QTest::newRow("Down stops at the last card") << "Tab Down Down Down"
                                                 << "C" << unchanged;
    QTest::newRow("Right goes to the next column") << "Tab Right"
                                                   << "D" << unchanged;
    QTest::newRow("Right passes an empty column") << "Tab Right Right"
                                                  << "E" << unchanged;

    QTest::newRow("Return opens") << "Tab Down Return"
                                  << "editor on B" << unchanged;
    QTest::newRow("Space opens") << "Tab Space"
                                 << "editor on A" << unchanged;
    QTest::newRow("Ctrl+Return advances, focus follows") << "Tab Down Ctrl+Return"
                                                         << "B"
                                                         << "A C|D B||E";
    QTest::newRow("Ctrl+Return in the last column stays") << "Tab Right Right Ctrl+Return"
                                                          << "E" << unchanged;
    QTest::newRow("Ctrl+Shift+Right: end of the next column") << "Tab Ctrl+Shift+Right"
                                                              << "A"
                                                              << "B C|D A||E";
    QTest::newRow("Ctrl+Shift+Left: end of the previous column") << "Tab Right Ctrl+Shift+Left"
                                                                 << "D"
                                                                 << "A B C D|||E";
    QTest::newRow("Ctrl+Shift+Left in the first column stays") << "Tab Ctrl+Shift+Left"
                                                               << "A" << unchanged;
    QTest::newRow("Ctrl+Shift+Down: one place down") << "Tab Ctrl+Shift+Down"
                                                     << "A"
                                                     << "B A C|D||E";
    QTest::newRow("Ctrl+Shift+Down onto the last place") << "Tab Down Ctrl+Shift+Down"
                                                         << "B"
                                                         << "A C B|D||E";
    QTest::newRow("Ctrl+Shift+Up: one place up") << "Tab End Ctrl+Shift+Up"
                                                 << "C"
                                                 << "A C B|D||E";
    QTest::newRow("Delete: focus on the next card") << "Tab Down Delete"
                                                    << "C"
                                                    << "A C|D||E";
    QTest::newRow("Delete the last card: focus on the one above") << "Tab End Delete"
                                                                  << "B"
                                                                  << "A B|D||E";
    QTest::newRow("Delete a column's only card: focus moves on") << "Tab Right Delete"
                                                                 << "A"
                                                                 << "A B C|||E";
    QTest::newRow("Tab passes over an empty first column") << "Tab Delete Delete Delete Ctrl+N Tab"
                                                           << "D"
                                                           << "|D||E";
}

void TestKeyboard::keysWorkTheBoard()
{
    QFETCH(QString, keys);
    QFETCH(QString, focused);
    QFETCH(QString, boardAfter);
    press(keys);
    QCOMPARE(focusedCard(), focused);
    QCOMPARE(board(), boardAfter);
}

void TestKeyboard::openEditorKeepsTheKeyboard()
{
    ContentView *content = m_window->contentView();
    press("Tab Down Return");
    QVERIFY(QTest::qWaitFor([&] { return !content->editorOverlay()->isAnimating(); }));
    ThoughtEditorView *editor = content->editor();
    QVERIFY(editor);
    for (const QString &key : {QStringLiteral("Tab"), QStringLiteral("Shift+Tab")}) {
        QSet<QWidget *> visited;
        for (int step = 0; step < 12; ++step) {
            press(key);
            QVERIFY2(editor->isAncestorOf(QApplication::focusWidget()), qPrintable(key));
            visited.insert(QApplication::focusWidget());
        }
        // Round and round through the panel's controls, not stuck on one.
        QVERIFY(visited.size() >= 4);
    }
    // The window's commands would act behind the backdrop: nothing reaches the board.
    const qsizetype saves = m_persistence.saves.size();
    QTest::keySequence(m_window.get(), QKeySequence(QStringLiteral("Ctrl+N")));
    QVERIFY(!content->composer()->isFocused());
    QTest::keySequence(m_window.get(), QKeySequence(QStringLiteral("Ctrl+Shift+E")));
    QCOMPARE(m_persistence.saves.size(), saves);

    editor->titleField()->setFocus();
    press("Escape");
    QVERIFY(!content->editor());
    QCOMPARE(focusedCard(), QStringLiteral("B"));
    press("Ctrl+N");
    QVERIFY(content->composer()->isFocused());
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
