#include "BoardFixtures.h"
#include "stores/BoardCodec.h"
#include "stores/BoardSnapshots.h"
#include "stores/BoardStore.h"
#include "support/RelativeLabel.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

#include <unistd.h>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

// The board file, the thoughts in it and the store that owns them: the file's bytes are checked
// exactly and any malformed file rejects the whole board, an unreadable file is never overwritten
// and a refused save never leaves anything but a whole board behind, nor goes unsaid; every store
// operation keeps order, status, updatedAt and tombstones as the board's rules say and saves the
// change.
class BoardTest : public QObject
{
    Q_OBJECT

private slots:
    void encodesTheExactFileForm();
    void readsStrictly_data();
    void readsStrictly();
    void thoughtsCompareByCanonicalTextAndExactDates_data();
    void thoughtsCompareByCanonicalTextAndExactDates();
    void operationsFollowThePlacementRules_data();
    void operationsFollowThePlacementRules();
    void searchMatchesTrimmedTextInTitleNoteOrColumn_data();
    void searchMatchesTrimmedTextInTitleNoteOrColumn();
    void relativeLabelsUseTheLargestWholeUnit_data();
    void relativeLabelsUseTheLargestWholeUnit();
    void keptRelativeLabelsAreUsedOnlyAsWritten_data();
    void keptRelativeLabelsAreUsedOnlyAsWritten();
    void boardFilesAreUsedOnlyWhenReadAndNeverLost_data();
    void boardFilesAreUsedOnlyWhenReadAndNeverLost();
    void failedSavesKeepTheBoardAndSayWhyUntilOneSucceeds_data();
    void failedSavesKeepTheBoardAndSayWhyUntilOneSucceeds();
};

namespace {

const QByteArray id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
const QByteArray valid =
    R"({"id":")" + id +
    R"(","title":"t","note":"","status":"completed","createdAt":)"
    R"("2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:01:00Z","isDeleted":false})";

QByteArray with(const QByteArray &from, const QByteArray &to)
{
    return QByteArray(valid).replace(from, to);
}

QByteArray without(const char *member)
{
    QByteArray thought = valid;
    const qsizetype at = thought.indexOf("\"" + QByteArray(member) + "\":");
    return thought.remove(at, thought.indexOf(',', at) - at + 1);
}

enum Verdict { rejected, live, deleted };

const QDateTime now = fixtureNow().addSecs(600);

// "title:status", then "~" for a tombstone, "*" when the store stamped it now, "[note]".
QString summary(const Board &board)
{
    QStringList parts;
    for (const Thought &t : board)
        parts.append(t.title + ':' + ThoughtStatuses::rawValue(t.status).at(0) +
                     (t.isDeleted ? "~" : "") + (t.updatedAt == now ? "*" : "") +
                     (t.note.isEmpty() ? QString() : '[' + t.note + ']'));
    return parts.join(' ');
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void BoardTest::encodesTheExactFileForm()
{
    Thought live{QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}")),
                 QStringLiteral("研究 iCloud / \"Kit\" \\ 💡"),
                 QStringLiteral("第二行：把想法先放进这里看板\n\r\t\x01"),
                 ThoughtStatus::inProgress,
                 fixtureNow(),
                 fixtureNow().addMSecs(1999),
                 false};
    Thought gone{QUuid::fromString(QStringLiteral("{00000000-0000-0000-0000-0000000000ab}")),
                 {},
                 {},
                 ThoughtStatus::archived,
                 fixtureNow(),
                 fixtureNow().addMSecs(1999),
                 true};
    const QByteArray bytes = BoardCodec::encode({live, gone});
    QCOMPARE(
        bytes,
        QByteArray(
            R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","title":"研究 iCloud \/ \"Kit\" \\ 💡","note":"第二行：把想法先放进这里看板\n\r\t\u0001","status":"inProgress","createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:01Z","isDeleted":false},)"
            R"({"id":"00000000-0000-0000-0000-0000000000AB","title":"","note":"","status":"archived","createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:01Z","isDeleted":true}])"));
    // The file keeps whole seconds: what reads back is the saved board without the fractions.
    live.updatedAt = gone.updatedAt = fixtureNow().addSecs(1);
    QCOMPARE(BoardCodec::decode(bytes), std::optional<Board>({live, gone}));
    QCOMPARE(BoardCodec::encode({}), QByteArray("[]"));
    QCOMPARE(BoardCodec::decode("[]"), std::optional<Board>(Board{}));
}

