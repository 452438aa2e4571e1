#include "BoardFixtures.h"
#include "support/RelativeLabel.h"

#include <QTest>

class ThoughtTest : public QObject
{
    Q_OBJECT

private slots:
    void statusesKeepTheirColumnsAndRawValues_data();
    void statusesKeepTheirColumnsAndRawValues();
    void onlyTheFourRawValuesAreStatuses();
    void equalityCoversEveryFieldAndCanonicalText();
    void relativeLabelPicksTheLargestWholeUnit_data();
    void relativeLabelPicksTheLargestWholeUnit();
};

void ThoughtTest::statusesKeepTheirColumnsAndRawValues_data()
{
    QTest::addColumn<ThoughtStatus>("status");
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("title");
    QTest::addColumn<ThoughtStatus>("next");
    QTest::newRow("notStarted") << ThoughtStatus::notStarted << "notStarted"
                                << "未开始" << ThoughtStatus::inProgress;
    QTest::newRow("inProgress") << ThoughtStatus::inProgress << "inProgress"
                                << "进行中" << ThoughtStatus::completed;
    QTest::newRow("completed") << ThoughtStatus::completed << "completed"
                               << "已完成" << ThoughtStatus::archived;
    QTest::newRow("archived") << ThoughtStatus::archived << "archived"
                              << "归档" << ThoughtStatus::archived;
}

void ThoughtTest::statusesKeepTheirColumnsAndRawValues()
{
    QFETCH(ThoughtStatus, status);
    QFETCH(QString, raw);
    QFETCH(QString, title);
    QFETCH(ThoughtStatus, next);
    QCOMPARE(ThoughtStatuses::rawValue(status), raw);
    QCOMPARE(ThoughtStatuses::fromRawValue(raw), std::optional(status));
    QCOMPARE(ThoughtStatuses::title(status), title);
    QCOMPARE(ThoughtStatuses::next(status), next);
    QCOMPARE(qsizetype(ThoughtStatuses::allCases[size_t(status)]), qsizetype(status));
}

void ThoughtTest::onlyTheFourRawValuesAreStatuses()
{
    for (const char *raw : {"", "NotStarted", "archived ", "done", "notstarted"})
        QVERIFY2(!ThoughtStatuses::fromRawValue(QString::fromLatin1(raw)), raw);
}

void ThoughtTest::equalityCoversEveryFieldAndCanonicalText()
{
    const Thought thought = makeThought("café");
    Thought decomposed = thought;
    decomposed.title = QString::fromUtf8("cafe\xCC\x81"); // e + combining acute accent
    QCOMPARE(decomposed, thought);
    QCOMPARE(qHash(decomposed), qHash(thought));

    Thought later = thought;
    later.updatedAt = later.updatedAt.addMSecs(1);
    QVERIFY(later != thought);
    QVERIFY(qHash(later) != qHash(thought));
    Thought deleted = thought;
    deleted.isDeleted = true;
    QVERIFY(deleted != thought);
    Thought moved = thought;
    moved.status = ThoughtStatus::archived;
    QVERIFY(moved != thought);
}

void ThoughtTest::relativeLabelPicksTheLargestWholeUnit_data()
{
    QTest::addColumn<qint64>("offsetSeconds");
    QTest::addColumn<QString>("label");
    QTest::newRow("now") << qint64(0) << "0秒后";
    QTest::newRow("seconds ago") << qint64(-30) << "30秒前";
    QTest::newRow("twenty minutes ago") << qint64(-1200) << "20分钟前";
    QTest::newRow("two hours ago") << qint64(-7200) << "2小时前";
    QTest::newRow("just under a day") << qint64(-86399) << "23小时前";
    QTest::newRow("three days ago") << qint64(-3 * 86400) << "3天前";
    QTest::newRow("two weeks ago") << qint64(-15 * 86400) << "2周前";
    QTest::newRow("two months ago") << qint64(-62 * 86400) << "2个月前";
    QTest::newRow("a year ago") << qint64(-366 * 86400) << "1年前";
    QTest::newRow("in five minutes") << qint64(300) << "5分钟后";
}

void ThoughtTest::relativeLabelPicksTheLargestWholeUnit()
{
    QFETCH(qint64, offsetSeconds);
    QFETCH(QString, label);
    QCOMPARE(relativeLabel(fixtureNow().addSecs(offsetSeconds), fixtureNow()), label);
}

QTEST_GUILESS_MAIN(ThoughtTest)
#include "tst_thought.moc"
