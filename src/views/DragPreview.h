#pragma once

#include "models/Thought.h"

#include <QPixmap>

class QPalette;

/// The compact image that follows the pointer while a card is dragged: the status dot and at most
/// two lines of the title, without note or footer.
namespace DragPreviewCard {

QPixmap render(const Thought &thought, const QPalette &palette, qreal devicePixelRatio);

} // namespace DragPreviewCard