void BoardTest::readsStrictly_data()
{
    QTest::addColumn<QByteArray>("thought");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QDateTime>("updatedAt");
    auto accepts = [](const char *name, const QByteArray &thought, Verdict verdict = live,
                      const QString &title = "t", const QDateTime &at = fixtureNow().addSecs(60)) {
        QTest::newRow(name) << thought << int(verdict) << title << at;
    };
    auto rejects = [](const char *name, const QByteArray &thought) {
        QTest::newRow(name) << thought << int(rejected) << QString() << QDateTime();
    };
    const QByteArray updated = "2026-03-01T09:01:00Z";
    accepts("as written", valid);
    accepts("isDeleted missing", with(R"(,"isDeleted":false)", ""));
    accepts("isDeleted true", with("false}", "true}"), deleted);
    accepts("lower-case id", with(id, id.toLower()));
    accepts("unknown member", with("{", R"({"tags":[1,{"a":"\u00e9"}],)"));
    accepts("pretty printed", QByteArray(valid).replace(",", " ,\n\t").replace(":\"", " : \""));
    accepts("four-byte character", with(R"("t")", "\"灵感 💡\""), live, "灵感 💡");
    accepts("escaped title", with(R"("t")", R"("\u7075\u611f \ud83d\udca1 \/")"), live, "灵感 💡 /");
    accepts("offset east", with(updated, "2026-03-01T17:01:00+08:00"));
    accepts("offset west", with(updated, "2026-03-01T04:31:00-04:30"));
    accepts("leap day, before 1970", with(updated, "1968-02-29T23:59:59Z"), live, "t",
            QDateTime(QDate(1968, 2, 29), QTime(23, 59, 59), Qt::UTC));
    for (const char *member : {"id", "title", "note", "status", "createdAt", "updatedAt"})
        rejects(member, without(member));
    rejects("unknown status", with("completed", "done"));
    rejects("status in another case", with("completed", "Completed"));
    rejects("id too short", with(id, id.chopped(1)));
    rejects("id with braces", with(id, "{" + id + "}"));
    rejects("id with other separators", with(id, QByteArray(id).replace('-', '_')));
    rejects("id not hex", with(id, QByteArray(id).replace('F', 'G')));
    rejects("id with a digit for its last dash", with(id, id.left(23) + 'A' + id.mid(24)));
    rejects("fractional date", with(updated, "2026-03-01T09:01:00.5Z"));
    rejects("date without zone", with(updated, "2026-03-01T09:01:00"));
    rejects("impossible date", with(updated, "2026-02-29T09:01:00Z"));
    rejects("hour 24", with(updated, "2026-03-01T24:00:00Z"));
    rejects("leap second", with(updated, "2026-03-01T23:59:60Z"));
    rejects("offset of 60 minutes", with(updated, "2026-03-01T09:01:00+08:60"));
    rejects("isDeleted a string", with("false", R"("false")"));
    rejects("isDeleted a number", with("false", "0"));
    rejects("thought not an object", R"("text")");
    rejects("invalid UTF-8", with(R"("t")", "\"\xC3\x28\""));
    rejects("overlong UTF-8", with(R"("t")", "\"\xC0\xAF\""));
    rejects("UTF-8 surrogate", with(R"("note":"")", "\"note\":\"\xED\xA0\x80\""));
    rejects("cut UTF-8", with(R"("note":"")", "\"note\":\"\xE7\x81\""));
    rejects("invalid UTF-8 elsewhere", with("{", "{\"tags\":\"\xFF\xFE\","));
    rejects("lone surrogate", with(R"("t")", R"("\ud83d")"));
    rejects("unknown escape", with(R"("t")", R"("\q")"));
    rejects("raw control character", with(R"("t")", QByteArray("\"a\x01") + "bc\""));
    rejects("truncated", valid.chopped(5));
    rejects("data after the array", valid + "] [");
    rejects("comma after the last thought", valid + ",");
}

