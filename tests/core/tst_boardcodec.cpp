#include "BoardFixtures.h"
#include "stores/BoardCodec.h"

#include <QTest>

// The board file is the one thing that outlives every version of the app: its bytes are checked
// exactly, and every way a file can be malformed must reject the whole board.
class BoardCodecTest : public QObject
{
    Q_OBJECT

private slots:
    void encodesTheExactFileForm();
    void encodesAnEmptyBoardAsTwoBytes();
    void escapesLikeTheFileFormatRequires_data();
    void escapesLikeTheFileFormatRequires();
    void roundTripKeepsOrderTombstonesAndWholeSeconds();
    void acceptsWhatOtherWritersProduce_data();
    void acceptsWhatOtherWritersProduce();
    void rejectsTheWholeBoardOnAnyBrokenRule_data();
    void rejectsTheWholeBoardOnAnyBrokenRule();
    void datesReadBackAsTheSameInstant_data();
    void datesReadBackAsTheSameInstant();
};

namespace {

const QByteArray validThought =
    R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","title":"t","note":"","status":"completed","createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:00Z","isDeleted":false})";

QByteArray withMember(const QByteArray &member, const QByteArray &replacement)
{
    // Replaces one "member":value pair of validThought, or removes it when replacement is empty.
    QByteArray object = validThought;
    const qsizetype start = object.indexOf("\"" + member + "\":");
    Q_ASSERT(start >= 0);
    qsizetype end = start + member.size() + 3;
    if (object[end] == '"')
        end = object.indexOf('"', end + 1) + 1;
    else
        while (object[end] != ',' && object[end] != '}')
            ++end;
    if (replacement.isEmpty()) {
        if (object[end] == ',')
            ++end;
        else if (object[start - 1] == ',')
            return object.left(start - 1) + object.mid(end);
        return object.left(start) + object.mid(end);
    }
    return object.left(start) + replacement + object.mid(end);
}

} // namespace

void BoardCodecTest::encodesTheExactFileForm()
{
    const Thought live{QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}")),
                       QStringLiteral("研究 iCloud / CloudKit"),
                       QString(),
                       ThoughtStatus::inProgress,
                       fixtureNow(),
                       fixtureNow().addMSecs(1999),
                       false};
    Thought deleted = live;
    deleted.id = QUuid::fromString(QStringLiteral("{00000000-0000-0000-0000-0000000000ab}"));
    deleted.note = QStringLiteral("n");
    deleted.status = ThoughtStatus::archived;
    deleted.isDeleted = true;
    QCOMPARE(
        BoardCodec::encode({live, deleted}),
        QByteArray(
            R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","title":"研究 iCloud \/ CloudKit","note":"","status":"inProgress","createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:01Z","isDeleted":false},)"
            R"({"id":"00000000-0000-0000-0000-0000000000AB","title":"研究 iCloud \/ CloudKit","note":"n","status":"archived","createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:01Z","isDeleted":true}])"));
}

void BoardCodecTest::encodesAnEmptyBoardAsTwoBytes()
{
    // The shortest thoughts there are, many of them: the encoder sizes its buffer up front.
    Board tiny;
    for (int i = 0; i < 100; ++i)
        tiny.append(Thought{QUuid::createUuid(), QString(), QString(), ThoughtStatus::inProgress,
                            fixtureNow(), fixtureNow(), false});
    QCOMPARE(BoardCodec::decode(BoardCodec::encode(tiny)), std::optional<Board>(tiny));

    QCOMPARE(BoardCodec::encode({}), QByteArray("[]"));
    const std::optional<Board> decoded = BoardCodec::decode("[]");
    QVERIFY(decoded);
    QVERIFY(decoded->isEmpty());
}

