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

/// Runs \a paint, which draws only inside \a area, once for each band of 40 rows of \a area,
/// clipped to that band. The raster engine splits a large fill across its thread pool and waits
/// for the threads; for a shape the size of a card the hand-over costs more than the fill, and a
/// band is small enough to be filled on the spot. The pixels drawn are the same (the window's
/// frames compared byte for byte); repainting all four card lists took about 15% less CPU time.
/// Tall areas, transformed painters and other engines are painted in one go.
void paintInBands(QPainter &painter, const QRectF &area, const std::function<void()> &paint);

/// The ultra-thin material's fill for the current appearance.
QColor ultraThinMaterial(const QPalette &palette);