void BoardTest::readsStrictly()
{
    QFETCH(QByteArray, thought);
    QFETCH(int, verdict);
    QFETCH(QString, title);
    QFETCH(QDateTime, updatedAt);
    // A good thought first: one bad element must still sink the whole array.
    QString error;
    const auto board = BoardCodec::decode("[" + valid + "," + thought + "]", &error);
    QCOMPARE(board.has_value(), verdict != rejected);
    QCOMPARE(error.isEmpty(), verdict != rejected);
    if (verdict == rejected)
        return;
    const Thought &read = board->last();
    QCOMPARE(uuidText(read.id), QString::fromLatin1(id));
    QCOMPARE(read.title, title);
    QCOMPARE(read.status, ThoughtStatus::completed);
    QCOMPARE(read.updatedAt, updatedAt);
    QCOMPARE(read.isDeleted, verdict == deleted);
}

void BoardTest::thoughtsCompareByCanonicalTextAndExactDates_data()
{
    QTest::addColumn<Thought>("base");
    QTest::addColumn<Thought>("other");
    QTest::addColumn<bool>("equal");
    const Thought base{QUuid::createUuid(), "Caf\u00e9",  "\u00e9", ThoughtStatus::completed,
                       fixtureNow(),        fixtureNow(), false};
    auto row = [&base](const char *name, bool equal, const std::function<void(Thought &)> &change) {
        Thought other = base;
        change(other);
        QTest::newRow(name) << base << other << equal;
    };
    row("title decomposed", true, [](Thought &t) { t.title = "Cafe\u0301"; });
    row("note decomposed", true, [](Thought &t) { t.note = "e\u0301"; });
    row("other title", false, [](Thought &t) { t.title = "Cafe"; });
    row("other note", false, [](Thought &t) { t.note = "e"; });
    row("updatedAt a millisecond on", false,
        [](Thought &t) { t.updatedAt = t.updatedAt.addMSecs(1); });
    row("createdAt a second on", false, [](Thought &t) { t.createdAt = t.createdAt.addSecs(1); });
    row("tombstone", false, [](Thought &t) { t.isDeleted = true; });
    row("status", false, [](Thought &t) { t.status = ThoughtStatus::archived; });
    row("id", false, [](Thought &t) { t.id = QUuid::createUuid(); });
}

void BoardTest::thoughtsCompareByCanonicalTextAndExactDates()
{
    // Equality decides whether a cloud board changed anything; equal thoughts hash alike.
    QFETCH(Thought, base);
    QFETCH(Thought, other);
    QFETCH(bool, equal);
    QCOMPARE(base == other, equal);
    if (equal)
        QCOMPARE(qHash(base, 7), qHash(other, 7));
}

void BoardTest::operationsFollowThePlacementRules_data()
{
    // An operation on the board "A:n B:n C:i D:c T:c~ E:a", its arguments split by "|", and the
    // board after it.
    QTest::addColumn<QStringList>("operation");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("saves");
    const QString same = "A:n B:n C:i D:c T:c~ E:a";
    auto row = [](const char *name, const QString &operation, const QString &after, int saves) {
        QTest::newRow(name) << operation.split('|') << after << saves;
    };
    row("add trims and prepends", "add|  idea \n", "idea:n* " + same, 1);
    row("add trims ideographic space", "add|\u3000灵感\u3000", "灵感:n* " + same, 1);
    row("add blank", "add| \n\t", same, 0);
    row("update in place", "update|B| B2 | \n |completed", "A:n B2:c* C:i D:c T:c~ E:a", 1);
    row("update trims the note", "update|B|B| n\n|notStarted", "A:n B:n*[n] C:i D:c T:c~ E:a", 1);
    row("update with a blank title", "update|B|\u3000 ||completed", same, 0);
    row("update an unknown thought", "update|?|t||completed", same, 0);
    row("delete leaves a tombstone in place", "delete|C", "A:n B:n C:i~* D:c T:c~ E:a", 1);
    row("delete an unknown thought", "delete|?", same, 0);
    row("archive completed, twice", "archive", "A:n B:n C:i D:a* T:c~ E:a", 2);
    row("before another column's first", "move|C|notStarted|A", "C:n* A:n B:n D:c T:c~ E:a", 1);
    row("own column's end keeps updatedAt", "move|A|notStarted|", "B:n A:n C:i D:c T:c~ E:a", 1);
    row("before an earlier card", "move|B|notStarted|A", "B:n A:n C:i D:c T:c~ E:a", 1);
    row("before the card just after it", "move|A|notStarted|B", same, 1);
    row("onto itself", "move|B|notStarted|B", same, 0);
    row("to another column's end", "move|D|inProgress|", "A:n B:n C:i D:i* T:c~ E:a", 1);
    row("a tombstone anchors its column's end", "move|A|completed|?", "B:n C:i D:c T:c~ A:c* E:a",
        1);
    row("move an unknown thought", "move|?|inProgress|", same, 0);
    row("advance to the next column's end", "advance|A", "B:n C:i A:i* D:c T:c~ E:a", 1);
    row("advance completed", "advance|D", "A:n B:n C:i T:c~ E:a D:a*", 1);
    row("advance archived", "advance|E", same, 0);
    row("advance a tombstone", "advance|T", same, 0);
}

