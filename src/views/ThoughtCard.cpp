#include "ThoughtCard.h"

#include "support/GlassSurface.h"
#include "support/RelativeLabel.h"
#include "support/SymbolIcon.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStaticText>

#include <cmath>

namespace {

constexpr qreal padding = 12;
constexpr qreal sectionSpacing = 8;
constexpr qreal dotSize = 8;
constexpr qreal dotTopPadding = 6;
constexpr qreal titleSpacing = 8;
constexpr qreal footerSpacing = 6;
constexpr int footerIconSize = 11;
constexpr int maxTitleLines = 3;
constexpr int maxNoteLines = 3;

// Made once: a fresh QFont per paint would resolve its font engine again for every card. Never
// destroyed, so that none outlives the application's font database at exit.
const QFont &titleFont()
{
    static const auto *font = new QFont(boardFont(14.5, QFont::DemiBold));
    return *font;
}

const QFont &noteFont()
{
    static const auto *font = new QFont(boardFont(10));
    return *font;
}

const QFont &footerFont()
{
    return noteFont();
}

qreal titleWidth(int width)
{
    return width - 2 * padding - dotSize - titleSpacing;
}

qreal footerHeight()
{
    return qMax<qreal>(QFontMetricsF(footerFont()).height(), footerIconSize);
}

// Ages repeat across cards ("2小时前"): each is shaped once. The cache is never destroyed, so
// that no shaped text outlives the application's fonts at exit.
QStaticText shapedAge(const QString &age, const QFont &font)
{
    static auto *shaped = new QHash<QString, QStaticText>;
    if (shaped->size() > 1024)
        shaped->clear();
    auto it = shaped->find(age);
    if (it == shaped->end()) {
        QStaticText text(age);
        text.setTextFormat(Qt::PlainText);
        text.prepare(QTransform(), font);
        it = shaped->insert(age, text);
    }
    return *it;
}

qreal titleRowHeight(const WrappedText &title)
{
    return qMax(dotTopPadding + dotSize, title.height());
}

int cardHeight(qreal titleRow, std::optional<qreal> noteHeight)
{
    qreal height = padding + titleRow;
    if (noteHeight)
        height += sectionSpacing + *noteHeight;
    height += sectionSpacing + footerHeight() + padding;
    return int(std::ceil(height));
}

} // namespace

namespace ThoughtCard {

Layout layout(const Thought &thought, int width)
{
    Layout result;
    result.title = wrapText(thought.title, titleFont(), titleWidth(width), maxTitleLines);
    // Any note but the empty string is shown, even one of spaces only.
    if (!thought.note.isEmpty())
        result.note = wrapText(thought.note, noteFont(), width - 2 * padding, maxNoteLines);
    result.height =
        cardHeight(titleRowHeight(result.title),
                   result.note ? std::optional<qreal>(result.note->height()) : std::nullopt);
    return result;
}

int estimatedHeight(const Thought &thought)
{
    // Asked for every thought of a column each time it is filled: both answers are worked out
    // once.
    static const qreal titleRow =
        qMax(dotTopPadding + dotSize, QFontMetricsF(titleFont()).lineSpacing());
    static const int withNote = cardHeight(titleRow, QFontMetricsF(noteFont()).lineSpacing());
    static const int withoutNote = cardHeight(titleRow, std::nullopt);
    return thought.note.isEmpty() ? withoutNote : withNote;
}

void paint(QPainter &painter, const QRect &rect, const Thought &thought, const Layout &layout,
           ThoughtCardLook look, const QPalette &palette, const QDateTime &now)
{
    const ThoughtStatus status = thought.status;
    const QRectF card(rect);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath shape;
    shape.addRoundedRect(card, ThoughtCard::cornerRadius, ThoughtCard::cornerRadius);
    const QColor border = look.isInteractiveHover() ? accentColor(status, 0.48)
                                                    : QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.18f);
    paintClipped(painter, card, [&] {
        painter.fillPath(shape, regularMaterial(palette));
        painter.setPen(QPen(border, 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5),
                                ThoughtCard::cornerRadius - 0.5, ThoughtCard::cornerRadius - 0.5);
    });

    const qreal left = card.left() + padding;
    qreal y = card.top() + padding;

    painter.setPen(Qt::NoPen);
    painter.setBrush(accentColor(status));
    painter.drawEllipse(QRectF(left, y + dotTopPadding, dotSize, dotSize));

    painter.setPen(palette.color(QPalette::WindowText));
    drawWrappedText(painter, QPointF(left + dotSize + titleSpacing, y), layout.title, titleFont());
    y += titleRowHeight(layout.title);

    if (layout.note) {
        y += sectionSpacing;
        painter.setPen(secondaryLabel(palette));
        drawWrappedText(painter, QPointF(left, y), *layout.note, noteFont());
        y += layout.note->height();
    }

    y += sectionSpacing;
    const qreal footer = footerHeight();
    const qreal dpr = painter.device()->devicePixelRatioF();
    const qreal iconTop = y + (footer - footerIconSize) / 2;
    qreal x = left;
    painter.drawPixmap(
        QPointF(x, iconTop),
        symbolPixmap(QStringLiteral("clock"), secondaryLabel(palette), footerIconSize, dpr));
    x += footerIconSize + footerSpacing;

    const QFont &font = footerFont();
    const qreal fontHeight = QFontMetricsF(font).height();
    const QStaticText age = shapedAge(relativeLabel(thought.updatedAt, now), font);
    painter.setFont(font);
    painter.setPen(secondaryLabel(palette));
    painter.drawStaticText(QPointF(x, y + (footer - fontHeight) / 2), age);
    x += age.size().width() + footerSpacing;

    // The grip follows the pointer, not the drag: it stays accent while a dragged card is hovered.
    const QColor grip = look.isHovering ? accentColor(status) : tertiaryLabel(palette);
    painter.drawPixmap(QPointF(x, iconTop), symbolPixmap(QStringLiteral("line.3.horizontal"), grip,
                                                         footerIconSize, dpr));
    painter.restore();
}

QString toolTip()
{
    return QStringLiteral("单击编辑，双击推进，拖动调整位置或状态");
}

} // namespace ThoughtCard
