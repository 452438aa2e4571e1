#pragma once

#include <QString>

class AccessibleCardList;
struct Thought;

/// What a screen reader hears of the board. Cards are painted, not widgets, so each column's list
/// answers for its cards itself: a list of list items, one per card, named by the card's title and
/// described by its column, its age and whether it has a note. Columns are groups named by their
/// status and described by their count; the pill is a status bar.
namespace BoardAccessibility {

/// Teaches the accessibility framework the board's own widgets. Safe to call more than once.
void install();

/// The description a screen reader reads after a card's title.
QString cardDescription(const Thought &thought);

/// Tells assistive technology that the card list's current card, or its cards, changed.
void notifyCurrentCardChanged(AccessibleCardList *list);
void notifyCardsChanged(AccessibleCardList *list);

} // namespace BoardAccessibility
