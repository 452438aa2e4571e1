#pragma once

#include "AppServices.h"

#include <QMainWindow>

#include "SyncSettingsDialog.h"

class ContentView;
class QAction;
class UndoNotice;

/// The one window: the main content over the three services, the application's menus, and the
/// size limits of its content.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr QSize minimumContentSize{980, 640};
    static constexpr QSize idealContentSize{1120, 720};
    static constexpr QSize maximumContentSize{1320, 880};

    explicit MainWindow(const AppServices &services, QWidget *parent = nullptr);

    ContentView *contentView() const { return m_contentView; }
    QAction *newThoughtAction() const { return m_newThoughtAction; }
    QAction *archiveCompletedAction() const { return m_archiveCompletedAction; }
    QAction *quitAction() const { return m_quitAction; }
    QAction *aboutAction() const { return m_aboutAction; }
    QAction *syncSettingsAction() const { return m_syncSettingsAction; }
    /// The sync and sign-in settings, made when first asked for; null before.
    SyncSettingsDialog *syncSettings() const { return m_syncSettings; }
    void showSyncSettings(SyncSettingsDialog::Page page);
    UndoNotice *undoNotice() const { return m_undoNotice; }

    /// Shows the window in front of the others, as a launch or a second launch asks.
    void bringToFront();

    /// Whether the window may close: asks first while the open editor holds unsaved edits, and
    /// while the board could not be saved to disk.
    bool confirmQuit();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void addApplicationMenu();
    void addRecordMenu();
    void showAbout();

    AppServices m_services;
    ContentView *m_contentView = nullptr;
    QAction *m_newThoughtAction = nullptr;
    QAction *m_archiveCompletedAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QAction *m_syncSettingsAction = nullptr;
    SyncSettingsDialog *m_syncSettings = nullptr;
    UndoNotice *m_undoNotice = nullptr;
};
