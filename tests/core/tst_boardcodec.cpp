#include "BoardFixtures.h"
#include "stores/BoardCodec.h"

#include <QTest>

class BoardCodecTest : public QObject
{
    Q_OBJECT

private slots:
    void encodesTheExactFileForm();
};

void BoardCodecTest::encodesTheExactFileForm()
{
    Thought thought{QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}")),
                    QStringLiteral("研究 iCloud / CloudKit"), QString(), ThoughtStatus::inProgress,
                    fixtureNow(), fixtureNow().addMSecs(1500), false};
    QCOMPARE(BoardCodec::encode({thought}),
             QByteArray(R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","title":"研究 iCloud \/ CloudKit","note":"","status":"inProgress","createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:01Z","isDeleted":false}])"));
}

QTEST_GUILESS_MAIN(BoardCodecTest)
#include "tst_boardcodec.moc"
