#pragma once

#include "models/ThoughtStatus.h"

class QPainter;
class QPalette;
class QRect;

/// The placeholder of a column without cards ("暂无"); it is also that column's drop zone.
namespace EmptyColumnView {

inline constexpr int height = 118;

void paint(QPainter &painter, const QRect &rect, ThoughtStatus status, const QPalette &palette);

} // namespace EmptyColumnView
