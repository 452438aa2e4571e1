#include "BoardFixtures.h"
#include "stores/BoardStore.h"

#include <QSignalSpy>
#include <QTest>

// The store owns the board: these tests pin what each operation does to order, status,
// updatedAt, tombstones, and what reaches the disk.
class BoardStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void startsFromSamplesWithoutSavingThem();
    void startsEmptyFromAnEmptySavedBoard();
    void searchFiltersByTitleNoteAndColumn_data();
    void searchFiltersByTitleNoteAndColumn();
    void searchKeepsAllFourColumnsAndHidesTombstones();
    void equalAssignmentsNotifyNobody();
    void addQuickThoughtTrimsAndPrepends_data();
    void addQuickThoughtTrimsAndPrepends();
    void updateNeedsANonBlankTitle();
    void updateAlwaysMovesUpdatedAtAndKeepsThePlace();
    void deleteLeavesATombstoneInPlace();
    void archiveCompletedStampsOneTimeAndAlwaysSaves();
    void moveFollowsThePlacementRules_data();
    void moveFollowsThePlacementRules();
    void advanceWalksTheColumns();
    void operationsOnUnknownIdsSaveNothing();

private:
    struct Fixture
    {
        RecordingPersistence recording;
        std::unique_ptr<BoardStore> store;
        QDateTime now = fixtureNow().addSecs(600);

        explicit Fixture(std::optional<Board> saved)
        {
            recording.stored = std::move(saved);
            store = std::make_unique<BoardStore>(recording.persistence());
            store->setClock([this] { return now; });
        }
        const Thought &byTitle(const QString &title) const
        {
            for (const Thought &thought : store->thoughts())
                if (thought.title == title)
                    return thought;
            qFatal("no thought titled %s", qPrintable(title));
        }
    };
};

void BoardStoreTest::startsFromSamplesWithoutSavingThem()
{
    Fixture fixture(std::nullopt);
    const Board &board = fixture.store->thoughts();
    QCOMPARE(board.size(), 3);
    QCOMPARE(board[0].status, ThoughtStatus::notStarted);
    QCOMPARE(board[1].status, ThoughtStatus::inProgress);
    QCOMPARE(board[2].status, ThoughtStatus::completed);
    QCOMPARE(board[1].title, QStringLiteral("研究 iCloud / CloudKit 同步结构"));
    QVERIFY(fixture.recording.saves.isEmpty());

    // Samples get fresh ids every time.
    Fixture other(std::nullopt);
    QVERIFY(other.store->thoughts()[0].id != board[0].id);
}

void BoardStoreTest::startsEmptyFromAnEmptySavedBoard()
{
    Fixture fixture(Board{});
    QVERIFY(fixture.store->thoughts().isEmpty());
}

void BoardStoreTest::searchFiltersByTitleNoteAndColumn_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty shows all live")
        << QString() << QStringList{"Alpha", "写代码", "Gamma", "done"};
    QTest::newRow("only whitespace shows all")
        << QStringLiteral(" \n\t") << QStringList{"Alpha", "写代码", "Gamma", "done"};
    QTest::newRow("case-insensitive title") << QStringLiteral("ALPHA") << QStringList{"Alpha"};
    QTest::newRow("chinese substring") << QStringLiteral("代码") << QStringList{"写代码"};
    QTest::newRow("note matches") << QStringLiteral("grocery") << QStringList{"Gamma"};
    QTest::newRow("column title, trimmed")
        << QStringLiteral("  已完成 ") << QStringList{"Gamma", "done"};
    QTest::newRow("diacritics must match") << QStringLiteral("cafe") << QStringList{};
    QTest::newRow("whole query, not words") << QStringLiteral("Alpha Gamma") << QStringList{};
}

void BoardStoreTest::searchFiltersByTitleNoteAndColumn()
{
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    Board board{makeThought(QStringLiteral("Alpha")),
                makeThought(QStringLiteral("写代码"), ThoughtStatus::inProgress),
                makeThought(QStringLiteral("Gamma"), ThoughtStatus::completed),
                makeThought(QStringLiteral("hidden"), ThoughtStatus::completed, 0, true),
                makeThought(QStringLiteral("done"), ThoughtStatus::completed)};
    board[2].note = QStringLiteral("Buy GROCERY at the café");
    Fixture fixture(board);
    fixture.store->setSearchText(query);
    QCOMPARE(titles(fixture.store->visibleThoughts()), expected);
}

