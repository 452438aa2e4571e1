#include "KanbanColumn.h"

#include "KanbanCardList.h"
#include "board/BoardStyle.h"
#include "support/GlassSurface.h"
#include "support/SymbolIcon.h"
#include "support/SystemColors.h"

#include <QDropEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr qreal columnCornerRadius = 24;
constexpr int columnPadding = 14;
// The card list takes half the indicator's height of this gap for itself (see KanbanCardList).
constexpr int headerSpacing = 12 - 6;
constexpr int headerRowHeight = 22;
constexpr int headerBottomPadding = 2;

} // namespace

KanbanColumn::KanbanColumn(BoardStore *store, KanbanDragState *dragState, ThoughtStatus status,
                           QWidget *parent)
    : QWidget(parent), m_status(status), m_header(new KanbanColumnHeader(status, this)),
      m_cardList(new KanbanCardList(store, dragState, status, this))
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    setAccessibleName(ThoughtStatuses::title(status));
    auto *layout = new QVBoxLayout(this);
    // The card list reaches into the right padding with the strip its scroll bar runs in.
    layout->setContentsMargins(columnPadding, columnPadding,
                               columnPadding - KanbanCardList::scrollStripWidth, columnPadding);
    layout->setSpacing(headerSpacing);
    layout->addWidget(m_header);
    layout->addWidget(m_cardList, 1);
    connect(m_cardList, &KanbanCardList::editRequested, this, &KanbanColumn::editRequested);
    // The header and the padding around the list take drops too, as the nearest point of the
    // list would: the indicator never points somewhere a drop would be refused.
    setAcceptDrops(true);
}

QPointF KanbanColumn::listPoint(const QPointF &columnPos) const
{
    const QWidget *viewport = m_cardList->viewport();
    const QPointF inList = viewport->mapFrom(this, columnPos);
    return QPointF(qBound<qreal>(0, inList.x(), viewport->width() - 1),
                   qBound<qreal>(0, inList.y(), viewport->height() - 1));
}

void KanbanColumn::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void KanbanColumn::dragMoveEvent(QDragMoveEvent *event)
{
    if (!m_cardList->dragOver(listPoint(event->position()), event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void KanbanColumn::dropEvent(QDropEvent *event)
{
    if (m_cardList->dropAt(listPoint(event->position()), event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void KanbanColumn::setThoughts(const Board &thoughts)
{
    m_header->setCount(int(thoughts.size()));
    setAccessibleDescription(QStringLiteral("%1 个想法").arg(thoughts.size()));
    m_cardList->setThoughts(thoughts);
}

int KanbanColumn::count() const
{
    return m_header->count();
}

void KanbanColumn::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF surface(rect());
    paintAppGlass(painter, surface, columnCornerRadius, accentColor(m_status),
                  GlassInteraction::passive, palette());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(accentColor(m_status, 0.18), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(surface.adjusted(0.5, 0.5, -0.5, -0.5), columnCornerRadius - 0.5,
                            columnCornerRadius - 0.5);
}

KanbanColumnHeader::KanbanColumnHeader(ThoughtStatus status, QWidget *parent)
    : QWidget(parent), m_status(status)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void KanbanColumnHeader::setCount(int count)
{
    if (m_count == count)
        return;
    m_count = count;
    update();
}

QSize KanbanColumnHeader::sizeHint() const
{
    return QSize(160, headerRowHeight + headerBottomPadding);
}

QSize KanbanColumnHeader::minimumSizeHint() const
{
    return QSize(0, headerRowHeight + headerBottomPadding);
}

void KanbanColumnHeader::paintEvent(QPaintEvent *)
{
    constexpr qreal spacing = 9;
    constexpr int iconSize = 19;
    constexpr qreal capsulePadding = 8;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal centreY = headerRowHeight / 2.0;
    const QColor accent = accentColor(m_status);

    painter.drawPixmap(QPointF(0, centreY - iconSize / 2.0),
                       symbolPixmap(ThoughtStatuses::systemImage(m_status), accent, iconSize,
                                    devicePixelRatioF()));

    const QFont countFont = boardFont(10, QFont::DemiBold);
    const QFontMetricsF countMetrics(countFont);
    const QString countText = QString::number(m_count);
    const qreal capsuleWidth = countMetrics.horizontalAdvance(countText) + 2 * capsulePadding;
    const QRectF capsule(width() - capsuleWidth, 0, capsuleWidth, headerRowHeight);

    const QFont titleFont = boardFont(13, QFont::DemiBold);
    const QFontMetricsF titleMetrics(titleFont);
    const qreal titleLeft = iconSize + spacing;
    const QString title =
        titleMetrics.elidedText(ThoughtStatuses::title(m_status), Qt::ElideRight,
                                qMax<qreal>(0, capsule.left() - spacing - titleLeft));
    painter.setFont(titleFont);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(
        QPointF(titleLeft, centreY - titleMetrics.height() / 2 + titleMetrics.ascent()), title);

    // An opaque tint, so that the number is measured against a known colour and kept readable.
    const QColor base = palette().color(QPalette::Base);
    const QColor tint = QColor::fromRgbF(base.redF() + (accent.redF() - base.redF()) * 0.16f,
                                         base.greenF() + (accent.greenF() - base.greenF()) * 0.16f,
                                         base.blueF() + (accent.blueF() - base.blueF()) * 0.16f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint);
    painter.drawRoundedRect(capsule, headerRowHeight / 2.0, headerRowHeight / 2.0);
    painter.setFont(countFont);
    painter.setPen(SystemColors::readableOn(accent, tint, 4.8));
    painter.drawText(capsule, Qt::AlignCenter, countText);
}