void BoardCodecTest::escapesLikeTheFileFormatRequires_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("slash") << QStringLiteral("a/b") << QByteArray(R"("a\/b")");
    QTest::newRow("quote and backslash") << QStringLiteral("\"\\") << QByteArray(R"("\"\\")");
    QTest::newRow("line breaks and tab")
        << QStringLiteral("a\nb\r\tc") << QByteArray(R"("a\nb\r\tc")");
    QTest::newRow("other control") << QString(QChar(0x01)) << QByteArray(R"("\u0001")");
    QTest::newRow("chinese stays raw") << QStringLiteral("灵感") << QByteArray("\"灵感\"");
    QTest::newRow("emoji stays raw") << QStringLiteral("💡") << QByteArray("\"\xF0\x9F\x92\xA1\"");
}

void BoardCodecTest::escapesLikeTheFileFormatRequires()
{
    QFETCH(QString, title);
    QFETCH(QByteArray, encoded);
    Thought thought = makeThought(title);
    const QByteArray bytes = BoardCodec::encode({thought});
    QVERIFY2(bytes.contains("\"title\":" + encoded + ","), bytes.constData());
    const std::optional<Board> decoded = BoardCodec::decode(bytes);
    QVERIFY(decoded);
    QCOMPARE(decoded->first().title, title);
}

void BoardCodecTest::roundTripKeepsOrderTombstonesAndWholeSeconds()
{
    Board board{makeThought(QStringLiteral("one"), ThoughtStatus::notStarted),
                makeThought(QStringLiteral("two"), ThoughtStatus::archived, 5, true),
                makeThought(QStringLiteral("three"), ThoughtStatus::completed)};
    board[0].updatedAt = board[0].updatedAt.addMSecs(700);
    board[1].note = QStringLiteral("第二行\n备注");

    const std::optional<Board> decoded = BoardCodec::decode(BoardCodec::encode(board));
    QVERIFY(decoded);
    QCOMPARE(titles(*decoded), titles(board));
    QCOMPARE(decoded->at(1).isDeleted, true);
    QCOMPARE(decoded->at(1).note, board[1].note);
    // The fraction is cut, so the thought that carried one no longer equals its saved self.
    QCOMPARE(decoded->at(0).updatedAt, fixtureNow());
    QVERIFY(decoded->at(0) != board[0]);
    QCOMPARE(decoded->at(2), board[2]);
}

void BoardCodecTest::acceptsWhatOtherWritersProduce_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("isDeleted");
    QTest::newRow("as written") << "[" + validThought + "]" << false;
    QTest::newRow("isDeleted missing") << "[" + withMember("isDeleted", {}) + "]" << false;
    QTest::newRow("isDeleted null")
        << "[" + withMember("isDeleted", R"("isDeleted":null)") + "]" << false;
    QTest::newRow("isDeleted true")
        << "[" + withMember("isDeleted", R"("isDeleted":true)") + "]" << true;
    QTest::newRow("lower-case id")
        << "[" + withMember("id", R"("id":"0f8fad5b-d9cb-469f-a165-70867728950e")") + "]" << false;
    QTest::newRow("members in another order")
        << QByteArray(
               R"([{"isDeleted":true,"updatedAt":"2026-03-01T09:00:00Z","status":"completed","note":"","title":"t","createdAt":"2026-03-01T09:00:00Z","id":"0F8FAD5B-D9CB-469F-A165-70867728950E"}])")
        << true;
    QTest::newRow("pretty printed")
        << QByteArray("[\n  " + withMember("title", "\"title\" : \"t\"") + "\n]\n") << false;
    QTest::newRow("unknown member of a newer writer")
        << "[" + withMember("note", R"("note":"","tags":[1,{"a":null}])") + "]" << false;
    QTest::newRow("escaped characters")
        << "[" + withMember("title", R"("title":"\u7075\u611f \ud83d\udca1 \/")") + "]" << false;
}

void BoardCodecTest::acceptsWhatOtherWritersProduce()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, isDeleted);
    QString error;
    const std::optional<Board> board = BoardCodec::decode(file, &error);
    QVERIFY2(board, qPrintable(error));
    QCOMPARE(board->size(), 1);
    QCOMPARE(board->first().isDeleted, isDeleted);
    QCOMPARE(uuidText(board->first().id), QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E"));
}