void BoardStoreTest::searchKeepsAllFourColumnsAndHidesTombstones()
{
    Fixture fixture(Board{makeThought(QStringLiteral("a")),
                          makeThought(QStringLiteral("b"), ThoughtStatus::archived, 0, true),
                          makeThought(QStringLiteral("c"), ThoughtStatus::archived)});
    ThoughtsByStatus byStatus = fixture.store->visibleThoughtsByStatus();
    QCOMPARE(titles(byStatus[ThoughtStatus::archived]), QStringList{QStringLiteral("c")});
    fixture.store->setSearchText(QStringLiteral("nothing like this"));
    byStatus = fixture.store->visibleThoughtsByStatus();
    for (ThoughtStatus status : ThoughtStatuses::allCases)
        QVERIFY(byStatus[status].isEmpty());
    QCOMPARE(fixture.store->thoughts().size(), 3);
}

void BoardStoreTest::equalAssignmentsNotifyNobody()
{
    Fixture fixture(Board{});
    QSignalSpy searchSpy(fixture.store.get(), &BoardStore::searchTextChanged);
    QSignalSpy tokenSpy(fixture.store.get(), &BoardStore::focusComposerTokenChanged);
    fixture.store->setSearchText(QStringLiteral("x"));
    fixture.store->setSearchText(QStringLiteral("x"));
    const QUuid token = QUuid::createUuid();
    fixture.store->setFocusComposerToken(token);
    fixture.store->setFocusComposerToken(token);
    QCOMPARE(searchSpy.count(), 1);
    QCOMPARE(tokenSpy.count(), 1);
    QVERIFY(fixture.recording.saves.isEmpty());
}

void BoardStoreTest::addQuickThoughtTrimsAndPrepends_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::newRow("plain") << QStringLiteral("idea") << QStringLiteral("idea");
    QTest::newRow("padded") << QStringLiteral("  idea \n") << QStringLiteral("idea");
    QTest::newRow("ideographic space")
        << QStringLiteral("\u3000灵感\u3000") << QStringLiteral("灵感");
    QTest::newRow("spaces and a line break") << QStringLiteral("  \n ") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void BoardStoreTest::addQuickThoughtTrimsAndPrepends()
{
    QFETCH(QString, text);
    QFETCH(QString, title);
    Fixture fixture(Board{makeThought(QStringLiteral("existing"))});
    QSignalSpy spy(fixture.store.get(), &BoardStore::thoughtsChanged);
    fixture.store->addQuickThought(text);
    if (title.isEmpty()) {
        QCOMPARE(fixture.store->thoughts().size(), 1);
        QVERIFY(fixture.recording.saves.isEmpty());
        QCOMPARE(spy.count(), 0);
        return;
    }
    const Thought &added = fixture.store->thoughts().first();
    QCOMPARE(added.title, title);
    QVERIFY(added.note.isEmpty());
    QCOMPARE(added.status, ThoughtStatus::notStarted);
    QCOMPARE(added.createdAt, fixture.now);
    QCOMPARE(added.updatedAt, fixture.now);
    QVERIFY(!added.isDeleted);
    QCOMPARE(fixture.recording.saves.size(), 1);
    QCOMPARE(fixture.recording.saves.first(), fixture.store->thoughts());
    QCOMPARE(spy.count(), 1);
}

void BoardStoreTest::updateNeedsANonBlankTitle()
{
    const Thought original = makeThought(QStringLiteral("keep"));
    Fixture fixture(Board{original});
    fixture.store->update(original, QStringLiteral("  \n"), QStringLiteral("note"),
                          ThoughtStatus::completed);
    QCOMPARE(fixture.store->thoughts().first(), original);
    QVERIFY(fixture.recording.saves.isEmpty());
}

