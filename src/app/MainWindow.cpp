#include "MainWindow.h"

#include "BoardHistory.h"
#include "ContentView.h"
#include "stores/BoardStore.h"

#include <QAction>
#include <QMenuBar>

MainWindow::MainWindow(const AppServices &services, QWidget *parent)
    : QMainWindow(parent), m_services(services)
{
    setWindowTitle(QStringLiteral("Lumaret"));
    m_contentView = new ContentView(services, this);
    // The limits belong to the content; the window adds its menu bar around them.
    m_contentView->setMinimumSize(minimumContentSize);
    m_contentView->setMaximumSize(maximumContentSize);
    setCentralWidget(m_contentView);
    addRecordMenu();
    // Board changes are taken back here; a focused text field keeps its keys for its own undo.
    auto *history = new BoardHistory(m_services.store, this);
    menuBar()
        ->addMenu(QStringLiteral("编辑"))
        ->addActions({history->undoAction(), history->redoAction()});
    // The window manager learns both limits from the window, so that the window itself cannot be
    // dragged past them; the menu bar sits above the content.
    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(minimumContentSize.width(), minimumContentSize.height() + menuHeight);
    setMaximumSize(maximumContentSize.width(), maximumContentSize.height() + menuHeight);
    resize(idealContentSize.width(), idealContentSize.height() + menuHeight);
}

void MainWindow::addRecordMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("记录"));
    m_newThoughtAction = menu->addAction(QStringLiteral("新建想法"));
    m_newThoughtAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_newThoughtAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_newThoughtAction, &QAction::triggered, this,
            [this] { m_services.store->setFocusComposerToken(QUuid::createUuid()); });

    m_archiveCompletedAction = menu->addAction(QStringLiteral("归档已完成"));
    m_archiveCompletedAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    m_archiveCompletedAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_archiveCompletedAction, &QAction::triggered, m_services.store,
            &BoardStore::archiveCompleted);
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
