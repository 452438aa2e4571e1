#include "BoardFixtures.h"
#include "services/ThoughtSyncMerge.h"

#include <QRegularExpression>
#include <QTest>

namespace {

// "A1000c~'": thought A updated 1000 ms after fixtureNow(), completed ("c"), a tombstone ("~"),
// the quote only telling apart two versions of one moment. Title and note are the word itself,
// so comparing boards shows which version of every thought won, whole.
Board board(const QString &text)
{
    static const QRegularExpression form("^([A-Z])(-?\\d+)(c?)(~?)'*$");
    Board result;
    for (const QString &word : text.split(' ', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch part = form.match(word);
        result.append(Thought{
            QUuid(0x10000000u + word[0].unicode(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), word, word,
            part.captured(3).isEmpty() ? ThoughtStatus::notStarted : ThoughtStatus::completed,
            fixtureNow().addSecs(-3600), fixtureNow().addMSecs(part.captured(2).toLongLong()),
            !part.captured(4).isEmpty()});
    }
    return result;
}

} // namespace

class SyncMergeTest : public QObject
{
    Q_OBJECT

private slots:
    void mergesByNewestEditPerThought_data();
    void mergesByNewestEditPerThought();
};

void SyncMergeTest::mergesByNewestEditPerThought_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *local, const char *remote,
                        const char *expected) {
        QTest::newRow(name) << local << remote << expected;
    };
    row("both empty", "", "", "");
    row("no cloud board keeps local as is", "A0 B0 C0", "", "A0 B0 C0");
    row("repeats collapse at first place, newest wins, first of a tie", "", "X0 Y0 X5000 X5000'",
        "X5000 Y0");
    row("repeated local ids collapse too", "A0 B0 A1000", "", "A1000 B0");
    row("cloud-only thoughts follow local ones in cloud order", "A0", "Y0 X0", "A0 Y0 X0");
    row("newer remote wins at the local position", "B0 A0 C0", "A1000", "B0 A1000 C0");
    row("tie keeps local", "A0", "A0'", "A0");
    row("sub-second local edit beats the whole-second copy", "A700", "A0'", "A700");
    row("older remote tombstone loses", "A0", "A-1000~", "A0");
    row("newer remote tombstone deletes the local card", "A0 B0", "A1000~", "A1000~ B0");
    row("cloud-only tombstone is carried along", "B0", "A1000~", "B0 A1000~");
    row("newer local tombstone stays deleted", "A2000~", "A1000", "A2000~");
    row("newer live remote revives a local tombstone", "A2000~", "A3000", "A3000");
    row("remote status change keeps the local position", "A0 B0", "B0 A1000c", "A1000c B0");
    row("repeated cloud-only id: newer version, first position", "A0", "X0 Y0 X1000",
        "A0 X1000 Y0");
}

void SyncMergeTest::mergesByNewestEditPerThought()
{
    QFETCH(QString, local);
    QFETCH(QString, remote);
    QFETCH(QString, expected);
    const Board merged = ThoughtSyncMerge::merge(board(local), board(remote));
    QCOMPARE(titles(merged).join(' '), expected);
    QCOMPARE(merged, board(expected));
}

QTEST_GUILESS_MAIN(SyncMergeTest)
#include "tst_syncmerge.moc"
