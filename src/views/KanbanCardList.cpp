// The card list's widget side: it measures the cards CardListLayout places, paints those in
// view, and takes the mouse (hover, clicks, the overlay scroll bar). A little over 400 lines: the
// click timing and the layout cache kept for the paint belong with the painting and the mouse.

#include "KanbanCardList.h"

#include "EmptyColumnView.h"
#include "board/BoardAccessibility.h"
#include "board/DragAutoScroll.h"
#include "board/DropInsertionIndicator.h"
#include "stores/BoardStore.h"
#include "support/LumaretStyle.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleHints>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal draggedCardOpacity = 0.42;
constexpr qreal draggedCardScale = 0.985;
constexpr int indicatorTransitionMs = 120;
// Laid-out cards kept for reuse per column: enough for a few screens and a search typed and
// deleted again, while scrolling through thousands of cards keeps memory flat.
constexpr qsizetype maxCachedLayouts = 300;

} // namespace

KanbanCardList::KanbanCardList(BoardStore *store, KanbanDragState *dragState, ThoughtStatus status,
                               QWidget *parent)
    : QAbstractScrollArea(parent), m_store(store), m_dragState(dragState), m_status(status)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    setAccessibleName(ThoughtStatuses::title(status));

    // While the list scrolls under a held card, the insertion line follows the content.
    m_autoScroll = new DragAutoScroll(this);
    connect(m_autoScroll, &DragAutoScroll::scrolled, this, [this](const QPointF &viewportPos) {
        if (m_dragState->isDragging())
            m_dragState->setDropTarget(targetAt(viewportPos), DropTargetChange::direct);
    });

    m_singleClickTimer.setSingleShot(true);
    connect(&m_singleClickTimer, &QTimer::timeout, this, &KanbanCardList::openPendingClick);

    m_indicatorAnimation.setStartValue(0.0);
    m_indicatorAnimation.setEndValue(1.0);
    m_indicatorAnimation.setDuration(indicatorTransitionMs);
    m_indicatorAnimation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_indicatorAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) {
                m_indicatorAppearance = value.toReal();
                viewport()->update();
            });
    connect(&m_indicatorAnimation, &QVariantAnimation::finished, this, [this] {
        m_leavingIndicator.reset();
        m_indicatorAppearance = 1;
        viewport()->update();
    });

    m_scrollBar = new OverlayScrollBar(this);
    m_layout.setDragging(m_dragState->isDragging());

    connect(m_dragState, &KanbanDragState::dropTargetChanged, this,
            &KanbanCardList::onDropTargetChanged);
    connect(m_dragState, &KanbanDragState::draggingThoughtIDChanged, this,
            &KanbanCardList::onDraggingChanged);
}

KanbanCardList::~KanbanCardList()
{
    if (m_hasPushedCursor)
        QGuiApplication::restoreOverrideCursor();
}

QSize KanbanCardList::sizeHint() const
{
    return QSize(200, 400);
}

void KanbanCardList::setThoughts(const Board &thoughts)
{
    m_thoughts = thoughts;
    // Tab passes over a column without cards; the keyboard has nothing to do there.
    setFocusPolicy(m_thoughts.isEmpty() ? Qt::NoFocus : Qt::StrongFocus);
    m_laidOutCardCount = 0;
    rebuildEntries();
    updateScrollRange();
    if (m_hoveredId) {
        const bool stillHere = std::any_of(m_thoughts.cbegin(), m_thoughts.cend(),
                                           [&](const Thought &t) { return t.id == *m_hoveredId; });
        if (!stillHere)
            setHovered(std::nullopt);
    }
    onDropTargetChanged(DropTargetChange::direct);
    viewport()->update();
    BoardAccessibility::notifyCardsChanged(this);
}

void KanbanCardList::setPlaceholderShown(bool shown)
{
    if (std::exchange(m_placeholderShown, shown) != shown)
        viewport()->update();
}

int KanbanCardList::cardWidth() const
{
    // The strip on the right is the scroll bar's, so that its thumb never covers a card's edge.
    return qMax(0, viewport()->width() - scrollStripWidth);
}

int KanbanCardList::scrollY() const
{
    return verticalScrollBar()->value();
}

void KanbanCardList::rebuildEntries()
{
    const int width = cardWidth();
    std::vector<CardListLayout::Card> cards(size_t(m_thoughts.size()));
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        const Thought &thought = m_thoughts.at(i);
        const auto cached =
            m_layouts.isEmpty() ? m_layouts.constEnd() : m_layouts.constFind(thought.id);
        if (cached != m_layouts.constEnd() && cached->width == width &&
            cached->title == thought.title && cached->note == thought.note)
            cards[size_t(i)] = {cached->layout.height, true};
        else
            cards[size_t(i)] = {ThoughtCard::estimatedHeight(thought), false};
    }
    m_layout.setCards(std::move(cards));
}

