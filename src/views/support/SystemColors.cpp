#include "SystemColors.h"

#include "GlassSurface.h"
#include "models/ThoughtStatus.h"

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
    return withOpacity(primaryLabel(palette), isDarkAppearance(palette) ? 0.55 : 0.5);
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

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

} // namespace SystemColors