void BoardStoreTest::updateAlwaysMovesUpdatedAtAndKeepsThePlace()
{
    const Board board{makeThought(QStringLiteral("a")), makeThought(QStringLiteral("b")),
                      makeThought(QStringLiteral("c"), ThoughtStatus::completed)};
    Fixture fixture(board);
    fixture.store->update(board[0], QStringLiteral(" a "), QString(), ThoughtStatus::notStarted);
    QCOMPARE(fixture.store->thoughts()[0].updatedAt, fixture.now);
    QCOMPARE(fixture.recording.saves.size(), 1);

    fixture.store->update(board[1], QStringLiteral(" B "), QStringLiteral("  \n "),
                          ThoughtStatus::completed);
    const Thought &updated = fixture.store->thoughts()[1];
    QCOMPARE(updated.title, QStringLiteral("B"));
    QVERIFY(updated.note.isEmpty());
    QCOMPARE(updated.status, ThoughtStatus::completed);
    // A status change through the editor keeps the array position, unlike a move.
    QCOMPARE(titles(fixture.store->visibleThoughtsByStatus()[ThoughtStatus::completed]),
             (QStringList{QStringLiteral("B"), QStringLiteral("c")}));
}

void BoardStoreTest::deleteLeavesATombstoneInPlace()
{
    const Board board{makeThought(QStringLiteral("a")),
                      makeThought(QStringLiteral("b"), ThoughtStatus::inProgress)};
    Fixture fixture(board);
    fixture.store->deleteThought(board[1]);
    fixture.now = fixture.now.addSecs(5);
    fixture.store->deleteThought(board[1]);
    const Thought &deleted = fixture.store->thoughts()[1];
    QVERIFY(deleted.isDeleted);
    QCOMPARE(deleted.status, ThoughtStatus::inProgress);
    QCOMPARE(deleted.updatedAt, fixture.now);
    QCOMPARE(fixture.recording.saves.size(), 2);
    QVERIFY(fixture.recording.saves.last()[1].isDeleted);
    QCOMPARE(titles(fixture.store->visibleThoughts()), QStringList{QStringLiteral("a")});
}

void BoardStoreTest::archiveCompletedStampsOneTimeAndAlwaysSaves()
{
    const Board board{makeThought(QStringLiteral("c1"), ThoughtStatus::completed),
                      makeThought(QStringLiteral("n"), ThoughtStatus::notStarted),
                      makeThought(QStringLiteral("gone"), ThoughtStatus::completed, -50, true),
                      makeThought(QStringLiteral("c2"), ThoughtStatus::completed)};
    Fixture fixture(board);
    fixture.store->archiveCompleted();
    const Board &after = fixture.store->thoughts();
    QCOMPARE(titles(after), titles(board));
    QCOMPARE(after[0].status, ThoughtStatus::archived);
    QCOMPARE(after[3].status, ThoughtStatus::archived);
    QCOMPARE(after[0].updatedAt, fixture.now);
    QCOMPARE(after[3].updatedAt, fixture.now);
    QCOMPARE(after[1], board[1]);
    QCOMPARE(after[2], board[2]);

    fixture.store->archiveCompleted();
    QCOMPARE(fixture.recording.saves.size(), 2);
}

void BoardStoreTest::moveFollowsThePlacementRules_data()
{
    // Board: A(notStarted) B(notStarted) C(inProgress) T(completed, tombstone) D(notStarted)
    QTest::addColumn<QString>("moved");
    QTest::addColumn<ThoughtStatus>("status");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<bool>("updatedAtMoves");
    QTest::addColumn<bool>("saved");

    QTest::newRow("other column, before its first card")
        << "C" << ThoughtStatus::notStarted << "A" << QStringList{"C", "A", "B", "T", "D"} << true
        << true;
    QTest::newRow("own column, to its end keeps updatedAt")
        << "A" << ThoughtStatus::notStarted << "" << QStringList{"B", "C", "T", "D", "A"} << false
        << true;
    QTest::newRow("own column, before a later card")
        << "A" << ThoughtStatus::notStarted << "D" << QStringList{"B", "C", "T", "A", "D"} << false
        << true;
    QTest::newRow("onto itself does nothing")
        << "B" << ThoughtStatus::notStarted << "B" << QStringList{"A", "B", "C", "T", "D"} << false
        << false;
    QTest::newRow("before the card just after it stays put but saves")
        << "A" << ThoughtStatus::notStarted << "B" << QStringList{"A", "B", "C", "T", "D"} << false
        << true;
    QTest::newRow("empty column goes to the very end")
        << "B" << ThoughtStatus::archived << "" << QStringList{"A", "C", "T", "D", "B"} << true
        << true;
    QTest::newRow("a tombstone anchors its column's end")
        << "A" << ThoughtStatus::completed << "" << QStringList{"B", "C", "T", "A", "D"} << true
        << true;
    QTest::newRow("unknown before falls back to the column end")
        << "D" << ThoughtStatus::inProgress << "?" << QStringList{"A", "B", "C", "D", "T"} << true
        << true;
    QTest::newRow("unknown thought does nothing")
        << "?" << ThoughtStatus::inProgress << "" << QStringList{"A", "B", "C", "T", "D"} << false
        << false;
}