void BoardTest::operationsFollowThePlacementRules()
{
    QFETCH(QStringList, operation);
    QFETCH(QString, after);
    QFETCH(int, saves);
    RecordingPersistence recording;
    recording.stored = Board{makeThought("A"),
                             makeThought("B"),
                             makeThought("C", ThoughtStatus::inProgress),
                             makeThought("D", ThoughtStatus::completed),
                             makeThought("T", ThoughtStatus::completed, 0, true),
                             makeThought("E", ThoughtStatus::archived)};
    BoardStore store(recording.persistence());
    store.setClock([] { return now; });
    QSignalSpy changes(&store, &BoardStore::thoughtsChanged);
    const Board board = store.thoughts();
    auto thought = [&](int at) {
        const auto found = std::find_if(board.cbegin(), board.cend(),
                                        [&](const Thought &t) { return t.title == operation[at]; });
        return found == board.cend() ? makeThought("?") : *found;
    };
    auto status = [&](int at) { return *ThoughtStatuses::fromRawValue(operation[at]); };
    const QString &name = operation[0];
    if (name == "add")
        store.addQuickThought(operation[1]);
    if (name == "update")
        store.update(thought(1), operation[2], operation[3], status(4));
    if (name == "delete")
        store.deleteThought(thought(1));
    for (int i = 0; name == "archive" && i < 2; ++i)
        store.archiveCompleted();
    if (name == "move")
        store.move(thought(1).id, status(2),
                   operation[3].isEmpty() ? std::nullopt : std::optional(thought(3).id));
    if (name == "advance")
        store.advance(thought(1).id);
    QCOMPARE(summary(store.thoughts()), after);
    QCOMPARE(recording.saves.size(), saves);
    QCOMPARE(changes.size(), saves);
    if (saves)
        QCOMPARE(recording.saves.last(), store.thoughts());
}

void BoardTest::searchMatchesTrimmedTextInTitleNoteOrColumn_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{"Alpha", "写代码", "Gamma", "done"};
    QTest::newRow("empty shows all live") << QString() << all;
    QTest::newRow("only whitespace shows all") << " \n\t\u3000" << all;
    QTest::newRow("title, any case") << "aLPHA" << QStringList{"Alpha"};
    QTest::newRow("chinese substring") << "代码" << QStringList{"写代码"};
    QTest::newRow("note, any case") << "grocery" << QStringList{"Gamma"};
    QTest::newRow("padded column title") << "  已完成 " << QStringList{"Gamma", "done"};
    QTest::newRow("diacritics must match") << "cafe" << QStringList{};
    QTest::newRow("whole query, not words") << "Alpha Gamma" << QStringList{};
}

void BoardTest::searchMatchesTrimmedTextInTitleNoteOrColumn()
{
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    RecordingPersistence recording;
    recording.stored = Board{makeThought("Alpha"), makeThought("写代码", ThoughtStatus::inProgress),
                             makeThought("Gamma", ThoughtStatus::completed),
                             makeThought("hidden", ThoughtStatus::completed, 0, true),
                             makeThought("done", ThoughtStatus::completed)};
    (*recording.stored)[2].note = "Buy GROCERY at the café";
    BoardStore store(recording.persistence());
    store.setSearchText(query);
    QCOMPARE(titles(store.visibleThoughts()), expected);
    // The columns hold the same thoughts, each in its own.
    const ThoughtsByStatus byStatus = store.visibleThoughtsByStatus();
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        QStringList column;
        for (const Thought &thought : store.visibleThoughts())
            if (thought.status == status)
                column.append(thought.title);
        QCOMPARE(titles(byStatus[status]), column);
    }
}

