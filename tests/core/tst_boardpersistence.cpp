#include "BoardFixtures.h"
#include "stores/BoardCodec.h"
#include "stores/BoardStore.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

// The board file on disk: where it lives, that an unreadable one is never overwritten, and that
// a full disk never leaves anything but a whole board behind.
class BoardPersistenceTest : public QObject
{
    Q_OBJECT

private slots:
    void unreadableFileIsKeptAsideBeforeTheFirstSave_data();
    void unreadableFileIsKeptAsideBeforeTheFirstSave();
    void failedSavesKeepTheLastBoardThatFitted_data();
    void failedSavesKeepTheLastBoardThatFitted();
};

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void BoardPersistenceTest::unreadableFileIsKeptAsideBeforeTheFirstSave_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("readable");
    const QByteArray good = BoardCodec::encode({makeThought("t")});
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("newer status") << QByteArray(good).replace("notStarted", "someday") << false;
    QTest::newRow("truncated") << good.chopped(3) << false;
    QTest::newRow("readable") << good << true;
}

void BoardPersistenceTest::unreadableFileIsKeptAsideBeforeTheFirstSave()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, readable);
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    const QString path = dir.filePath("data/Lumaret/board.json");
    QCOMPARE(BoardPersistence::liveStoragePath(), path);
    if (!contents.isEmpty()) {
        QVERIFY(QDir().mkpath(dir.filePath("data/Lumaret")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    }
    BoardPersistence persistence = BoardPersistence::live();
    QCOMPARE(persistence.load().has_value(), readable);
    QCOMPARE(contentsOf(path), contents); // Loading alone never touches it, nor creates one.
    const Board board{makeThought("new"), makeThought("gone", ThoughtStatus::archived, 0, true)};
    persistence.save(board);
    persistence.save(board); // The rescue happens once, not at every save.
    QStringList files = QDir(dir.filePath("data/Lumaret")).entryList(QDir::Files);
    QCOMPARE(files.size(), readable || contents.isEmpty() ? 1 : 2);
    QCOMPARE(contentsOf(dir.filePath("data/Lumaret/" + files.last())),
             files.size() == 2 ? contents : BoardCodec::encode(board));
    QVERIFY(files.last().startsWith(files.size() == 2 ? "board.json.unreadable-" : "board.json"));
    QCOMPARE(BoardPersistence::live().load(), std::optional<Board>(board));
    qunsetenv("XDG_DATA_HOME");
}

void BoardPersistenceTest::failedSavesKeepTheLastBoardThatFitted_data()
{
    QTest::addColumn<bool>("fullFileSystem");
    QTest::newRow("full file system") << true;
    QTest::newRow("file size limit") << false;
}

void BoardPersistenceTest::failedSavesKeepTheLastBoardThatFitted()
{
    QFETCH(bool, fullFileSystem);
    QTemporaryDir dir;
    const QByteArray mountPoint = dir.path().toLocal8Bit();
    if (fullFileSystem && ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=256k") != 0)
        QSKIP("cannot mount a small tmpfs here (needs root and a sandbox that allows mounts)");
    const QString path = dir.filePath("Lumaret/board.json");
    const Board before{makeThought("保存过的想法"),
                       makeThought("second", ThoughtStatus::completed)};
    BoardPersistence::file(path).save(before);
    BoardStore store(BoardPersistence::file(path));
    store.setClock([] { return fixtureNow(); }); // Whole seconds, as the file keeps them.
    rlimit original{};
    getrlimit(RLIMIT_FSIZE, &original);
    rlimit limited = original;
    limited.rlim_cur = 16 * 1024;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QFile filler(dir.filePath("filler"));
    // Fill the file system but for a few kilobytes, or limit the size of any file written.
    if (fullFileSystem && filler.open(QIODevice::WriteOnly))
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
    QCOMPARE(setrlimit(RLIMIT_FSIZE, fullFileSystem ? &original : &limited), 0);
    for (int i = 0; i < 200; ++i)
        store.addQuickThought(QStringLiteral("写不下的想法 %1 ").arg(i) +
                              QString(300, QChar(0x611f)));
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previousHandler);
    filler.remove();
    QCOMPARE(store.thoughts().size(), before.size() + 200);
    // The file holds the last board that still fitted: whole, loadable, and short of the rest.
    const std::optional<Board> onDisk = BoardPersistence::file(path).load();
    QVERIFY(onDisk);
    const qsizetype fitted = onDisk->size() - before.size();
    QVERIFY(fitted >= 0 && fitted < 200);
    QCOMPARE(*onDisk, store.thoughts().mid(200 - fitted));
    QCOMPARE(QDir(dir.filePath("Lumaret")).entryList(QDir::Files), QStringList{"board.json"});
    if (fullFileSystem)
        ::umount(mountPoint.constData());
}

QTEST_GUILESS_MAIN(BoardPersistenceTest)
#include "tst_boardpersistence.moc"