void BoardStoreTest::moveFollowsThePlacementRules()
{
    QFETCH(QString, moved);
    QFETCH(ThoughtStatus, status);
    QFETCH(QString, before);
    QFETCH(QStringList, order);
    QFETCH(bool, updatedAtMoves);
    QFETCH(bool, saved);

    Board board{makeThought(QStringLiteral("A")), makeThought(QStringLiteral("B")),
                makeThought(QStringLiteral("C"), ThoughtStatus::inProgress),
                makeThought(QStringLiteral("T"), ThoughtStatus::completed, 0, true),
                makeThought(QStringLiteral("D"))};
    Fixture fixture(board);
    auto idOf = [&](const QString &title) {
        for (const Thought &thought : board)
            if (thought.title == title)
                return thought.id;
        return QUuid::createUuid();
    };
    const std::optional<QUuid> beforeId =
        before.isEmpty() ? std::nullopt : std::optional(idOf(before));
    fixture.store->move(idOf(moved), status, beforeId);

    QCOMPARE(titles(fixture.store->thoughts()), order);
    QCOMPARE(fixture.recording.saves.size(), saved ? 1 : 0);
    if (moved != QLatin1String("?")) {
        const Thought &after = fixture.byTitle(moved);
        QCOMPARE(after.updatedAt == fixture.now, updatedAtMoves);
        if (saved)
            QCOMPARE(after.status, status);
    }
}

void BoardStoreTest::advanceWalksTheColumns()
{
    const Board board{makeThought(QStringLiteral("n")),
                      makeThought(QStringLiteral("c"), ThoughtStatus::completed),
                      makeThought(QStringLiteral("c2"), ThoughtStatus::completed),
                      makeThought(QStringLiteral("a"), ThoughtStatus::archived),
                      makeThought(QStringLiteral("gone"), ThoughtStatus::notStarted, 0, true)};
    Fixture fixture(board);

    fixture.store->advance(board[3].id); // archived stays
    fixture.store->advance(board[4].id); // deleted stays
    QCOMPARE(fixture.recording.saves.size(), 0);

    fixture.store->advance(board[0].id);
    fixture.store->advance(board[0].id);
    QCOMPARE(fixture.byTitle(QStringLiteral("n")).status, ThoughtStatus::completed);
    QCOMPARE(titles(fixture.store->visibleThoughtsByStatus()[ThoughtStatus::completed]),
             (QStringList{QStringLiteral("c"), QStringLiteral("c2"), QStringLiteral("n")}));

    fixture.store->advance(board[1].id);
    QCOMPARE(titles(fixture.store->visibleThoughtsByStatus()[ThoughtStatus::archived]),
             (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    QCOMPARE(fixture.byTitle(QStringLiteral("c")).updatedAt, fixture.now);
    QCOMPARE(fixture.recording.saves.size(), 3);
}

void BoardStoreTest::operationsOnUnknownIdsSaveNothing()
{
    Fixture fixture(Board{makeThought(QStringLiteral("a"))});
    const Thought stranger = makeThought(QStringLiteral("stranger"));
    fixture.store->update(stranger, QStringLiteral("t"), QString(), ThoughtStatus::completed);
    fixture.store->deleteThought(stranger);
    fixture.store->advance(stranger.id);
    fixture.store->move(stranger.id, ThoughtStatus::archived, std::nullopt);
    QVERIFY(fixture.recording.saves.isEmpty());
}

QTEST_GUILESS_MAIN(BoardStoreTest)
#include "tst_boardstore.moc"
