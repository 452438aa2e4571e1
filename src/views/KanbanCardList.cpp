#include "KanbanCardList.h"

#include "DragPreview.h"
#include "EmptyColumnView.h"
#include "board/BoardAccessibility.h"
#include "board/DragAutoScroll.h"
#include "board/DropInsertionIndicator.h"
#include "board/KanbanDragState.h"
#include "stores/BoardStore.h"
#include "support/LumaretStyle.h"
#include "support/SymbolIcon.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleHints>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr int cardSpacing = 10;
// The list starts this far above its first card, inside the gap below the column header, so
// that the insertion indicator over the first card, centred on the card's top edge, is not cut.
constexpr int topInset = DropInsertionIndicator::height / 2;
constexpr int bottomPadding = 4;
constexpr int tailHeightWhileDragging = 72;
constexpr int tailHeightIdle = 8;
constexpr qreal draggedCardOpacity = 0.42;
constexpr qreal draggedCardScale = 0.985;
constexpr int indicatorTransitionMs = 120;
// The overlay scroll bar: a thin thumb along the right edge that shows while the pointer is over
// the list or it scrolls, and fades away a moment after.
constexpr qreal scrollThumbWidth = 5;
constexpr qreal scrollThumbMargin = 2;
constexpr int scrollThumbMinimumHeight = 28;
constexpr int scrollBarFadeMs = 160;
constexpr int scrollBarIdleMs = 1200;
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

    m_scrollBarFade.setDuration(scrollBarFadeMs);
    m_scrollBarFade.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_scrollBarFade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) {
                m_scrollBarOpacity = value.toReal();
                viewport()->update();
            });
    m_scrollBarIdle.setSingleShot(true);
    m_scrollBarIdle.setInterval(scrollBarIdleMs);
    connect(&m_scrollBarIdle, &QTimer::timeout, this, [this] {
        if (!viewport()->underMouse() && !m_thumbDrag)
            fadeScrollBarTo(0);
    });

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

void KanbanCardList::rebuildEntries()
{
    const int width = cardWidth();
    m_entries.assign(size_t(m_thoughts.size()), Entry());
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        const Thought &thought = m_thoughts.at(i);
        Entry &entry = m_entries[size_t(i)];
        const auto cached =
            m_layouts.isEmpty() ? m_layouts.constEnd() : m_layouts.constFind(thought.id);
        if (cached != m_layouts.constEnd() && cached->width == width &&
            cached->title == thought.title && cached->note == thought.note) {
            entry.height = cached->layout.height;
            entry.isLaidOut = true;
        } else {
            entry.height = ThoughtCard::estimatedHeight(thought);
        }
    }
    recomputeTops(0);
}

void KanbanCardList::recomputeTops(size_t from)
{
    int top =
        from == 0 ? topInset : m_entries[from - 1].top + m_entries[from - 1].height + cardSpacing;
    for (size_t i = from; i < m_entries.size(); ++i) {
        m_entries[i].top = top;
        top += m_entries[i].height + cardSpacing;
    }
}

void KanbanCardList::layoutVisibleCards()
{
    const int width = cardWidth();
    if (width <= 0 || m_entries.empty())
        return;
    if (m_layouts.size() > maxCachedLayouts) {
        // Measured heights stay as the estimates; only the cards in view are laid out again.
        m_layouts.clear();
        for (Entry &entry : m_entries)
            entry.isLaidOut = false;
    }
    int scrollY = verticalScrollBar()->value();
    const int viewHeight = viewport()->height();
    bool scrollMoved = false;
    for (size_t i = size_t(firstEntryEndingAfter(scrollY));
         i < m_entries.size() && m_entries[i].top < scrollY + viewHeight; ++i) {
        Entry &entry = m_entries[i];
        if (entry.isLaidOut)
            continue;
        const Thought &thought = m_thoughts.at(qsizetype(i));
        CachedLayout cached{width, thought.title, thought.note,
                            ThoughtCard::layout(thought, width)};
        ++m_laidOutCardCount;
        const int delta = cached.layout.height - entry.height;
        const bool startsAbove = entry.top < scrollY;
        entry.height = cached.layout.height;
        entry.isLaidOut = true;
        m_layouts.insert(thought.id, std::move(cached));
        if (delta != 0) {
            recomputeTops(i + 1);
            // A card that was only partly in view from above grew or shrank: keep what the user
            // is looking at in place.
            if (startsAbove) {
                scrollY += delta;
                scrollMoved = true;
            }
        }
    }
    const QSignalBlocker blocker(verticalScrollBar());
    updateScrollRange();
    if (scrollMoved)
        verticalScrollBar()->setValue(scrollY);
}

