#pragma once

#include "models/ThoughtStatus.h"

class QPainter;

/// The dot and line that mark where a dragged card would land, in the accent of its column.
namespace DropInsertionIndicator {

inline constexpr int height = 12;

/// Paints the indicator across \a width with its line on \a lineY. \a appearance runs from 0
/// (gone) to 1 (shown): the indicator fades in while growing from 0.98 of its size.
void paint(QPainter &painter, int width, qreal lineY, ThoughtStatus status, qreal appearance);

} // namespace DropInsertionIndicator