void BoardCodecTest::rejectsTheWholeBoardOnAnyBrokenRule_data()
{
    QTest::addColumn<QByteArray>("badThought");
    QTest::newRow("unknown status") << withMember("status", R"("status":"done")");
    QTest::newRow("status in another case") << withMember("status", R"("status":"Completed")");
    QTest::newRow("malformed id") << withMember("id",
                                                R"("id":"0F8FAD5B-D9CB-469F-A165-70867728950")");
    QTest::newRow("id with braces")
        << withMember("id", R"("id":"{0F8FAD5B-D9CB-469F-A165-70867728950E}")");
    QTest::newRow("fractional date")
        << withMember("createdAt", R"("createdAt":"2026-03-01T09:00:00.5Z")");
    QTest::newRow("date without zone")
        << withMember("updatedAt", R"("updatedAt":"2026-03-01T09:00:00")");
    QTest::newRow("impossible date")
        << withMember("updatedAt", R"("updatedAt":"2026-02-30T09:00:00Z")");
    QTest::newRow("date as number") << withMember("updatedAt", R"("updatedAt":789000000)");
    QTest::newRow("title missing") << withMember("title", {});
    QTest::newRow("note missing") << withMember("note", {});
    QTest::newRow("createdAt missing") << withMember("createdAt", {});
    QTest::newRow("title null") << withMember("title", R"("title":null)");
    QTest::newRow("title a number") << withMember("title", R"("title":3)");
    QTest::newRow("isDeleted a string") << withMember("isDeleted", R"("isDeleted":"false")");
    QTest::newRow("isDeleted a number") << withMember("isDeleted", R"("isDeleted":0)");
    QTest::newRow("thought not an object") << QByteArray("\"text\"");
    QTest::newRow("invalid UTF-8") << withMember("title", "\"title\":\"\xC3\x28\"");
    QTest::newRow("lone surrogate") << withMember("title", R"("title":"\ud83d")");
    QTest::newRow("raw control character") << withMember("title", "\"title\":\"a\x01\"");
    QTest::newRow("truncated") << validThought.left(validThought.size() - 5);
}

void BoardCodecTest::rejectsTheWholeBoardOnAnyBrokenRule()
{
    QFETCH(QByteArray, badThought);
    // A good thought first: one bad element must still sink the whole array.
    QString error;
    QVERIFY(!BoardCodec::decode("[" + validThought + "," + badThought + "]", &error));
    QVERIFY(!error.isEmpty());
}

void BoardCodecTest::datesReadBackAsTheSameInstant_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QDateTime>("instant");
    QTest::newRow("utc") << QByteArray("2026-03-01T09:00:00Z") << fixtureNow();
    QTest::newRow("offset east") << QByteArray("2026-03-01T17:00:00+08:00") << fixtureNow();
    QTest::newRow("offset west") << QByteArray("2026-03-01T04:30:00-04:30") << fixtureNow();
    QTest::newRow("leap day") << QByteArray("2024-02-29T23:59:59Z")
                              << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC);
    QTest::newRow("before 1970") << QByteArray("1969-12-31T23:59:59Z")
                                 << QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59), Qt::UTC);
}

void BoardCodecTest::datesReadBackAsTheSameInstant()
{
    QFETCH(QByteArray, text);
    QFETCH(QDateTime, instant);
    const std::optional<QDateTime> parsed = BoardCodec::parseDate(text);
    QVERIFY(parsed);
    QCOMPARE(*parsed, instant);
    QCOMPARE(BoardCodec::formatDate(instant), BoardCodec::formatDate(*parsed));
    QCOMPARE(BoardCodec::parseDate(BoardCodec::formatDate(instant)), instant);
}

QTEST_GUILESS_MAIN(BoardCodecTest)
#include "tst_boardcodec.moc"