const ThoughtCard::Layout *KanbanCardList::cachedLayout(qsizetype index) const
{
    const auto cached = m_layouts.constFind(m_thoughts.at(index).id);
    return cached == m_layouts.constEnd() ? nullptr : &cached->layout;
}

int KanbanCardList::tailHeight() const
{
    return m_dragState->isDragging() ? tailHeightWhileDragging : tailHeightIdle;
}

int KanbanCardList::tailTop() const
{
    if (m_entries.empty())
        return topInset;
    return m_entries.back().top + m_entries.back().height + cardSpacing;
}

int KanbanCardList::contentHeight() const
{
    if (m_entries.empty())
        return topInset + EmptyColumnView::height + bottomPadding;
    return tailTop() + tailHeight() + bottomPadding;
}

void KanbanCardList::updateScrollRange()
{
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(24);
    verticalScrollBar()->setRange(0, qMax(0, contentHeight() - viewport()->height()));
}

qsizetype KanbanCardList::firstEntryEndingAfter(int contentY) const
{
    const auto it =
        std::partition_point(m_entries.cbegin(), m_entries.cend(), [contentY](const Entry &entry) {
            return entry.top + entry.height <= contentY;
        });
    return qsizetype(it - m_entries.cbegin());
}

qsizetype KanbanCardList::cardIndexAt(const QPointF &viewportPos) const
{
    if (!viewport()->rect().contains(viewportPos.toPoint()))
        return -1;
    const int contentY = int(std::floor(viewportPos.y())) + verticalScrollBar()->value();
    const qsizetype index = firstEntryEndingAfter(contentY);
    if (index < qsizetype(m_entries.size()) && m_entries[size_t(index)].top <= contentY)
        return index;
    return -1;
}

ThoughtDropTarget KanbanCardList::targetAt(const QPointF &viewportPos) const
{
    const ThoughtDropTarget columnEnd{m_status, std::nullopt};
    const qreal contentY = viewportPos.y() + verticalScrollBar()->value();
    const qsizetype index = firstEntryEndingAfter(int(std::floor(contentY)));
    if (index >= qsizetype(m_entries.size()))
        return columnEnd;
    const Entry &entry = m_entries[size_t(index)];
    // The upper half, the exact middle included, and the gap above the card land before it; the
    // lower half before the next card, or at the end of the column after the last one.
    if (contentY - entry.top <= entry.height / 2.0)
        return ThoughtDropTarget{m_status, m_thoughts.at(index).id};
    if (index + 1 < m_thoughts.size())
        return ThoughtDropTarget{m_status, m_thoughts.at(index + 1).id};
    return columnEnd;
}

std::optional<qreal> KanbanCardList::indicatorLineY(const ThoughtDropTarget &target) const
{
    const int scrollY = verticalScrollBar()->value();
    if (!target.beforeThoughtID)
        return qreal(tailTop() - scrollY);
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        if (m_thoughts.at(i).id == *target.beforeThoughtID)
            return qreal(m_entries[size_t(i)].top - scrollY);
    }
    return std::nullopt;
}

QRect KanbanCardList::cardRect(const QUuid &id)
{
    layoutVisibleCards();
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        if (m_thoughts.at(i).id == id) {
            const Entry &entry = m_entries[size_t(i)];
            return QRect(0, entry.top - verticalScrollBar()->value(), cardWidth(), entry.height);
        }
    }
    return QRect();
}

QRect KanbanCardList::endZoneRect()
{
    layoutVisibleCards();
    const int scrollY = verticalScrollBar()->value();
    if (m_entries.empty())
        return QRect(0, topInset - scrollY, cardWidth(), EmptyColumnView::height);
    return QRect(0, tailTop() - scrollY, cardWidth(), tailHeight());
}

