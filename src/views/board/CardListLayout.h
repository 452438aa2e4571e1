#pragma once

#include "board/DropInsertionIndicator.h"

#include <QRect>

#include <functional>
#include <vector>

/// Where each card of one column's list stands, in content coordinates (0 at the top of the list,
/// before scrolling), and which card or gap a point falls on. It knows heights only: the list
/// gives it an estimate for each card and the measured height once a card is laid out, so it works
/// without a window. Cards are addressed by their index in the column.
class CardListLayout
{
public:
    static constexpr int cardSpacing = 10;
    // The list starts this far above its first card, inside the gap below the column header, so
    // that the insertion indicator over the first card, centred on the card's top edge, is not cut.
    static constexpr int topInset = DropInsertionIndicator::height / 2;
    static constexpr int bottomPadding = 4;
    static constexpr int tailHeightWhileDragging = 72;
    static constexpr int tailHeightIdle = 8;

    struct Card
    {
        int height = 0;
        bool isMeasured = false;
    };

    /// Takes the cards in column order and stacks them.
    void setCards(std::vector<Card> cards);
    /// Marks every card as estimated again; their heights stay until they are measured anew.
    void forgetMeasurements();
    /// The tail zone below the last card grows while a card is dragged, to leave room to drop.
    void setDragging(bool dragging) { m_isDragging = dragging; }

    qsizetype count() const { return qsizetype(m_cards.size()); }
    int top(qsizetype index) const { return m_cards[size_t(index)].top; }
    int height(qsizetype index) const { return m_cards[size_t(index)].height; }
    bool isMeasured(qsizetype index) const { return m_cards[size_t(index)].isMeasured; }

    /// Measures with \a measure every card not measured yet that reaches the view of
    /// \a viewHeight scrolled to \a scrollY, and returns the scroll position that keeps what the
    /// user looks at in place: a card reaching into the view from above that grew or shrank moves
    /// the position by as much.
    int measureVisible(int scrollY, int viewHeight, const std::function<int(qsizetype)> &measure);

    int tailTop() const;
    int tailHeight() const;
    int contentHeight() const;
    /// The zone that takes drops at the end of the column: the tail zone, or the placeholder of
    /// an empty column.
    QRect endZone(int width) const;

    /// The first card whose bottom lies below \a contentY; count() when there is none.
    qsizetype firstEndingAfter(int contentY) const;
    /// The card under \a contentY, gaps excluded; -1 over none.
    qsizetype cardAt(int contentY) const;
    /// The card a drop at \a contentY lands before, count() for the end of the column. Over a
    /// card's upper half (its middle included) it is that card, over its lower half the next;
    /// a gap between two cards belongs to the lower one.
    qsizetype dropIndexAt(qreal contentY) const;
    /// The line the insertion indicator for a drop before card \a index is centred on; the tail
    /// zone's top for count().
    int dropLineY(qsizetype index) const;
    /// The card to go to a view's height of \a viewHeight above (\a direction -1) or below (1)
    /// card \a index.
    qsizetype pageFrom(qsizetype index, int direction, int viewHeight) const;
    /// The scroll position nearest to \a scrollY that shows card \a index, with the inset above
    /// and below it where the focus ring is drawn.
    int scrollToShow(qsizetype index, int scrollY, int viewHeight) const;

private:
    struct Entry
    {
        int top = 0;
        int height = 0;
        bool isMeasured = false;
    };

    void restack(size_t from);

    std::vector<Entry> m_cards;
    bool m_isDragging = false;
};
