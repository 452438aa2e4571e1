#pragma once

#include "board/BoardStyle.h"
#include "models/Thought.h"

#include <optional>

class QPainter;
class QPalette;
class QRect;

/// How a card is drawn at the moment: the pointer over it, and whether any card is being dragged
/// (a card never shows its hover highlight during a drag).
struct ThoughtCardLook
{
    bool isHovering = false;
    bool isDragInProgress = false;

    bool isInteractiveHover() const { return isHovering && !isDragInProgress; }
};

/// The card of one thought: status dot and title, the note when there is one, and a footer with
/// the age of the last change and a grip mark. Cards are painted, not built as widgets, so that a
/// column of thousands costs only the cards on screen.
namespace ThoughtCard {

inline constexpr qreal cornerRadius = 16;

/// The texts of a card broken into lines for one width; what a column measures and caches.
struct Layout
{
    WrappedText title;
    std::optional<WrappedText> note;
    int height = 0;
};

Layout layout(const Thought &thought, int width);

/// The height of a card laid out in \a width without breaking its texts: one title line and, when
/// there is a note, one note line. Columns use it for cards they have not laid out yet.
int estimatedHeight(const Thought &thought);

void paint(QPainter &painter, const QRect &rect, const Thought &thought, const Layout &layout,
           ThoughtCardLook look, const QPalette &palette, const QDateTime &now);

QString toolTip();

} // namespace ThoughtCard