void KanbanCardList::paintEvent(QPaintEvent *event)
{
    layoutVisibleCards();
    QPainter painter(viewport());
    const int width = cardWidth();
    const int scrollY = verticalScrollBar()->value();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const std::optional<QUuid> dragging = m_dragState->draggingThoughtID();
    const QRect exposed = event->rect();

    if (m_entries.empty() && m_placeholderShown) {
        EmptyColumnView::paint(painter,
                               QRect(0, topInset - scrollY, width, EmptyColumnView::height),
                               m_status, palette());
    }
    for (size_t i = size_t(firstEntryEndingAfter(scrollY + exposed.top()));
         i < m_entries.size() && m_entries[i].top - scrollY <= exposed.bottom(); ++i) {
        const Thought &thought = m_thoughts.at(qsizetype(i));
        const ThoughtCard::Layout *layout = cachedLayout(qsizetype(i));
        if (!layout)
            continue;
        const QRect rect(0, m_entries[i].top - scrollY, width, m_entries[i].height);
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

    const QRectF thumb = scrollThumbRect();
    if (m_scrollBarOpacity > 0 && !thumb.isEmpty()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(secondaryLabel(palette()));
        painter.setOpacity(m_scrollBarOpacity * (m_thumbDrag ? 0.9 : 0.6));
        painter.drawRoundedRect(thumb, thumb.width() / 2, thumb.width() / 2);
    }
}

QRectF KanbanCardList::scrollThumbRect() const
{
    const QScrollBar *bar = verticalScrollBar();
    const int viewHeight = viewport()->height();
    if (bar->maximum() <= 0 || viewHeight <= 0)
        return {};
    const qreal track = viewHeight - 2 * scrollThumbMargin;
    const qreal length =
        qMax<qreal>(scrollThumbMinimumHeight, track * viewHeight / (viewHeight + bar->maximum()));
    const qreal top = scrollThumbMargin + (track - length) * bar->value() / bar->maximum();
    return {viewport()->width() - scrollStripWidth / 2.0 - scrollThumbWidth / 2, top,
            scrollThumbWidth, length};
}

void KanbanCardList::revealScrollBar()
{
    if (verticalScrollBar()->maximum() <= 0)
        return;
    fadeScrollBarTo(1);
    m_scrollBarIdle.start();
}

void KanbanCardList::fadeScrollBarTo(qreal opacity)
{
    if (qFuzzyCompare(m_scrollBarFade.endValue().toReal() + 1, opacity + 1) &&
        m_scrollBarFade.state() == QAbstractAnimation::Running)
        return;
    m_scrollBarFade.stop();
    m_scrollBarFade.setStartValue(m_scrollBarOpacity);
    m_scrollBarFade.setEndValue(opacity);
    m_scrollBarFade.start();
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
    revealScrollBar();
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
        revealScrollBar();
        break;
    case QEvent::Leave:
        setHovered(std::nullopt);
        m_scrollBarIdle.start();
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
    const QRectF thumb = scrollThumbRect();
    if (!thumb.isEmpty() && m_scrollBarOpacity > 0 &&
        event->position().x() >= thumb.left() - scrollThumbMargin) {
        // A press beside the thumb pages towards it, as on any scroll bar.
        if (event->position().y() < thumb.top() || event->position().y() > thumb.bottom())
            verticalScrollBar()->triggerAction(event->position().y() < thumb.top()
                                                   ? QAbstractSlider::SliderPageStepSub
                                                   : QAbstractSlider::SliderPageStepAdd);
        m_thumbDrag = qMakePair(event->position().y(), verticalScrollBar()->value());
        event->accept();
        return;
    }
    const qsizetype index = cardIndexAt(event->position());
    m_pressedId = index >= 0 ? std::optional<QUuid>(m_thoughts.at(index).id) : std::nullopt;
    m_pressPosition = event->position().toPoint();
    if (index >= 0)
        setCurrentIndex(index);
    event->accept();
}

void KanbanCardList::mouseMoveEvent(QMouseEvent *event)
{
    if (m_thumbDrag) {
        const QRectF thumb = scrollThumbRect();
        const qreal travel = viewport()->height() - 2 * scrollThumbMargin - thumb.height();
        if (travel > 0) {
            const qreal moved = event->position().y() - m_thumbDrag->first;
            verticalScrollBar()->setValue(m_thumbDrag->second +
                                          qRound(moved * verticalScrollBar()->maximum() / travel));
        }
        return;
    }
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
    const qsizetype index = cardIndexAt(event->position());
    setHovered(index >= 0 ? std::optional<QUuid>(m_thoughts.at(index).id) : std::nullopt);
}

void KanbanCardList::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (std::exchange(m_thumbDrag, std::nullopt)) {
        m_scrollBarIdle.start();
        viewport()->update();
        return;
    }
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

bool KanbanCardList::dragOver(const QPointF &viewportPos, const QMimeData *mimeData)
{
    if (!m_dragState->accepts(mimeData))
        return false;
    m_dragState->setDropTarget(targetAt(viewportPos), DropTargetChange::animated);
    m_autoScroll->dragMoved(viewportPos);
    return true;
}

bool KanbanCardList::dropAt(const QPointF &viewportPos, const QMimeData *mimeData)
{
    if (!m_dragState->accepts(mimeData)) {
        m_dragState->clear();
        return false;
    }
    // The target is worked out again from where the card was let go, not read from the state.
    return commitDrop(targetAt(viewportPos));
}

void KanbanCardList::dragEnterEvent(QDragEnterEvent *event)
{
    if (!dragOver(event->position(), event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void KanbanCardList::dragMoveEvent(QDragMoveEvent *event)
{
    if (!dragOver(event->position(), event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void KanbanCardList::dragLeaveEvent(QDragLeaveEvent *event)
{
    // The indicator stays where it was until another zone takes over or the drag ends.
    event->accept();
}

void KanbanCardList::dropEvent(QDropEvent *event)
{
    if (dropAt(event->position(), event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

bool KanbanCardList::commitDrop(const ThoughtDropTarget &target)
{
    const std::optional<QUuid> dragging = m_dragState->draggingThoughtID();
    if (!dragging)
        return false;
    m_store->move(*dragging, target.status, target.beforeThoughtID);
    // The focus, and with it what a screen reader reads, goes with the card to its new place.
    emit followCard(*dragging);
    m_dragState->clear();
    return true;
}

void KanbanCardList::startDrag(const Thought &thought)
{
    m_singleClickTimer.stop();
    m_pendingClickId.reset();
    m_dragState->setDraggingThoughtID(thought.id);

    auto *mimeData = new QMimeData;
    mimeData->setText(uuidText(thought.id));
    auto *drag = new QDrag(this);
    drag->setMimeData(mimeData);
    const qreal dpr = devicePixelRatioF();
    const QPixmap preview = DragPreviewCard::render(thought, palette(), dpr);
    drag->setPixmap(preview);
    // The preview hangs just below the pointer so it never hides the insertion indicator, which
    // is drawn on the line the pointer points at.
    drag->setHotSpot(QPoint(20, -14));

    QPointer<KanbanCardList> self(this);
    QPointer<KanbanDragState> state(m_dragState);
    QTimer::singleShot(0, this, &DragPreviewCard::shapeDragWindow);
    drag->exec(Qt::MoveAction);
    // Every drag ends here, also one let go outside the board or cancelled, where no drop zone
    // clears the state: the card would otherwise stay faded and the tail zones tall.
    if (state && state->isDragging())
        state->clear();
    if (self)
        self->refreshHoverFromCursor();
}

void KanbanCardList::onDropTargetChanged(DropTargetChange change)
{
    std::optional<ThoughtDropTarget> mine = m_dragState->dropTarget();
    if (mine && mine->status != m_status)
        mine.reset();
    if (!mine)
        m_autoScroll->stop();
    if (mine == m_indicator)
        return;
    if (change == DropTargetChange::direct) {
        m_indicatorAnimation.stop();
        m_leavingIndicator.reset();
        m_indicator = mine;
        m_indicatorAppearance = 1;
        viewport()->update();
        return;
    }
    m_leavingIndicator = m_indicator;
    m_indicator = mine;
    m_indicatorAppearance = 0;
    m_indicatorAnimation.stop();
    m_indicatorAnimation.start();
    viewport()->update();
}

void KanbanCardList::onDraggingChanged()
{
    // The tail zone grows while any card is dragged so there is room to drop below the last card.
    if (!m_dragState->isDragging())
        m_autoScroll->stop();
    updateScrollRange();
    viewport()->update();
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
    const qsizetype index = viewport()->rect().contains(pos) ? cardIndexAt(pos) : -1;
    setHovered(index >= 0 ? std::optional<QUuid>(m_thoughts.at(index).id) : std::nullopt);
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
    const Entry &entry = m_entries[size_t(index)];
    QScrollBar *bar = verticalScrollBar();
    // The ring is drawn on the card's edge: keep the inset above it in view as well.
    if (entry.top - topInset < bar->value())
        bar->setValue(entry.top - topInset);
    else if (entry.top + entry.height + topInset > bar->value() + viewport()->height())
        bar->setValue(entry.top + entry.height + topInset - viewport()->height());
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
    const qsizetype index = qMin(firstEntryEndingAfter(viewportY + verticalScrollBar()->value()),
                                 m_thoughts.size() - 1);
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
    const int cardY = m_entries[size_t(index)].top - verticalScrollBar()->value();
    const auto pageTarget = [&](int direction) {
        const int y = m_entries[size_t(index)].top + direction * viewport()->height();
        return qBound<qsizetype>(0, firstEntryEndingAfter(y), last);
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