void KanbanCardList::layoutVisibleCards()
{
    const int width = cardWidth();
    if (width <= 0 || m_layout.count() == 0)
        return;
    if (m_layouts.size() > maxCachedLayouts) {
        // Measured heights stay as the estimates; only the cards in view are laid out again.
        m_layouts.clear();
        m_layout.forgetMeasurements();
    }
    const int oldScrollY = scrollY();
    const int newScrollY =
        m_layout.measureVisible(oldScrollY, viewport()->height(), [&](qsizetype index) {
            const Thought &thought = m_thoughts.at(index);
            CachedLayout cached{width, thought.title, thought.note,
                                ThoughtCard::layout(thought, width)};
            ++m_laidOutCardCount;
            const int height = cached.layout.height;
            m_layouts.insert(thought.id, std::move(cached));
            return height;
        });
    const QSignalBlocker blocker(verticalScrollBar());
    updateScrollRange();
    if (newScrollY != oldScrollY)
        verticalScrollBar()->setValue(newScrollY);
}

const ThoughtCard::Layout *KanbanCardList::cachedLayout(qsizetype index) const
{
    const auto cached = m_layouts.constFind(m_thoughts.at(index).id);
    return cached == m_layouts.constEnd() ? nullptr : &cached->layout;
}

void KanbanCardList::updateScrollRange()
{
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(24);
    verticalScrollBar()->setRange(0, qMax(0, m_layout.contentHeight() - viewport()->height()));
}

qsizetype KanbanCardList::cardIndexAt(const QPointF &viewportPos) const
{
    if (!viewport()->rect().contains(viewportPos.toPoint()))
        return -1;
    return m_layout.cardAt(int(std::floor(viewportPos.y())) + scrollY());
}

std::optional<QUuid> KanbanCardList::cardIdAt(const QPointF &viewportPos) const
{
    const qsizetype index = cardIndexAt(viewportPos);
    return index >= 0 ? std::optional<QUuid>(m_thoughts.at(index).id) : std::nullopt;
}

QRect KanbanCardList::cardRect(const QUuid &id)
{
    layoutVisibleCards();
    const qsizetype index = indexOf(id);
    if (index < 0)
        return QRect();
    return QRect(0, m_layout.top(index) - scrollY(), cardWidth(), m_layout.height(index));
}

QRect KanbanCardList::endZoneRect()
{
    layoutVisibleCards();
    return m_layout.endZone(cardWidth()).translated(0, -scrollY());
}

void KanbanCardList::paintEvent(QPaintEvent *event)
{
    layoutVisibleCards();
    QPainter painter(viewport());
    const int width = cardWidth();
    const int scrollY = this->scrollY();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const std::optional<QUuid> dragging = m_dragState->draggingThoughtID();
    const QRect exposed = event->rect();

    if (m_layout.count() == 0 && m_placeholderShown)
        EmptyColumnView::paint(painter, m_layout.endZone(width).translated(0, -scrollY), m_status,
                               palette());
    for (qsizetype i = m_layout.firstEndingAfter(scrollY + exposed.top());
         i < m_layout.count() && m_layout.top(i) - scrollY <= exposed.bottom(); ++i) {
        const Thought &thought = m_thoughts.at(i);
        const ThoughtCard::Layout *layout = cachedLayout(i);
        if (!layout)
            continue;
        const QRect rect(0, m_layout.top(i) - scrollY, width, m_layout.height(i));
        const ThoughtCardLook look{m_hoveredId == thought.id, dragging.has_value()};
        painter.save();
        if (dragging == thought.id) {
            // The dragged card stays where it was, faded and slightly smaller.
            painter.setOpacity(draggedCardOpacity);
            const QPointF centre = QRectF(rect).center();
            painter.translate(centre);
            painter.scale(draggedCardScale, draggedCardScale);
            painter.translate(-centre);
        }
        ThoughtCard::paint(painter, rect, thought, *layout, look, palette(), now);
        if (hasFocus() && m_currentId == thought.id)
            paintFocusRing(painter, QRectF(rect), ThoughtCard::cornerRadius, palette());
        painter.restore();
    }

    // The indicator is drawn centred on its host's top edge.
    if (m_leavingIndicator) {
        if (const auto lineY = indicatorLineY(*m_leavingIndicator))
            DropInsertionIndicator::paint(painter, width, *lineY, m_status,
                                          1 - m_indicatorAppearance);
    }
    if (m_indicator) {
        if (const auto lineY = indicatorLineY(*m_indicator))
            DropInsertionIndicator::paint(painter, width, *lineY, m_status, m_indicatorAppearance);
    }

    m_scrollBar->paint(painter);
}

