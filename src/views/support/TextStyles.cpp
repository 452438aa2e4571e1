#include "TextStyles.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

namespace {

qreal styleSize(TextStyle style)
{
    switch (style) {
    case TextStyle::title3:
        return 15;
    case TextStyle::headline:
    case TextStyle::body:
        return 13;
    case TextStyle::callout:
        return 12;
    case TextStyle::caption:
    case TextStyle::caption2:
        return 10;
    }
    return 13;
}

QFont::Weight styleWeight(TextStyle style)
{
    return style == TextStyle::headline ? QFont::DemiBold : QFont::Normal;
}

QFont withSize(QFont font, qreal pixelSize, QFont::Weight weight)
{
    // Pixel sizes are whole numbers in Qt; every size the views use is one.
    font.setPixelSize(qRound(pixelSize));
    font.setWeight(weight);
    return font;
}

} // namespace

QFont withSystemFamilies(QFont font)
{
    QStringList families{QGuiApplication::font().family()};
    families.append(QStringLiteral("Noto Sans CJK SC"));
    families.append(QStringLiteral("Noto Sans SC"));
    font.setFamilies(families);
    return font;
}

QFont systemFont(qreal pixelSize, QFont::Weight weight)
{
    return withSize(withSystemFamilies(QGuiApplication::font()), pixelSize, weight);
}

QFont textStyleFont(TextStyle style)
{
    return systemFont(styleSize(style), styleWeight(style));
}

QFont textStyleFont(TextStyle style, QFont::Weight weight)
{
    return systemFont(styleSize(style), weight);
}

QFont roundedSystemFont(qreal pixelSize, QFont::Weight weight)
{
    QFont font = systemFont(pixelSize, weight);
    static const QStringList roundedFamilies{QStringLiteral("Nunito"),
                                             QStringLiteral("M PLUS Rounded 1c"),
                                             QStringLiteral("Varela Round")};
    const QStringList installed = QFontDatabase::families();
    for (const QString &family : roundedFamilies) {
        if (installed.contains(family)) {
            QStringList families = font.families();
            families.prepend(family);
            font.setFamilies(families);
            break;
        }
    }
    return font;
}
