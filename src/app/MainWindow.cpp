#include "MainWindow.h"

#include "AboutDialog.h"
#include "BoardFileNotice.h"
#include "BoardHistory.h"
#include "ContentView.h"
#include "KanbanBoardView.h"
#include "QuickComposer.h"
#include "SearchField.h"
#include "SignInPanel.h"
#include "SyncStatusPill.h"
#include "ThoughtEditorView.h"
#include "UndoNotice.h"
#include "stores/BoardStore.h"
#include "support/BoardFileMessages.h"
#include "support/LumaretStyle.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

MainWindow::MainWindow(const AppServices &services, QWidget *parent)
    : QMainWindow(parent), m_services(services)
{
    LumaretStyle::install();
    setWindowTitle(QStringLiteral("Lumaret"));
    m_contentView = new ContentView(services, this);
    // The limits belong to the content; the window adds its menu bar around them.
    m_contentView->setMinimumSize(minimumContentSize);
    m_contentView->setMaximumSize(maximumContentSize);
    setCentralWidget(m_contentView);
    addApplicationMenu();
    addRecordMenu();
    // Board changes are taken back here; a focused text field keeps its keys for its own undo,
    // and the composer and the search field hand them on once they have nothing left to undo.
    auto *history = new BoardHistory(m_services.store, this);
    menuBar()
        ->addMenu(QStringLiteral("编辑"))
        ->addActions({history->undoAction(), history->redoAction()});
    history->shareKeysWith(m_contentView->composer()->lineEdit());
    history->shareKeysWith(m_contentView->searchField()->lineEdit());
    // Deleting and archiving act at once; the note that follows offers to take them back.
    m_undoNotice = new UndoNotice(m_services.store, history, m_contentView);
    connect(history, &BoardHistory::stepReplayed, this, [this](const QList<QUuid> &ids) {
        // A person working the board, or taking a step back from the note, sees the ring go with
        // the card taken back; one typing in the composer keeps the caret there.
        KanbanBoardView *board = m_contentView->board();
        QWidget *focus = QApplication::focusWidget();
        if (focus && !ids.isEmpty() &&
            (focus == board || board->isAncestorOf(focus) || m_undoNotice->isAncestorOf(focus)))
            board->followCard(ids.first());
    });
    // The window manager learns both limits from the window, so that the window itself cannot be
    // dragged past them; the menu bar sits above the content.
    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(minimumContentSize.width(), minimumContentSize.height() + menuHeight);
    setMaximumSize(maximumContentSize.width(), maximumContentSize.height() + menuHeight);
    resize(idealContentSize.width(), idealContentSize.height() + menuHeight);

    // Someone who starts typing at launch is writing a thought, not searching.
    m_contentView->composer()->setFocused();
    // While the editor is open the commands would act on the board behind it: the new thought
    // would land behind the dimmed backdrop.
    connect(m_contentView, &ContentView::editorOpenChanged, this, [this](bool open) {
        m_newThoughtAction->setEnabled(!open);
        m_archiveCompletedAction->setEnabled(!open);
    });
}

void MainWindow::addApplicationMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("Lumaret"));
    m_aboutAction = menu->addAction(QStringLiteral("关于 Lumaret"));
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, &MainWindow::showAbout);
    m_syncSettingsAction = menu->addAction(QStringLiteral("云同步…"));
    connect(m_syncSettingsAction, &QAction::triggered, this,
            [this] { showSyncSettings(SyncSettingsDialog::Page::cloud); });
    connect(m_contentView->syncStatusPill(), &SyncStatusPill::clicked, this,
            [this] { showSyncSettings(SyncSettingsDialog::Page::cloud); });
    connect(m_contentView->signInPanel(), &SignInPanel::configureRequested, this,
            [this] { showSyncSettings(SyncSettingsDialog::Page::signIn); });
    menu->addSeparator();
    m_quitAction = menu->addAction(QStringLiteral("退出"));
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quitAction->setShortcutContext(Qt::ApplicationShortcut);
    m_quitAction->setMenuRole(QAction::QuitRole);
    // Closing the one window ends the process, after the same questions as its close button.
    connect(m_quitAction, &QAction::triggered, this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::addRecordMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("记录"));
    m_newThoughtAction = menu->addAction(QStringLiteral("新建想法"));
    m_newThoughtAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_newThoughtAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_newThoughtAction, &QAction::triggered, this,
            [this] { m_contentView->focusComposer(); });

    m_archiveCompletedAction = menu->addAction(QStringLiteral("归档已完成"));
    m_archiveCompletedAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    m_archiveCompletedAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_archiveCompletedAction, &QAction::triggered, m_services.store,
            &BoardStore::archiveCompleted);
}

void MainWindow::showSyncSettings(SyncSettingsDialog::Page page)
{
    // One dialog for the window's life: it remembers an account connected for this session only.
    if (!m_syncSettings)
        m_syncSettings = new SyncSettingsDialog(m_services, this);
    m_syncSettings->showPage(page);
    m_syncSettings->show();
    m_syncSettings->raise();
    m_syncSettings->activateWindow();
}

void MainWindow::showAbout()
{
    AboutDialog about(this);
    about.exec();
}

bool MainWindow::confirmQuit()
{
    ThoughtEditorView *editor = m_contentView->editor();
    if (editor && m_contentView->editorHasChanges()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Lumaret"),
                        QStringLiteral("正在编辑的想法有未保存的修改。"), QMessageBox::NoButton,
                        this);
        box.setInformativeText(QStringLiteral("退出前要保存这些修改吗？"));
        QPushButton *save = box.addButton(QStringLiteral("保存"), QMessageBox::AcceptRole);
        QPushButton *discard =
            box.addButton(QStringLiteral("不保存"), QMessageBox::DestructiveRole);
        QPushButton *cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        save->setEnabled(editor->canSave());
        box.setDefaultButton(editor->canSave() ? save : cancel);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == save)
            editor->save();
        else if (box.clickedButton() == discard)
            m_contentView->closeEditor();
        else
            return false;
    }
    BoardStore *store = m_services.store;
    while (store->hasUnsavedChanges() && !store->retrySave()) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumaret"),
                        QStringLiteral("看板还没有保存到磁盘。"), QMessageBox::NoButton, this);
        box.setInformativeText(QStringLiteral("%1\n现在退出，没有保存的修改会丢失。")
                                   .arg(BoardFileMessages::saveNotice(*store->saveProblem())));
        QPushButton *retry = box.addButton(QStringLiteral("重试"), QMessageBox::AcceptRole);
        QPushButton *copy = box.addButton(QStringLiteral("另存副本…"), QMessageBox::ActionRole);
        QPushButton *quit = box.addButton(QStringLiteral("仍然退出"), QMessageBox::DestructiveRole);
        QPushButton *cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(retry);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == quit)
            return true;
        if (box.clickedButton() == copy && BoardFileNotice::saveCopy(store, this))
            return true;
        if (box.clickedButton() != retry && box.clickedButton() != copy)
            return false;
    }
    return true;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (confirmQuit())
        event->accept();
    else
        event->ignore();
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
