// What a card list's user can do to a card without dragging it: the keyboard (which card holds
// the focus and what the keys do to it) and the context menu, which names the same keys. Every
// change of place goes through the store, and the focus follows the card wherever it went.

#include "KanbanCardList.h"

#include "board/BoardAccessibility.h"
#include "stores/BoardStore.h"
#include "support/LumaretStyle.h"
#include "support/SymbolIcon.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>

void KanbanCardList::setCurrentIndex(qsizetype index)
{
    if (index < 0 || index >= m_thoughts.size())
        return;
    m_currentId = m_thoughts.at(index).id;
    scrollToIndex(index);
    viewport()->update();
    BoardAccessibility::notifyCurrentCardChanged(this);
}

void KanbanCardList::scrollToIndex(qsizetype index)
{
    // The ring is drawn on the card's edge: keep the inset above it in view as well.
    verticalScrollBar()->setValue(m_layout.scrollToShow(index, scrollY(), viewport()->height()));
    // Cards newly in view are measured now; their real heights may move the one we want.
    layoutVisibleCards();
}

bool KanbanCardList::focusCard(const QUuid &id)
{
    const qsizetype index = indexOf(id);
    if (index < 0)
        return false;
    setCurrentIndex(index);
    setFocus(Qt::OtherFocusReason);
    return true;
}

bool KanbanCardList::focusCardNear(int viewportY)
{
    if (m_thoughts.isEmpty())
        return false;
    const qsizetype index =
        qMin(m_layout.firstEndingAfter(viewportY + scrollY()), m_thoughts.size() - 1);
    return focusCard(m_thoughts.at(index).id);
}

void KanbanCardList::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    // Tabbing in starts at the first card; any other way back in finds the card it left.
    const bool tabbedIn =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (!m_thoughts.isEmpty() && (tabbedIn || indexOf(m_currentId) < 0))
        setCurrentIndex(0);
    else
        BoardAccessibility::notifyCurrentCardChanged(this);
    viewport()->update();
}

void KanbanCardList::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void KanbanCardList::keyPressEvent(QKeyEvent *event)
{
    const qsizetype index = indexOf(m_currentId);
    if (index >= 0 && handleCardKey(event, index)) {
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

bool KanbanCardList::handleCardKey(QKeyEvent *event, qsizetype index)
{
    const Thought thought = m_thoughts.at(index);
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    const qsizetype last = m_thoughts.size() - 1;
    const int cardY = m_layout.top(index) - scrollY();
    const auto pageTarget = [&](int direction) {
        return m_layout.pageFrom(index, direction, viewport()->height());
    };
    // A change of place goes through the store; the focus then follows the card to wherever
    // the board shows it.
    const auto moveTo = [&](ThoughtStatus status, const std::optional<QUuid> &before) {
        m_store->move(thought.id, status, before);
        emit followCard(thought.id);
    };
    const int statusIndex = int(m_status);

    if (modifiers == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Up:
            setCurrentIndex(qMax<qsizetype>(0, index - 1));
            return true;
        case Qt::Key_Down:
            setCurrentIndex(qMin(last, index + 1));
            return true;
        case Qt::Key_Home:
            setCurrentIndex(0);
            return true;
        case Qt::Key_End:
            setCurrentIndex(last);
            return true;
        case Qt::Key_PageUp:
            setCurrentIndex(pageTarget(-1));
            return true;
        case Qt::Key_PageDown:
            setCurrentIndex(pageTarget(1));
            return true;
        case Qt::Key_Left:
        case Qt::Key_Right:
            emit neighbourColumnRequested(event->key() == Qt::Key_Left ? -1 : 1, cardY);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            emit editRequested(thought);
            return true;
        case Qt::Key_Delete: {
            const std::optional<QUuid> neighbour =
                index < last ? std::optional(m_thoughts.at(index + 1).id)
                : index > 0  ? std::optional(m_thoughts.at(index - 1).id)
                             : std::nullopt;
            m_store->deleteThought(thought);
            emit followCard(neighbour);
            return true;
        }
        default:
            return false;
        }
    }
    if (modifiers == Qt::ControlModifier &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        m_store->advance(thought.id);
        emit followCard(thought.id);
        return true;
    }
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        switch (event->key()) {
        case Qt::Key_Left:
            if (statusIndex > 0)
                moveTo(ThoughtStatuses::allCases[size_t(statusIndex - 1)], std::nullopt);
            return true;
        case Qt::Key_Right:
            if (statusIndex + 1 < int(ThoughtStatuses::allCases.size()))
                moveTo(ThoughtStatuses::allCases[size_t(statusIndex + 1)], std::nullopt);
            return true;
        case Qt::Key_Up:
            if (index > 0)
                moveTo(m_status, m_thoughts.at(index - 1).id);
            return true;
        case Qt::Key_Down:
            if (index < last)
                moveTo(m_status, index + 1 < last ? std::optional(m_thoughts.at(index + 2).id)
                                                  : std::nullopt);
            return true;
        default:
            return false;
        }
    }
    return false;
}

void KanbanCardList::contextMenuEvent(QContextMenuEvent *event)
{
    const qsizetype index = cardIndexAt(event->pos());
    if (index < 0)
        return;
    const Thought thought = m_thoughts.at(index);
    QMenu menu(this);
    const QColor iconColor = palette().color(QPalette::WindowText);
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        QAction *action =
            menu.addAction(symbolIcon(ThoughtStatuses::systemImage(status), iconColor, 16),
                           ThoughtStatuses::title(status));
        connect(action, &QAction::triggered, this, [this, id = thought.id, status] {
            m_store->move(id, status, std::nullopt);
            emit followCard(id);
        });
        // The keys that do the same on a focused card, shown beside the neighbouring columns.
        const int step = int(status) - int(m_status);
        if (step == -1 || step == 1) {
            action->setShortcut(
                QKeySequence(Qt::CTRL | Qt::SHIFT | (step < 0 ? Qt::Key_Left : Qt::Key_Right)));
            action->setShortcutVisibleInContextMenu(true);
        }
    }
    menu.addSeparator();
    QAction *deleteAction = menu.addAction(
        symbolIcon(QStringLiteral("trash"), QColor::fromRgbF(1.0f, 0.23f, 0.19f), 16),
        QStringLiteral("删除"));
    deleteAction->setProperty(destructiveActionProperty, true);
    deleteAction->setShortcut(QKeySequence(Qt::Key_Delete));
    deleteAction->setShortcutVisibleInContextMenu(true);
    connect(deleteAction, &QAction::triggered, this,
            [this, thought] { m_store->deleteThought(thought); });
    // The open hand is an application-wide cursor: it must not follow the pointer into the menu.
    setHovered(std::nullopt);
    QPointer<KanbanCardList> self(this);
    menu.exec(event->globalPos());
    if (self)
        refreshHoverFromCursor();
}
