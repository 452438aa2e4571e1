#pragma once

#include <QFont>

/// The platform's text styles, sized in points (Qt logical pixels).
enum class TextStyle { title3, headline, body, callout, caption, caption2 };

/// The system font at \a pixelSize and \a weight, with a CJK font in its fallback chain so that
/// Chinese text is drawn in one consistent face.
QFont systemFont(qreal pixelSize, QFont::Weight weight = QFont::Normal);

/// \a font with the system font's families: its own, then a CJK font, so that Chinese text is
/// drawn in the same face everywhere. Left to fontconfig, the fallback for Chinese text depends
/// on the locale and may be another CJK face of the same files, which a launch then loads too.
QFont withSystemFamilies(QFont font);

/// A text style at its own size, at the style's weight unless \a weight is given.
QFont textStyleFont(TextStyle style);
QFont textStyleFont(TextStyle style, QFont::Weight weight);

/// A font whose rounded design is wanted; falls back to the system font where no rounded face is
/// installed.
QFont roundedSystemFont(qreal pixelSize, QFont::Weight weight);
