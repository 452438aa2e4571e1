#include "board/CardListLayout.h"

#include <QTest>

#include <cmath>

class CardListLayoutTest : public QObject
{
    Q_OBJECT

private slots:
    void pointsFindTheirCardAndDropPlace_data();
    void pointsFindTheirCardAndDropPlace();
    void measuringKeepsTheViewOnWhatItShowed_data();
    void measuringKeepsTheViewOnWhatItShowed();
};

void CardListLayoutTest::pointsFindTheirCardAndDropPlace_data()
{
    // Cards of 40, 60 and 30 pixels stand at 6, 56 and 126, the tail zone at 166. At \a y: the
    // card there (-1 in a gap), the card a drop lands before (3: the end) and the indicator's line.
    QTest::addColumn<qreal>("y");
    QTest::addColumn<int>("card");
    QTest::addColumn<int>("dropBefore");
    QTest::addColumn<int>("line");
    QTest::newRow("above the first card") << 2.0 << -1 << 0 << 6;
    QTest::newRow("first card's top edge") << 6.0 << 0 << 0 << 6;
    QTest::newRow("exact middle counts as upper half") << 26.0 << 0 << 0 << 6;
    QTest::newRow("just past the middle") << 26.5 << 0 << 1 << 56;
    QTest::newRow("gap, just below the upper card") << 46.0 << -1 << 1 << 56;
    QTest::newRow("gap, just above the lower card") << 55.0 << -1 << 1 << 56;
    QTest::newRow("lower half of the last card: end") << 150.0 << 2 << 3 << 166;
    QTest::newRow("below the last card") << 400.0 << -1 << 3 << 166;
}

void CardListLayoutTest::pointsFindTheirCardAndDropPlace()
{
    QFETCH(qreal, y);
    QFETCH(int, card);
    QFETCH(int, dropBefore);
    QFETCH(int, line);
    CardListLayout layout;
    layout.setCards({{40, true}, {60, true}, {30, true}});
    QCOMPARE(layout.cardAt(int(std::floor(y))), qsizetype(card));
    QCOMPARE(layout.dropIndexAt(y), qsizetype(dropBefore));
    QCOMPARE(layout.dropLineY(dropBefore), line);
}

void CardListLayoutTest::measuringKeepsTheViewOnWhatItShowed_data()
{
    // Four cards estimated at 50 (tops 6, 66, 126, 186) measure as \a measured in a view of 100
    // scrolled to \a scrollY: which cards were measured (the cards below a measured one move with
    // it), and where the view is scrolled after.
    QTest::addColumn<int>("measured");
    QTest::addColumn<int>("scrollY");
    QTest::addColumn<QList<qsizetype>>("measuredCards");
    QTest::addColumn<int>("scrollAfter");
    QTest::newRow("cards in view grow") << 70 << 0 << QList<qsizetype>{0, 1} << 0;
    QTest::newRow("card reaching in from above grows") << 70 << 80 << QList<qsizetype>{1, 2} << 100;
    QTest::newRow("card reaching in from above shrinks")
        << 30 << 80 << QList<qsizetype>{1, 2, 3} << 60;
}

void CardListLayoutTest::measuringKeepsTheViewOnWhatItShowed()
{
    QFETCH(int, measured);
    QFETCH(int, scrollY);
    QFETCH(QList<qsizetype>, measuredCards);
    QFETCH(int, scrollAfter);
    CardListLayout layout;
    layout.setCards(std::vector<CardListLayout::Card>(4, {50, false}));
    QList<qsizetype> asked;
    const auto measure = [&](qsizetype index) {
        asked.append(index);
        return measured;
    };
    QCOMPARE(layout.measureVisible(scrollY, 100, measure), scrollAfter);
    QCOMPARE(asked, measuredCards);
}

QTEST_MAIN(CardListLayoutTest)
#include "tst_cardlistlayout.moc"
