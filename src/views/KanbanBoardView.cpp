#include "KanbanBoardView.h"

#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "board/BoardAccessibility.h"
#include "board/KanbanDragState.h"
#include "stores/BoardStore.h"
#include "support/TextStyles.h"

#include <QDropEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

namespace {

constexpr int columnSpacing = 14;
// The smallest step of a card's age worth showing after the first minute.
constexpr int ageRefreshMilliseconds = 60 * 1000;

} // namespace

KanbanBoardView::KanbanBoardView(BoardStore *store, QWidget *parent)
    : QWidget(parent), m_store(store), m_dragState(new KanbanDragState(this)),
      m_ageTimer(new QTimer(this)), m_noMatch(new QLabel(this))
{
    setAcceptDrops(true);
    // A click on an empty part of the board takes the caret out of the text fields, so that the
    // keys that follow (Ctrl+Z above all) act on the board.
    setFocusPolicy(Qt::ClickFocus);
    // The bundled symbols live in a static library; without a reference to them the linker
    // drops them and every image draws empty.
    Q_INIT_RESOURCE(resources);
    BoardAccessibility::install();
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(columnSpacing);
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        auto *column = new KanbanColumn(store, m_dragState, status, this);
        layout->addWidget(column, 1);
        m_columns.append(column);
        connect(column, &KanbanColumn::editRequested, this, &KanbanBoardView::editRequested);
        KanbanCardList *cards = column->cardList();
        connect(cards, &KanbanCardList::followCard, this, &KanbanBoardView::followCard);
        connect(cards, &KanbanCardList::neighbourColumnRequested, this,
                [this, status](int step, int viewportY) {
                    focusNeighbourColumn(status, step, viewportY);
                });
    }
    // However a drag ends, once no card is dragged there is nothing to point at.
    connect(m_dragState, &KanbanDragState::draggingThoughtIDChanged, this, [this] {
        if (!m_dragState->isDragging())
            m_dragState->setDropTarget(std::nullopt, DropTargetChange::direct);
    });
    // Ages are worked out when a card is painted: repainting the lists redraws only the cards on
    // screen, and a hidden or minimised window paints nothing at all.
    connect(m_ageTimer, &QTimer::timeout, this, [this] {
        for (KanbanColumn *column : std::as_const(m_columns))
            column->cardList()->viewport()->update();
    });
    m_ageTimer->start(ageRefreshMilliseconds);
    m_noMatch->setTextFormat(Qt::PlainText);
    m_noMatch->setAlignment(Qt::AlignCenter);
    m_noMatch->setWordWrap(true);
    m_noMatch->setFont(textStyleFont(TextStyle::body));
    m_noMatch->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_noMatch->hide();
    connect(store, &BoardStore::thoughtsChanged, this, &KanbanBoardView::reload);
    connect(store, &BoardStore::searchTextChanged, this, [this] {
        reload();
        // Each search shows its matches from the top, not from where the last list was scrolled.
        for (KanbanColumn *column : std::as_const(m_columns))
            column->cardList()->verticalScrollBar()->setValue(0);
    });
    reload();
}

void KanbanBoardView::keyPressEvent(QKeyEvent *event)
{
    // Clicked into the board, not onto a card: the arrows find the first card.
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        followCard(std::nullopt);
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void KanbanBoardView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void KanbanBoardView::dragMoveEvent(QDragMoveEvent *event)
{
    // Between the columns the indicator stays where it was, and a drop here lands on it.
    if (!m_dragState->accepts(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void KanbanBoardView::dropEvent(QDropEvent *event)
{
    const std::optional<QUuid> dragging = m_dragState->draggingThoughtID();
    const std::optional<ThoughtDropTarget> target = m_dragState->dropTarget();
    if (!m_dragState->accepts(event->mimeData()) || !target) {
        m_dragState->clear();
        event->ignore();
        return;
    }
    m_store->move(*dragging, target->status, target->beforeThoughtID);
    m_dragState->clear();
    followCard(*dragging);
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

KanbanColumn *KanbanBoardView::column(ThoughtStatus status) const
{
    return m_columns.value(qsizetype(status));
}

void KanbanBoardView::followCard(const std::optional<QUuid> &id)
{
    // The store has already answered the change: the columns show the board as it is now.
    for (KanbanColumn *column : std::as_const(m_columns)) {
        KanbanCardList *cards = column->cardList();
        if (id ? cards->focusCard(*id) : cards->focusCardNear(0))
            return;
    }
}

void KanbanBoardView::focusNeighbourColumn(ThoughtStatus from, int step, int viewportY)
{
    // Columns without cards are passed over: there is nothing in them to put the focus on.
    for (int index = int(from) + step; index >= 0 && index < int(m_columns.size()); index += step) {
        KanbanCardList *cards = m_columns[index]->cardList();
        if (!cards->thoughts().isEmpty()) {
            cards->focusCardNear(viewportY);
            return;
        }
    }
}

void KanbanBoardView::reload()
{
    const ThoughtsByStatus byStatus = m_store->visibleThoughtsByStatus();
    bool anyShown = false;
    for (KanbanColumn *column : std::as_const(m_columns)) {
        column->setThoughts(byStatus[column->status()]);
        anyShown = anyShown || !byStatus[column->status()].isEmpty();
    }
    const bool noMatch = !anyShown && !m_store->searchText().trimmed().isEmpty();
    for (KanbanColumn *column : std::as_const(m_columns))
        column->cardList()->setPlaceholderShown(!noMatch);
    m_noMatch->setText(
        QStringLiteral("没有与「%1」匹配的想法").arg(m_store->searchText().trimmed()));
    m_noMatch->setVisible(noMatch);
    m_noMatch->raise();
}

void KanbanBoardView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Across all columns, where their placeholders would be.
    m_noMatch->setGeometry(0, 60, width(), 118);
}
