#pragma once

// The text runs and symbols of a window's frame, kept so that a bare program can paint exactly
// those and nothing else: the floor a window's first frame is measured against.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QString>
#include <QTransform>

class QPainter;
class QWidget;

/// One text run (text, font, colour, baseline position) or one symbol (an image drawn at its
/// size), with the transform it was drawn under.
struct FrameItem
{
    QTransform transform;
    QPointF position;
    QString text;
    QFont font;
    QColor color;
    QImage symbol;
};

/// Paints \a window as its own frame would be, keeping the text runs and the symbols (pixmaps no
/// larger than a symbol's size); backgrounds, frames, shadows and larger pixmaps are left out.
QList<FrameItem> recordFrame(QWidget *window);

bool saveFrame(const QList<FrameItem> &items, const QString &path);
QList<FrameItem> loadFrame(const QString &path);

/// Paints the items as they were recorded, in their order.
void paintFrame(QPainter &painter, const QList<FrameItem> &items);