void BoardTest::relativeLabelsUseTheLargestWholeUnit_data()
{
    QTest::addColumn<bool>("fromKeptLabels");
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QString>("label");
    const QDateTime at = fixtureNow();
    // The same words whether ICU formats them now or an earlier launch kept them.
    for (const bool kept : {false, true}) {
        auto row = [kept](const char *name) -> QTestData & {
            return QTest::addRow("%s%s", kept ? "kept: " : "", name) << kept;
        };
        row("now is already past") << at << "0秒前";
        row("under a second ago") << at.addMSecs(-400) << "0秒前";
        row("in half a second") << at.addMSecs(500) << "0秒后";
        row("59 seconds ago") << at.addSecs(-59) << "59秒前";
        row("a minute ago") << at.addSecs(-60) << "1分钟前";
        row("an hour ago, exactly") << at.addSecs(-3600) << "1小时前";
        row("in two hours") << at.addSecs(7200) << "2小时后";
        row("a day ago, exactly") << at.addDays(-1) << "1天前";
        row("in a week") << at.addDays(7) << "1周后";
        row("two weeks ago, across a month start") << at.addDays(-14) << "2周前";
        row("in 30 days, short of a month") << at.addDays(30) << "4周后";
        row("a calendar month ago") << at.addMonths(-1) << "1个月前";
        row("in a calendar month") << at.addMonths(1) << "1个月后";
        row("a year ago") << at.addYears(-1) << "1年前";
        row("ten years ago") << at.addYears(-10) << "10年前";
        row("in 25 years") << at.addYears(25) << "25年后";
    }
}

void BoardTest::relativeLabelsUseTheLargestWholeUnit()
{
    QFETCH(bool, fromKeptLabels);
    QFETCH(QDateTime, date);
    QFETCH(QString, label);
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("cache/labels.txt"));
    useKeptRelativeLabels({});
    if (fromKeptLabels)
        QVERIFY(keepRelativeLabels(kept) && useKeptRelativeLabels(kept));
    QCOMPARE(relativeLabel(date, fixtureNow()), label);
    useKeptRelativeLabels({});
}

enum class KeptChange {
    none,
    otherIcu,
    labelMissing,
    labelMore,
    emptyLabel,
    notUtf8,
    control,
    noFile
};

void BoardTest::keptRelativeLabelsAreUsedOnlyAsWritten_data()
{
    QTest::addColumn<KeptChange>("change");
    QTest::addColumn<bool>("used");
    QTest::newRow("as written") << KeptChange::none << true;
    QTest::newRow("by another ICU") << KeptChange::otherIcu << false;
    QTest::newRow("a label short") << KeptChange::labelMissing << false;
    QTest::newRow("a label more") << KeptChange::labelMore << false;
    QTest::newRow("an empty label") << KeptChange::emptyLabel << false;
    QTest::newRow("not UTF-8") << KeptChange::notUtf8 << false;
    QTest::newRow("a control character") << KeptChange::control << false;
    QTest::newRow("no file") << KeptChange::noFile << false;
}

void BoardTest::keptRelativeLabelsAreUsedOnlyAsWritten()
{
    QFETCH(KeptChange, change);
    QFETCH(bool, used);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("labels.txt"));
    QVERIFY(keepRelativeLabels(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    lines.removeLast();
    // Marked, so that a label read from the file tells itself from ICU's.
    for (qsizetype i = 1; i < lines.size(); ++i)
        lines[i].prepend("甲");
    switch (change) {
    case KeptChange::none:
    case KeptChange::noFile:
        break;
    case KeptChange::otherIcu:
        lines[0].replace(" ICU ", " ICU 1");
        break;
    case KeptChange::labelMissing:
        lines.removeLast();
        break;
    case KeptChange::labelMore:
        lines.append("甲");
        break;
    case KeptChange::emptyLabel:
        lines[5].clear();
        break;
    case KeptChange::notUtf8:
        lines[5] = "\xff\xfe";
        break;
    case KeptChange::control:
        lines[5].append('\x01');
        break;
    }
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines.join('\n') + '\n');
    file.close();
    if (change == KeptChange::noFile)
        QVERIFY(file.remove());

    QCOMPARE(useKeptRelativeLabels(path), used);
    QCOMPARE(relativeLabel(fixtureNow().addDays(-3), fixtureNow()),
             used ? QStringLiteral("甲3天前") : QStringLiteral("3天前"));
    useKeptRelativeLabels({});
}

enum class Setup { none, contents, pipe, folder, deviceLink, hugeFile, noPermission };