void KanbanCardList::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    // Cards laid out for another width are measured again when they come into view.
    if (event->oldSize().width() != event->size().width()) {
        m_layouts.clear();
        rebuildEntries();
    }
    updateScrollRange();
}

void KanbanCardList::scrollContentsBy(int, int)
{
    m_scrollBar->reveal();
    if (viewport()->underMouse())
        refreshHoverFromCursor();
    viewport()->update();
}

bool KanbanCardList::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ToolTip: {
        const auto *help = static_cast<QHelpEvent *>(event);
        const qsizetype index = cardIndexAt(help->pos());
        if (index >= 0) {
            QToolTip::showText(help->globalPos(), ThoughtCard::toolTip(), viewport(),
                               cardRect(m_thoughts.at(index).id));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    case QEvent::Enter:
        m_scrollBar->reveal();
        break;
    case QEvent::Leave:
        setHovered(std::nullopt);
        m_scrollBar->pointerLeft();
        break;
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void KanbanCardList::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    if (m_scrollBar->press(event)) {
        event->accept();
        return;
    }
    const qsizetype index = cardIndexAt(event->position());
    m_pressedId = cardIdAt(event->position());
    m_pressPosition = event->position().toPoint();
    if (index >= 0)
        setCurrentIndex(index);
    event->accept();
}

void KanbanCardList::mouseMoveEvent(QMouseEvent *event)
{
    if (m_scrollBar->move(event))
        return;
    if (m_pressedId && (event->buttons() & Qt::LeftButton) &&
        (event->position().toPoint() - m_pressPosition).manhattanLength() >=
            QApplication::startDragDistance()) {
        const QUuid id = *m_pressedId;
        m_pressedId.reset();
        const auto it = std::find_if(m_thoughts.cbegin(), m_thoughts.cend(),
                                     [&](const Thought &t) { return t.id == id; });
        if (it != m_thoughts.cend())
            startDrag(*it);
        return;
    }
    setHovered(cardIdAt(event->position()));
}

void KanbanCardList::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_scrollBar->release())
        return;
    const std::optional<QUuid> pressed = std::exchange(m_pressedId, std::nullopt);
    if (std::exchange(m_ignoreNextRelease, false))
        return;
    const qsizetype index = cardIndexAt(event->position());
    if (!pressed || index < 0 || m_thoughts.at(index).id != *pressed)
        return;
    // A single click counts only once no second click followed within the double-click time.
    m_pendingClickId = pressed;
    m_singleClickTimer.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

void KanbanCardList::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_singleClickTimer.stop();
    m_pendingClickId.reset();
    m_pressedId.reset();
    m_ignoreNextRelease = true;
    const qsizetype index = cardIndexAt(event->position());
    if (index >= 0) {
        const QUuid id = m_thoughts.at(index).id;
        m_store->advance(id);
        emit followCard(id);
    }
}

void KanbanCardList::openPendingClick()
{
    const std::optional<QUuid> id = std::exchange(m_pendingClickId, std::nullopt);
    if (!id)
        return;
    // The editor gets the thought as this column holds it now; a card that has left the column
    // in the meantime opens nothing.
    const auto it = std::find_if(m_thoughts.cbegin(), m_thoughts.cend(),
                                 [&](const Thought &t) { return t.id == *id; });
    if (it != m_thoughts.cend())
        emit editRequested(*it);
}

void KanbanCardList::setHovered(const std::optional<QUuid> &id)
{
    if (m_hoveredId == id)
        return;
    m_hoveredId = id;
    if (id && !m_hasPushedCursor) {
        QGuiApplication::setOverrideCursor(Qt::OpenHandCursor);
        m_hasPushedCursor = true;
    } else if (!id && m_hasPushedCursor) {
        QGuiApplication::restoreOverrideCursor();
        m_hasPushedCursor = false;
    }
    viewport()->update();
}

void KanbanCardList::refreshHoverFromCursor()
{
    if (!isVisible()) {
        setHovered(std::nullopt);
        return;
    }
    const QPoint pos = viewport()->mapFromGlobal(QCursor::pos());
    setHovered(cardIdAt(pos));
}

qsizetype KanbanCardList::indexOf(const std::optional<QUuid> &id) const
{
    if (!id)
        return -1;
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        if (m_thoughts.at(i).id == *id)
            return i;
    }
    return -1;
}
