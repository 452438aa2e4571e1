#include "ContentView.h"

#include "AmbientBackground.h"
#include "BoardFileNotice.h"
#include "EditorOverlay.h"
#include "KanbanBoardView.h"
#include "QuickComposer.h"
#include "SearchField.h"
#include "SignInPanel.h"
#include "SyncStatusPill.h"
#include "ThoughtEditorView.h"
#include "board/BoardAccessibility.h"
#include "stores/BoardStore.h"
#include "support/GlassFrame.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

ContentView::ContentView(const AppServices &services, QWidget *parent)
    : QWidget(parent), m_store(services.store), m_syncService(services.syncService),
      m_services(services)
{
    // Before any widget of the window is seen by assistive technology, which keeps the first
    // answer it gets for each.
    BoardAccessibility::install();
    m_background = new AmbientBackground(this);

    m_content = new QWidget(this);
    auto *layout = new QVBoxLayout(m_content);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    layout->addWidget(topBar());
    m_fileNotice = new BoardFileNotice(m_store, m_content);
    layout->addWidget(m_fileNotice);
    m_composer = new QuickComposer(m_content);
    layout->addWidget(m_composer);
    m_board = new KanbanBoardView(m_store, m_content);
    layout->addWidget(m_board, 1);

    m_editorOverlay = new EditorOverlay(this);

    connect(m_composer, &QuickComposer::submitted, this, &ContentView::addQuickThought);
    connect(m_searchField, &SearchField::textEdited, m_store, &BoardStore::setSearchText);
    connect(m_store, &BoardStore::searchTextChanged, this,
            [this] { m_searchField->setText(m_store->searchText()); });
    connect(m_archiveButton, &GlassSymbolButton::clicked, m_store, &BoardStore::archiveCompleted);
    connect(m_editorOverlay, &EditorOverlay::backdropClicked, this, &ContentView::backdropClicked);
    connect(m_store, &BoardStore::thoughtsChanged, this, &ContentView::boardChangedUnderEditor);
    connect(m_board, &KanbanBoardView::editRequested, this, &ContentView::openEditor);
}

QWidget *ContentView::topBar()
{
    auto *bar = new QWidget(m_content);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);

    auto *titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(2);
    auto *title = new QLabel(QStringLiteral("Lumaret"), bar);
    title->setFont(roundedSystemFont(26, QFont::DemiBold));
    titleBlock->addWidget(title);
    m_subtitle = new QLabel(QStringLiteral("捕捉灵感，排进下一步"), bar);
    m_subtitle->setFont(textStyleFont(TextStyle::callout));
    titleBlock->addWidget(m_subtitle);
    updateColors();
    row->addLayout(titleBlock);

    row->addSpacerItem(new QSpacerItem(20, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));

    m_searchField = new SearchField(210, bar);
    m_searchField->setText(m_store->searchText());
    row->addWidget(m_searchField);

    m_archiveButton = new GlassSymbolButton(QStringLiteral("archivebox"), 30, 11, bar);
    m_archiveButton->setToolTip(QStringLiteral("归档已完成"));
    m_archiveButton->setAccessibleName(QStringLiteral("归档已完成"));
    row->addWidget(m_archiveButton);

    m_syncStatusPill = new SyncStatusPill(m_syncService, bar);
    row->addWidget(m_syncStatusPill);

    m_signInPanel = new SignInPanel(m_services.authService, bar);
    row->addWidget(m_signInPanel);
    return bar;
}

ThoughtEditorView *ContentView::editor() const
{
    return m_editorOverlay->editor();
}

void ContentView::openEditor(const Thought &thought)
{
    m_editingThought = thought;
    // Whatever an earlier editor reported, a newly opened one starts clean.
    m_editorHasChanges = false;
    auto *editorView = new ThoughtEditorView(m_store, thought);
    connect(editorView, &ThoughtEditorView::closeRequested, this, &ContentView::closeEditor);
    connect(editorView, &ThoughtEditorView::dirtyChanged, this,
            [this](bool hasChanges) { m_editorHasChanges = hasChanges; });
    m_editorOverlay->setGeometry(rect());
    const bool wasOpen = m_editorOverlay->editor() != nullptr;
    m_editorOverlay->present(editorView);
    if (!wasOpen)
        emit editorOpenChanged(true);
}

void ContentView::closeEditor()
{
    m_editorHasChanges = false;
    if (!m_editingThought)
        return;
    const QUuid edited = std::exchange(m_editingThought, std::nullopt)->id;
    m_editorOverlay->dismiss();
    // The focus is back where it was before the editor opened; a card that changed column on
    // the way takes the ring with it.
    if (QWidget *focus = QApplication::focusWidget(); focus && m_board->isAncestorOf(focus))
        m_board->followCard(edited);
    emit editorOpenChanged(false);
}

void ContentView::backdropClicked()
{
    // Unsaved edits are never dropped by a stray click beside the editor.
    if (!m_editorHasChanges)
        closeEditor();
    else if (ThoughtEditorView *open = editor())
        open->explainUnsavedChanges();
}

void ContentView::boardChangedUnderEditor()
{
    ThoughtEditorView *open = editor();
    if (!m_editingThought || !open || open->isCommitting())
        return;
    const Board &board = m_store->thoughts();
    const auto current = std::find_if(board.cbegin(), board.cend(), [this](const Thought &t) {
        return t.id == m_editingThought->id;
    });
    if (current == board.cend() || current->isDeleted) {
        QString text = QStringLiteral("正在编辑的想法「%1」已在别处删除，编辑窗口已关闭。")
                           .arg(m_editingThought->title);
        // Words typed here are shown where they can still be copied, never dropped unseen.
        if (m_editorHasChanges) {
            text += QStringLiteral("未保存的内容：标题「%1」，备注「%2」。")
                        .arg(open->title(), open->note());
        }
        closeEditor();
        m_fileNotice->showMessage(text);
        return;
    }
    if (*current != open->thought()) {
        m_editingThought = *current;
        open->thoughtChangedElsewhere(*current);
    }
}

void ContentView::addQuickThought()
{
    // The store decides what blank text becomes; the view hands it over unchanged.
    m_store->addQuickThought(m_composer->text());
    m_composer->setText(QString());
    m_composer->setFocused();
}

void ContentView::focusComposer()
{
    // An open editor keeps the keyboard: a thought typed now would land behind it.
    if (!m_editingThought)
        m_composer->setFocused();
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_background->setGeometry(rect());
    m_content->setGeometry(rect());
    m_editorOverlay->setGeometry(rect());
}

void ContentView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateColors();
}

void ContentView::updateColors()
{
    QPalette subtitlePalette = m_subtitle->palette();
    subtitlePalette.setColor(QPalette::WindowText, SystemColors::secondaryLabel(palette()));
    m_subtitle->setPalette(subtitlePalette);
}
