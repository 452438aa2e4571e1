#include "SystemColors.h"

#include "GlassSurface.h"
#include "models/ThoughtStatus.h"

#include <cmath>

namespace SystemColors {

namespace {

QColor byAppearance(const QPalette &palette, QColor light, QColor dark)
{
    return isDarkAppearance(palette) ? dark : light;
}

} // namespace

QColor primaryLabel(const QPalette &palette)
{
    return palette.color(QPalette::WindowText);
}

QColor secondaryLabel(const QPalette &palette)
{
    // Dense enough for 4.5:1 on the glass of either appearance.
    return withOpacity(primaryLabel(palette), 0.66);
}

QColor tertiaryLabel(const QPalette &palette)
{
    return withOpacity(primaryLabel(palette), 0.26);
}

QColor accent(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QColor green(const QPalette &palette)
{
    return byAppearance(palette, QColor(52, 199, 89), QColor(48, 209, 88));
}

QColor blue(const QPalette &palette)
{
    return byAppearance(palette, QColor(0, 122, 255), QColor(10, 132, 255));
}

QColor red(const QPalette &palette)
{
    return byAppearance(palette, QColor(255, 59, 48), QColor(255, 69, 58));
}

QColor yellow(const QPalette &palette)
{
    return byAppearance(palette, QColor(255, 204, 0), QColor(255, 214, 10));
}

QColor windowBackground(const QPalette &palette)
{
    return palette.color(QPalette::Window);
}

QColor controlBackground(const QPalette &palette)
{
    return palette.color(QPalette::Base);
}

QColor regularMaterial(const QPalette &palette)
{
    // Without a live blur, what lies behind would show through sharply; the material is dense
    // enough to hide it.
    return byAppearance(palette, QColor::fromRgbF(0.97f, 0.97f, 0.98f, 0.97f),
                        QColor::fromRgbF(0.17f, 0.17f, 0.19f, 0.97f));
}

QColor fromStatusColor(const StatusColor &color)
{
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue));
}

qreal contrastRatio(const QColor &first, const QColor &second)
{
    const auto luminance = [](const QColor &color) {
        const auto linear = [](float channel) {
            return channel <= 0.04045f ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
               0.0722 * linear(color.blueF());
    };
    const qreal a = luminance(first), b = luminance(second);
    return (qMax(a, b) + 0.05) / (qMin(a, b) + 0.05);
}

QColor readableOn(const QColor &color, const QColor &background, qreal ratio)
{
    const QColor end = background.lightnessF() > 0.5 ? QColor(Qt::black) : QColor(Qt::white);
    QColor mixed = color;
    for (int step = 1; step <= 20 && contrastRatio(mixed, background) < ratio; ++step) {
        const float t = step / 20.0f;
        mixed = QColor::fromRgbF(color.redF() + (end.redF() - color.redF()) * t,
                                 color.greenF() + (end.greenF() - color.greenF()) * t,
                                 color.blueF() + (end.blueF() - color.blueF()) * t);
    }
    return mixed;
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

} // namespace SystemColors
