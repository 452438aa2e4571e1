#include "support/RelativeLabel.h"

#include <QtTest>

class TestRelativeLabel : public QObject
{
    Q_OBJECT

private slots:
    void labelsThePastAsPast_data();
    void labelsThePastAsPast();
};

void TestRelativeLabel::labelsThePastAsPast_data()
{
    QTest::addColumn<qint64>("offsetMilliseconds");
    QTest::addColumn<QString>("label");
    QTest::newRow("now") << 0LL << "0秒前";
    QTest::newRow("under a second ago") << -400LL << "0秒前";
    QTest::newRow("seconds ago") << -30'000LL << "30秒前";
    QTest::newRow("still to come") << 2 * 3'600'000LL << "2小时后";
}

void TestRelativeLabel::labelsThePastAsPast()
{
    QFETCH(qint64, offsetMilliseconds);
    const QDateTime now(QDate(2026, 3, 1), QTime(9, 0, 0, 500), Qt::UTC);
    QTEST(relativeLabel(now.addMSecs(offsetMilliseconds), now), "label");
}

QTEST_GUILESS_MAIN(TestRelativeLabel)
#include "tst_relativelabel.moc"