void BoardTest::boardFilesAreUsedOnlyWhenReadAndNeverLost_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("problem"); // A BoardFileProblem::Kind, or -1 for none.
    using Kind = BoardFileProblem::Kind;
    const QStringList samples{"把今天冒出来的产品灵感先放进这里", "研究 WebDAV 云端同步结构",
                              "确定四列看板状态"};
    const QByteArray good = BoardCodec::encode({makeThought("t")});
    Thought older = makeThought("older");
    Thought newer = older;
    newer.title = "newer";
    newer.updatedAt = older.updatedAt.addSecs(60);
    const QByteArray repeated = BoardCodec::encode({older, makeThought("other"), newer});
    QTest::newRow("no file: samples") << Setup::none << QByteArray() << samples << -1;
    QTest::newRow("readable") << Setup::contents << good << QStringList{"t"} << -1;
    QTest::newRow("one id twice: newest at the first place")
        << Setup::contents << repeated << QStringList{"newer", "other"} << -1;
    QTest::newRow("newer status") << Setup::contents
                                  << QByteArray(good).replace("notStarted", "someday")
                                  << QStringList() << int(Kind::undecodable);
    QTest::newRow("truncated") << Setup::contents << good.chopped(3) << QStringList()
                               << int(Kind::undecodable);
    QTest::newRow("pipe") << Setup::pipe << QByteArray() << QStringList() << int(Kind::notAFile);
    QTest::newRow("folder") << Setup::folder << QByteArray() << QStringList()
                            << int(Kind::notAFile);
    QTest::newRow("link to /dev/zero")
        << Setup::deviceLink << QByteArray() << QStringList() << int(Kind::notAFile);
    QTest::newRow("larger than the limit")
        << Setup::hugeFile << QByteArray() << QStringList() << int(Kind::tooLarge);
    if (::geteuid() != 0) {
        QTest::newRow("not readable")
            << Setup::noPermission << good << QStringList() << int(Kind::unreadable);
    }
}

// Whatever stands where the board file should be, the launch neither blocks nor reads without
// end, a file it cannot use is kept byte for byte and named, and only a first launch brings the
// samples. The first save moves such a file aside and writes a private board file.
void BoardTest::boardFilesAreUsedOnlyWhenReadAndNeverLost()
{
    QFETCH(Setup, setup);
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, shown);
    QFETCH(int, problem);
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    const QString folder = dir.filePath("data/Lumaret");
    const QString path = folder + "/board.json";
    QCOMPARE(BoardPersistence::liveStoragePath(), path);
    QVERIFY(setup == Setup::none || QDir().mkpath(folder));
    const QByteArray encodedPath = QFile::encodeName(path);
    QFile file(path);
    switch (setup) {
    case Setup::none:
        break;
    case Setup::contents:
    case Setup::noPermission:
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        file.close();
        if (setup == Setup::noPermission)
            QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
        break;
    case Setup::pipe:
        QCOMPARE(::mkfifo(encodedPath.constData(), 0600), 0);
        break;
    case Setup::folder:
        QVERIFY(QDir().mkpath(path));
        break;
    case Setup::deviceLink:
        QVERIFY(QFile::link("/dev/zero", path));
        break;
    case Setup::hugeFile:
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.resize(BoardPersistence::maxFileSize + 1)); // Sparse: costs no disk.
        file.close();
        break;
    }
    // As a launch reads it, on another thread, and saves it, after a snapshot: neither may hang on
    // a pipe.
    BoardStore store(BoardPersistence::readingAhead(
        BoardSnapshots::guarding(BoardPersistence::live(), &BoardPersistence::liveStoragePath)));
    store.setClock([] { return fixtureNow(); });
    QCOMPARE(titles(store.thoughts()), shown);
    QCOMPARE(store.loadProblem() ? int(store.loadProblem()->kind) : -1, problem);
    if (store.loadProblem())
        QCOMPARE(store.loadProblem()->path, path);
    if (!contents.isEmpty())
        QCOMPARE(contentsOf(path), contents); // Loading alone never touches it.
    QCOMPARE(QFileInfo::exists(path), setup != Setup::none);

    store.addQuickThought("new");
    store.addQuickThought("second"); // The rescue happens once, not at every save.
    QVERIFY(!store.hasUnsavedChanges());
    QCOMPARE(contentsOf(path), BoardCodec::encode(store.thoughts()));
    struct stat status = {};
    QCOMPARE(::stat(encodedPath.constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0600u);
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0700u);
    QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                 QDir::System | QDir::Hidden);
    entries.removeOne("snapshots");
    QCOMPARE(entries.size(), problem < 0 ? 1 : 2);
    QCOMPARE(store.movedAsidePath().isEmpty(), problem < 0);
    if (problem >= 0) {
        QCOMPARE(store.movedAsidePath(), folder + '/' + entries.last());
        QVERIFY(entries.last().startsWith("board.json.unreadable-"));
        if (!contents.isEmpty()) {
            QFile::setPermissions(store.movedAsidePath(), QFileDevice::ReadOwner);
            QCOMPARE(contentsOf(store.movedAsidePath()), contents);
        }
    }
    qunsetenv("XDG_DATA_HOME");
}

