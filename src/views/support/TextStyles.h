#pragma once

#include <QFont>

/// The platform's text styles, sized in points (Qt logical pixels).
enum class TextStyle { title3, headline, body, callout, caption, caption2 };

/// The system font at \a pixelSize and \a weight, with a CJK font in its fallback chain so that
/// Chinese text is drawn in one consistent face.
QFont systemFont(qreal pixelSize, QFont::Weight weight = QFont::Normal);

/// A text style at its own size, at the style's weight unless \a weight is given.
QFont textStyleFont(TextStyle style);
QFont textStyleFont(TextStyle style, QFont::Weight weight);

/// A font whose rounded design is wanted; falls back to the system font where no rounded face is
/// installed.
QFont roundedSystemFont(qreal pixelSize, QFont::Weight weight);
