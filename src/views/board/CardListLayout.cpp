#include "board/CardListLayout.h"

#include "EmptyColumnView.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

void CardListLayout::setCards(std::vector<Card> cards)
{
    m_cards.assign(cards.size(), Entry());
    for (size_t i = 0; i < cards.size(); ++i) {
        m_cards[i].height = cards[i].height;
        m_cards[i].isMeasured = cards[i].isMeasured;
    }
    restack(0);
}

void CardListLayout::forgetMeasurements()
{
    for (Entry &entry : m_cards)
        entry.isMeasured = false;
}

void CardListLayout::restack(size_t from)
{
    int top = from == 0 ? topInset : m_cards[from - 1].top + m_cards[from - 1].height + cardSpacing;
    for (size_t i = from; i < m_cards.size(); ++i) {
        m_cards[i].top = top;
        top += m_cards[i].height + cardSpacing;
    }
}

int CardListLayout::measureVisible(int scrollY, int viewHeight,
                                   const std::function<int(qsizetype)> &measure)
{
    for (size_t i = size_t(firstEndingAfter(scrollY));
         i < m_cards.size() && m_cards[i].top < scrollY + viewHeight; ++i) {
        Entry &entry = m_cards[i];
        if (entry.isMeasured)
            continue;
        const int measured = measure(qsizetype(i));
        const int delta = measured - entry.height;
        const bool startsAbove = entry.top < scrollY;
        entry.height = measured;
        entry.isMeasured = true;
        if (delta != 0) {
            restack(i + 1);
            if (startsAbove)
                scrollY += delta;
        }
    }
    return scrollY;
}

int CardListLayout::tailTop() const
{
    if (m_cards.empty())
        return topInset;
    return m_cards.back().top + m_cards.back().height + cardSpacing;
}

int CardListLayout::tailHeight() const
{
    return m_isDragging ? tailHeightWhileDragging : tailHeightIdle;
}

int CardListLayout::contentHeight() const
{
    if (m_cards.empty())
        return topInset + EmptyColumnView::height + bottomPadding;
    return tailTop() + tailHeight() + bottomPadding;
}

QRect CardListLayout::endZone(int width) const
{
    if (m_cards.empty())
        return QRect(0, topInset, width, EmptyColumnView::height);
    return QRect(0, tailTop(), width, tailHeight());
}

qsizetype CardListLayout::firstEndingAfter(int contentY) const
{
    const auto it =
        std::partition_point(m_cards.cbegin(), m_cards.cend(), [contentY](const Entry &entry) {
            return entry.top + entry.height <= contentY;
        });
    return qsizetype(it - m_cards.cbegin());
}

qsizetype CardListLayout::cardAt(int contentY) const
{
    const qsizetype index = firstEndingAfter(contentY);
    if (index < count() && m_cards[size_t(index)].top <= contentY)
        return index;
    return -1;
}

qsizetype CardListLayout::dropIndexAt(qreal contentY) const
{
    const qsizetype index = firstEndingAfter(int(std::floor(contentY)));
    if (index >= count())
        return count();
    const Entry &entry = m_cards[size_t(index)];
    // The upper half, the exact middle included, and the gap above the card land before it.
    return contentY - entry.top <= entry.height / 2.0 ? index : index + 1;
}

int CardListLayout::dropLineY(qsizetype index) const
{
    return index < count() ? m_cards[size_t(index)].top : tailTop();
}

qsizetype CardListLayout::pageFrom(qsizetype index, int direction, int viewHeight) const
{
    const int y = m_cards[size_t(index)].top + direction * viewHeight;
    return qBound<qsizetype>(0, firstEndingAfter(y), count() - 1);
}

int CardListLayout::scrollToShow(qsizetype index, int scrollY, int viewHeight) const
{
    const Entry &entry = m_cards[size_t(index)];
    if (entry.top - topInset < scrollY)
        return entry.top - topInset;
    if (entry.top + entry.height + topInset > scrollY + viewHeight)
        return entry.top + entry.height + topInset - viewHeight;
    return scrollY;
}