void BoardTest::failedSavesKeepTheBoardAndSayWhyUntilOneSucceeds_data()
{
    QTest::addColumn<int>("fault");
    QTest::newRow("file size limit") << EFBIG;
    QTest::newRow("full file system") << ENOSPC;
    QTest::newRow("read-only file system") << EROFS;
}

// A save the disk refuses never leaves anything but a whole board behind, keeps every change in
// memory, says why, and is tried again until the disk takes the board.
void BoardTest::failedSavesKeepTheBoardAndSayWhyUntilOneSucceeds()
{
    QFETCH(int, fault);
    QTemporaryDir dir;
    const QByteArray mountPoint = dir.path().toLocal8Bit();
    if (fault != EFBIG && ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP("cannot mount a small tmpfs here (needs root and a sandbox that allows mounts)");
    const QString path = dir.filePath("Lumaret/board.json");
    const Board before{makeThought("保存过的想法"),
                       makeThought("second", ThoughtStatus::completed)};
    BoardPersistence::file(path).save(before);
    BoardStore store(BoardPersistence::file(path));
    store.setClock([] { return fixtureNow(); }); // Whole seconds, as the file keeps them.
    QSignalSpy fileState(&store, &BoardStore::fileStateChanged);
    rlimit original{};
    getrlimit(RLIMIT_FSIZE, &original);
    rlimit limited = original;
    limited.rlim_cur = 16 * 1024;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QFile filler(dir.filePath("filler"));
    // Fill the file system but for a few kilobytes, limit the size of any file written, or make
    // the file system read-only.
    if (fault == ENOSPC && filler.open(QIODevice::WriteOnly))
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
    if (fault == EROFS) {
        QCOMPARE(
            ::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"),
            0);
    }
    QCOMPARE(setrlimit(RLIMIT_FSIZE, fault == EFBIG ? &limited : &original), 0);
    for (int i = 0; i < 200; ++i)
        store.addQuickThought(QStringLiteral("写不下的想法 %1 ").arg(i) +
                              QString(300, QChar(0x611f)));
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previousHandler);
    QCOMPARE(store.thoughts().size(), before.size() + 200);
    QVERIFY(store.hasUnsavedChanges());
    QCOMPARE(store.saveProblem(),
             std::optional(BoardFileProblem{BoardFileProblem::Kind::unwritable, path, fault}));
    QCOMPARE(fileState.size(), 1);
    // The file holds the last board that still fitted: whole, loadable, and short of the rest.
    const std::optional<Board> onDisk = BoardPersistence::file(path).load().board;
    QVERIFY(onDisk);
    const qsizetype fitted = onDisk->size() - before.size();
    QVERIFY(fitted >= 0 && fitted < 200);
    QCOMPARE(*onDisk, store.thoughts().mid(200 - fitted));
    QCOMPARE(QDir(dir.filePath("Lumaret")).entryList(QDir::Files), QStringList{"board.json"});

    // Once the disk takes it again, the next retry saves everything and the problem is gone.
    filler.close();
    QFile::remove(filler.fileName());
    if (fault == EROFS)
        QCOMPARE(::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_REMOUNT, "size=1m"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!store.hasUnsavedChanges(), 8000);
    QCOMPARE(fileState.size(), 2);
    QCOMPARE(BoardPersistence::file(path).load().board, std::optional<Board>(store.thoughts()));
    if (fault != EFBIG)
        ::umount(mountPoint.constData());
}

QTEST_GUILESS_MAIN(BoardTest)
#include "tst_board.moc"
