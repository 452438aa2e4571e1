#pragma once

#include "AppServices.h"
#include "models/Thought.h"

#include <QWidget>

#include <optional>

class AmbientBackground;
class SignInPanel;
class BoardFileNotice;
class EditorOverlay;
class GlassSymbolButton;
class KanbanBoardView;
class QuickComposer;
class SearchField;
class SyncStatusPill;
class ThoughtEditorView;

/// The root of the window: header, quick composer and board over the ambient background, and the
/// flow around the thought editor. It keeps no board data, only which thought is open and whether
/// the open editor holds unsaved edits.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    explicit ContentView(const AppServices &services, QWidget *parent = nullptr);

    const std::optional<Thought> &editingThought() const { return m_editingThought; }
    bool editorHasChanges() const { return m_editorHasChanges; }

    /// Closes the editor whatever its state; unsaved edits are dropped.
    void closeEditor();
    /// Puts the keyboard in the quick composer, unless the editor is open.
    void focusComposer();

    SearchField *searchField() const { return m_searchField; }
    GlassSymbolButton *archiveButton() const { return m_archiveButton; }
    SyncStatusPill *syncStatusPill() const { return m_syncStatusPill; }
    SignInPanel *signInPanel() const { return m_signInPanel; }
    QuickComposer *composer() const { return m_composer; }
    KanbanBoardView *board() const { return m_board; }
    EditorOverlay *editorOverlay() const { return m_editorOverlay; }
    BoardFileNotice *fileNotice() const { return m_fileNotice; }
    ThoughtEditorView *editor() const;

public slots:
    /// Opens the editor on a copy of \a thought, replacing any editor that is open.
    void openEditor(const Thought &thought);

signals:
    /// The editor opened or closed: while it is open nothing behind it may act on the board.
    void editorOpenChanged(bool open);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QWidget *topBar();
    void addQuickThought();
    void backdropClicked();
    void boardChangedUnderEditor();
    void updateColors();

    BoardStore *m_store = nullptr;
    SyncService *m_syncService = nullptr;
    AppServices m_services;
    std::optional<Thought> m_editingThought;
    bool m_editorHasChanges = false;

    AmbientBackground *m_background = nullptr;
    QWidget *m_content = nullptr;
    class QLabel *m_subtitle = nullptr;
    SearchField *m_searchField = nullptr;
    GlassSymbolButton *m_archiveButton = nullptr;
    SyncStatusPill *m_syncStatusPill = nullptr;
    SignInPanel *m_signInPanel = nullptr;
    BoardFileNotice *m_fileNotice = nullptr;
    QuickComposer *m_composer = nullptr;
    KanbanBoardView *m_board = nullptr;
    EditorOverlay *m_editorOverlay = nullptr;
};
