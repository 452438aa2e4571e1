#include "SegmentedControl.h"

#include "GlassSurface.h"
#include "LumaretStyle.h"
#include "SymbolIcon.h"
#include "SystemColors.h"
#include "TextStyles.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int trackHeight = 26;
constexpr int symbolSize = 14;
constexpr int iconGap = 5;
constexpr int segmentPadding = 12;
constexpr int trackInset = 2;

} // namespace

SegmentedControl::SegmentedControl(QList<Segment> segments, QWidget *parent)
    : QWidget(parent), m_segments(std::move(segments))
{
    setFont(textStyleFont(TextStyle::body));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SegmentedControl::setCurrentIndex(int index)
{
    if (index < 0 || index >= count() || index == m_currentIndex)
        return;
    m_currentIndex = index;
    update();
}

QSize SegmentedControl::sizeHint() const
{
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const Segment &segment : m_segments)
        widest = qMax(widest, metrics.horizontalAdvance(segment.title));
    const int segmentWidth = symbolSize + iconGap + widest + 2 * segmentPadding;
    return {segmentWidth * count() + 2 * trackInset, trackHeight};
}

QRect SegmentedControl::segmentRect(int index) const
{
    const QRect track = rect().adjusted(trackInset, trackInset, -trackInset, -trackInset);
    const int segmentWidth = count() ? track.width() / count() : 0;
    return {track.left() + index * segmentWidth, track.top(), segmentWidth, track.height()};
}

void SegmentedControl::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &colors = palette();
    const bool dark = isDarkAppearance(colors);

    QPainterPath track;
    track.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(track,
                     dark ? QColor::fromRgbF(1, 1, 1, 0.08f) : QColor::fromRgbF(0, 0, 0, 0.06f));

    for (int index = 1; index < count(); ++index) {
        if (index == m_currentIndex || index == m_currentIndex + 1)
            continue;
        const QRect segment = segmentRect(index);
        painter.setPen(
            QPen(SystemColors::withOpacity(SystemColors::primaryLabel(colors), 0.12), 1));
        painter.drawLine(QPointF(segment.left() + 0.5, segment.top() + 5),
                         QPointF(segment.left() + 0.5, segment.bottom() - 4));
    }

    const QRect selected = segmentRect(m_currentIndex);
    QPainterPath raised;
    raised.addRoundedRect(QRectF(selected), 5.5, 5.5);
    painter.fillPath(raised.translated(0, 0.5), QColor::fromRgbF(0, 0, 0, 0.10f));
    painter.fillPath(raised, dark ? QColor::fromRgbF(1, 1, 1, 0.22f) : QColor(Qt::white));
    if (hasFocus())
        paintFocusRing(painter, QRectF(rect()), 7, colors);

    const QFontMetrics metrics(font());
    painter.setFont(font());
    const QColor textColor =
        isEnabled() ? SystemColors::primaryLabel(colors) : SystemColors::tertiaryLabel(colors);
    for (int index = 0; index < count(); ++index) {
        const QRect segment = segmentRect(index);
        const Segment &item = m_segments[index];
        const int contentWidth = symbolSize + iconGap + metrics.horizontalAdvance(item.title);
        const qreal left = segment.left() + (segment.width() - contentWidth) / 2.0;
        painter.drawPixmap(
            QPointF(left, segment.top() + (segment.height() - symbolSize) / 2.0),
            symbolPixmap(item.systemImage, textColor, symbolSize, devicePixelRatioF()));
        painter.setPen(textColor);
        painter.drawText(QRectF(left + symbolSize + iconGap, segment.top(),
                                contentWidth - symbolSize - iconGap + 1, segment.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, item.title);
    }
}

void SegmentedControl::mousePressEvent(QMouseEvent *event)
{
    for (int index = 0; index < count(); ++index) {
        if (segmentRect(index).contains(event->position().toPoint())) {
            choose(index);
            return;
        }
    }
}

void SegmentedControl::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Left) {
        choose(qMax(0, m_currentIndex - 1));
    } else if (event->key() == Qt::Key_Right) {
        choose(qMin(count() - 1, m_currentIndex + 1));
    } else {
        QWidget::keyPressEvent(event);
    }
}

void SegmentedControl::choose(int index)
{
    if (index == m_currentIndex)
        return;
    setCurrentIndex(index);
    emit activated(index);
}
