#pragma once

#include "models/Thought.h"

#include <QRect>

#include <optional>

class QAbstractScrollArea;

/// What a screen reader needs of a list of painted cards: the widget that shows them, the cards
/// in order, where each is drawn and which one the keyboard is on. The board's accessibility code
/// knows card lists only through this.
class AccessibleCardList
{
public:
    virtual ~AccessibleCardList() = default;

    /// The widget the cards are painted in; their rectangles are in its viewport's coordinates.
    virtual QAbstractScrollArea *cardArea() = 0;
    virtual const Board &thoughts() const = 0;
    /// Where the card of \a id is drawn now; empty when it is not in this list.
    virtual QRect cardRect(const QUuid &id) = 0;
    virtual std::optional<QUuid> currentCard() const = 0;
};
