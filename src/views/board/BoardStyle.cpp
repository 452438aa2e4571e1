#include "BoardStyle.h"

#include "support/GlassSurface.h"
#include "support/TextStyles.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTextLayout>

#include <cmath>

QColor accentColor(ThoughtStatus status, qreal opacity)
{
    const StatusColor color = ThoughtStatuses::accentColor(status);
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue),
                            float(opacity));
}

QFont boardFont(qreal points, QFont::Weight weight)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    QFont font = withSystemFamilies(QGuiApplication::font());
    font.setPointSizeF(points * 72.0 / dpi);
    font.setWeight(weight);
    return font;
}

QColor secondaryLabel(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.68f);
    return color;
}

QColor tertiaryLabel(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.32f);
    return color;
}

QColor regularMaterial(const QPalette &palette)
{
    return isDarkAppearance(palette) ? QColor::fromRgbF(0.23f, 0.23f, 0.26f, 0.94f)
                                     : QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.74f);
}

WrappedText wrapText(const QString &text, const QFont &font, qreal width, int maxLines)
{
    const QFontMetricsF metrics(font);
    WrappedText wrapped;
    wrapped.lineHeight = metrics.lineSpacing();
    wrapped.ascent = metrics.ascent();
    if (text.isEmpty() || maxLines <= 0)
        return wrapped;

    // No line holds more characters than it is pixels wide, zero-width ones aside, so this much of
    // the text fills every line shown; laying out the rest of a title of millions of characters
    // would only stall the window to learn that it is cut.
    const qsizetype shown = qMax<qsizetype>(64, maxLines * (qsizetype(std::ceil(width)) + 1));
    const bool isCut = text.size() > shown;
    // Line feeds in notes are hard breaks; QTextLayout only breaks at line separators.
    QString laidOut = text.left(isCut && text.at(shown - 1).isHighSurrogate() ? shown - 1 : shown);
    laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);

    QTextLayout layout(laidOut, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (int lineNumber = 0; lineNumber < maxLines; ++lineNumber) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        const int start = line.textStart();
        const bool isLast = lineNumber == maxLines - 1;
        const bool hasMore = isCut || start + line.textLength() < laidOut.size();
        QString lineText;
        if (isLast && hasMore) {
            QString rest = laidOut.mid(start);
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            lineText = metrics.elidedText(rest, Qt::ElideRight, width);
        } else {
            lineText = laidOut.mid(start, line.textLength());
            while (lineText.endsWith(QChar::LineSeparator))
                lineText.chop(1);
        }
        QStaticText shaped(lineText);
        shaped.setTextFormat(Qt::PlainText);
        shaped.prepare(QTransform(), font);
        wrapped.widestLine = qMax(wrapped.widestLine, shaped.size().width());
        wrapped.shapedLines.append(shaped);
        wrapped.lines.append(lineText);
    }
    layout.endLayout();
    return wrapped;
}

void drawWrappedText(QPainter &painter, const QPointF &topLeft, const WrappedText &text,
                     const QFont &font)
{
    painter.setFont(font);
    qreal top = topLeft.y();
    for (const QStaticText &line : text.shapedLines) {
        painter.drawStaticText(QPointF(topLeft.x(), top), line);
        top += text.lineHeight;
    }
}
