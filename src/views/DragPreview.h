#pragma once

#include "models/Thought.h"

#include <QPixmap>

class QPalette;

/// The compact image that follows the pointer while a card is dragged: the status dot and at most
/// two lines of the title, without note or footer.
namespace DragPreviewCard {

QPixmap render(const Thought &thought, const QPalette &palette, qreal devicePixelRatio);

/// Cuts the toolkit's window that shows the preview during a drag to the card's rounded shape.
/// Without a compositing window manager that window cannot be translucent and would show the
/// preview's transparent corners as a solid square; call it once the drag is under way.
void shapeDragWindow();

} // namespace DragPreviewCard
