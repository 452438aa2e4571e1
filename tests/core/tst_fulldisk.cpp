#include "BoardFixtures.h"
#include "stores/BoardPersistence.h"
#include "stores/BoardStore.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

// A save that cannot be written must leave the previous board file whole and loadable and the
// board in memory as it was.
class FullDiskTest : public QObject
{
    Q_OBJECT

private slots:
    void saveOnAFullFileSystemKeepsThePreviousBoard();
    void saveOverTheFileSizeLimitKeepsThePreviousBoard();

private:
    void checkFailedSaveKeepsBoard(const QString &path, const std::function<void()> &fillUp,
                                   const std::function<void()> &release);
};

void FullDiskTest::checkFailedSaveKeepsBoard(const QString &path,
                                             const std::function<void()> &fillUp,
                                             const std::function<void()> &release)
{
    const Board before{makeThought(QStringLiteral("保存过的想法")),
                       makeThought(QStringLiteral("second"), ThoughtStatus::completed)};
    BoardPersistence::file(path).save(before);
    QCOMPARE(BoardPersistence::file(path).load(), std::optional<Board>(before));

    BoardStore store(BoardPersistence::file(path));
    store.setClock([] { return fixtureNow(); }); // Whole seconds, as the file keeps them.
    fillUp();
    for (int i = 0; i < 200; ++i)
        store.addQuickThought(QStringLiteral("写不下的想法 %1 ").arg(i) +
                              QString(300, QChar(0x611f)));
    release();

    QCOMPARE(store.thoughts().size(), before.size() + 200);
    QCOMPARE(store.thoughts().last(), before.last());
    // The file holds the last board that still fitted: whole, loadable, and short of the rest.
    const std::optional<Board> onDisk = BoardPersistence::file(path).load();
    QVERIFY(onDisk);
    const qsizetype fitted = onDisk->size() - before.size();
    QVERIFY(fitted >= 0 && fitted < 200);
    QCOMPARE(*onDisk, store.thoughts().mid(200 - fitted));
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files),
             QStringList{QFileInfo(path).fileName()});
}

void FullDiskTest::saveOnAFullFileSystemKeepsThePreviousBoard()
{
    QTemporaryDir dir;
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=256k") != 0)
        QSKIP("cannot mount a small tmpfs here (needs root and a sandbox that allows mounts); "
              "the file size limit case below still runs");
    const QString path = mountPoint + QStringLiteral("/Lumaret/board.json");
    const QString filler = mountPoint + QStringLiteral("/filler");
    checkFailedSaveKeepsBoard(
        path,
        [&] {
            // Leave a few kilobytes: enough for nothing the store will try to write.
            QFile file(filler);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (file.write(block) == block.size() && file.flush()) {
            }
        },
        [&] { QFile::remove(filler); });
    ::umount(mountPoint.toLocal8Bit().constData());
}

void FullDiskTest::saveOverTheFileSizeLimitKeepsThePreviousBoard()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Lumaret/board.json"));
    rlimit original{};
    getrlimit(RLIMIT_FSIZE, &original);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    checkFailedSaveKeepsBoard(
        path,
        [&] {
            rlimit limited = original;
            limited.rlim_cur = 16 * 1024;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        },
        [&] { setrlimit(RLIMIT_FSIZE, &original); });
    std::signal(SIGXFSZ, previousHandler);
}

QTEST_GUILESS_MAIN(FullDiskTest)
#include "tst_fulldisk.moc"
