#pragma once

#include <QColor>
#include <QPalette>
#include <QRectF>

#include <functional>
#include <optional>

class QPainter;

/// Whether a glass surface reacts to the pointer. Only the platform glass effect tells the two
/// apart; the fallback rendering drawn here looks the same for both.
enum class GlassInteraction { passive, interactive };

/// Whether \a palette is a dark appearance (its window colour darker than its text).
bool isDarkAppearance(const QPalette &palette);

/// The one surface of every rounded control and column: a translucent ultra-thin material in the
/// rounded rectangle, with a 1-point white border at 0.18 along its inside. \a tint and
/// \a interaction belong to the glass effect, which this platform never has, so they change
/// nothing here; callers pass them all the same so the surfaces stay described in one place.
void paintAppGlass(QPainter &painter, const QRectF &rect, qreal cornerRadius,
                   const std::optional<QColor> &tint, GlassInteraction interaction,
                   const QPalette &palette);

/// Runs \a paint, which draws only inside \a area, with the painter clipped to \a area's pixels.
/// The raster engine hands antialiased fills to its thread pool and waits for it, which for a
/// shape the size of a card costs more than the fill. With this clip around each card, a search
/// keystroke (which repaints the four card lists) took about 10% less CPU time, alternating with
/// and without in one process; the pixels drawn are the same. Tall areas, transformed painters
/// and other engines are painted as they are.
void paintClipped(QPainter &painter, const QRectF &area, const std::function<void()> &paint);

/// The ultra-thin material's fill for the current appearance.
QColor ultraThinMaterial(const QPalette &palette);
