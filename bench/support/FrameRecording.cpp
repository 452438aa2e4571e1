#include "FrameRecording.h"

#include <QDataStream>
#include <QFile>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <cstring>

namespace {

// Pixmaps up to this size in device pixels are symbols; larger ones are backgrounds, shadows and
// the glass, which the floor does not draw.
constexpr int largestSymbol = 64;

class RecordingEngine : public QPaintEngine
{
public:
    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState &changed) override
    {
        // The transform QPainter hands an engine is the whole one, the widget's offset in the
        // window included.
        if (changed.state() & QPaintEngine::DirtyTransform)
            m_transform = changed.transform();
        if (changed.state() & QPaintEngine::DirtyPen)
            m_color = changed.pen().color();
    }

    void drawTextItem(const QPointF &position, const QTextItem &item) override
    {
        m_items.append({m_transform, position, item.text(), item.font(), m_color, {}});
    }

    void drawPixmap(const QRectF &target, const QPixmap &pixmap, const QRectF &source) override
    {
        drawImage(target, pixmap.toImage(), source, Qt::AutoColor);
    }

    void drawImage(const QRectF &target, const QImage &image, const QRectF &source,
                   Qt::ImageConversionFlags) override
    {
        if (source.width() > largestSymbol || source.height() > largestSymbol)
            return;
        QImage symbol =
            image.copy(source.toAlignedRect()).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        // The floor draws each symbol at the size it already has.
        if (symbol.size() != target.size().toSize())
            symbol = symbol.scaled(target.size().toSize(), Qt::IgnoreAspectRatio,
                                   Qt::SmoothTransformation);
        m_items.append({m_transform, target.topLeft(), {}, {}, {}, symbol});
    }

    // Shapes are the window's backgrounds, frames and capsules: not recorded.
    void drawRects(const QRectF *, int) override {}
    void drawRects(const QRect *, int) override {}
    void drawLines(const QLineF *, int) override {}
    void drawLines(const QLine *, int) override {}
    void drawEllipse(const QRectF &) override {}
    void drawEllipse(const QRect &) override {}
    void drawPath(const QPainterPath &) override {}
    void drawPoints(const QPointF *, int) override {}
    void drawPoints(const QPoint *, int) override {}
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
    void drawPolygon(const QPoint *, int, PolygonDrawMode) override {}
    void drawTiledPixmap(const QRectF &, const QPixmap &, const QPointF &) override {}

    QList<FrameItem> m_items;

private:
    QTransform m_transform;
    QColor m_color;
};

// A device of the window's size and resolution, so that fonts resolve to the same pixel sizes.
class RecordingDevice : public QPaintDevice
{
public:
    explicit RecordingDevice(const QWidget *window) : m_window(window) {}

    QPaintEngine *paintEngine() const override { return &m_engine; }
    QList<FrameItem> items() const { return m_engine.m_items; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return m_window->width();
        case PdmHeight:
            return m_window->height();
        case PdmWidthMM:
            return m_window->widthMM();
        case PdmHeightMM:
            return m_window->heightMM();
        case PdmNumColors:
            return m_window->colorCount();
        case PdmDepth:
            return m_window->depth();
        case PdmDpiX:
            return m_window->logicalDpiX();
        case PdmDpiY:
            return m_window->logicalDpiY();
        case PdmPhysicalDpiX:
            return m_window->physicalDpiX();
        case PdmPhysicalDpiY:
            return m_window->physicalDpiY();
        case PdmDevicePixelRatio:
            return int(m_window->devicePixelRatio());
        case PdmDevicePixelRatioScaled:
            return int(m_window->devicePixelRatio() * devicePixelRatioFScale());
        default:
            return QPaintDevice::metric(metric);
        }
    }

private:
    const QWidget *m_window;
    mutable RecordingEngine m_engine;
};

} // namespace

QList<FrameItem> recordFrame(QWidget *window)
{
    RecordingDevice device(window);
    window->render(&device);
    return device.items();
}

bool saveFrame(const QList<FrameItem> &items, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out << qint32(items.size());
    for (const FrameItem &item : items) {
        out << item.transform << item.position << item.text << item.font << item.color;
        // Raw pixels rather than QImage's PNG, so that the floor does not pay for decoding them.
        out << qint32(item.symbol.width()) << qint32(item.symbol.height())
            << QByteArray(reinterpret_cast<const char *>(item.symbol.constBits()),
                          item.symbol.sizeInBytes());
    }
    return out.status() == QDataStream::Ok;
}

QList<FrameItem> loadFrame(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QDataStream in(&file);
    qint32 count = 0;
    in >> count;
    QList<FrameItem> items;
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        FrameItem item;
        qint32 width = 0;
        qint32 height = 0;
        QByteArray pixels;
        in >> item.transform >> item.position >> item.text >> item.font >> item.color >> width >>
            height >> pixels;
        if (width > 0 && height > 0 && pixels.size() == qsizetype(width) * height * 4) {
            item.symbol = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
            std::memcpy(item.symbol.bits(), pixels.constData(), size_t(pixels.size()));
        }
        items.append(item);
    }
    return items;
}

void paintFrame(QPainter &painter, const QList<FrameItem> &items)
{
    for (const FrameItem &item : items) {
        painter.setTransform(item.transform);
        if (!item.symbol.isNull()) {
            painter.drawImage(item.position, item.symbol);
            continue;
        }
        painter.setFont(item.font);
        painter.setPen(item.color);
        painter.drawText(item.position, item.text);
    }
}
