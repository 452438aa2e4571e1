#include "BoardFixtures.h"
#include "stores/BoardCodec.h"
#include "stores/BoardPersistence.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class BoardPersistenceTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void liveBoardLivesUnderTheDataFolder();
    void noFileMeansNoBoardAndNothingIsCreated();
    void saveCreatesMissingFoldersAndReloads();
    void emptyBoardIsNotTheSameAsNoBoard();
    void saveLeavesNoTemporaryFilesBehind();
    void unreadableFileIsKeptAsideBeforeTheFirstSave_data();
    void unreadableFileIsKeptAsideBeforeTheFirstSave();
    void readableFileIsReplacedWithoutACopy();
    void failedWriteKeepsThePreviousFile();

private:
    QString readAll(const QString &path);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void BoardPersistenceTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString BoardPersistenceTest::readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void BoardPersistenceTest::liveBoardLivesUnderTheDataFolder()
{
    qputenv("XDG_DATA_HOME", m_dir->filePath(QStringLiteral("data")).toUtf8());
    QCOMPARE(BoardPersistence::liveStoragePath(),
             m_dir->filePath(QStringLiteral("data/Lumaret/board.json")));
    BoardPersistence::live().save({makeThought(QStringLiteral("x"))});
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("data/Lumaret/board.json"))));
    QCOMPARE(BoardPersistence::live().load()->size(), 1);
    qunsetenv("XDG_DATA_HOME");
}

void BoardPersistenceTest::noFileMeansNoBoardAndNothingIsCreated()
{
    const QString path = m_dir->filePath(QStringLiteral("Lumaret/board.json"));
    QVERIFY(!BoardPersistence::file(path).load());
    QVERIFY(!QFile::exists(path));
    QVERIFY(!QDir(m_dir->filePath(QStringLiteral("Lumaret"))).exists());
}

void BoardPersistenceTest::saveCreatesMissingFoldersAndReloads()
{
    const QString path = m_dir->filePath(QStringLiteral("a/b/Lumaret/board.json"));
    const Board board{makeThought(QStringLiteral("研究 iCloud / CloudKit 同步结构")),
                      makeThought(QStringLiteral("gone"), ThoughtStatus::completed, 0, true)};
    BoardPersistence persistence = BoardPersistence::file(path);
    persistence.save(board);
    QCOMPARE(persistence.load(), std::optional<Board>(board));
    QVERIFY(readAll(path).contains(QStringLiteral("iCloud \\/ CloudKit")));
}

void BoardPersistenceTest::emptyBoardIsNotTheSameAsNoBoard()
{
    const QString path = m_dir->filePath(QStringLiteral("board.json"));
    BoardPersistence persistence = BoardPersistence::file(path);
    persistence.save({});
    QCOMPARE(readAll(path), QStringLiteral("[]"));
    const std::optional<Board> loaded = persistence.load();
    QVERIFY(loaded);
    QVERIFY(loaded->isEmpty());
}

void BoardPersistenceTest::saveLeavesNoTemporaryFilesBehind()
{
    const QString path = m_dir->filePath(QStringLiteral("board.json"));
    BoardPersistence persistence = BoardPersistence::file(path);
    for (int i = 0; i < 3; ++i)
        persistence.save({makeThought(QString::number(i))});
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("board.json")});
}

void BoardPersistenceTest::unreadableFileIsKeptAsideBeforeTheFirstSave_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("one bad byte") << QByteArray("[{\"id\":\x01}]");
    QTest::newRow("newer status") << QByteArray(
        R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","title":"t","note":"","status":"someday","createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:00Z"}])");
    QTest::newRow("truncated") << QByteArray("[{\"id\":\"0F8F");
}

void BoardPersistenceTest::unreadableFileIsKeptAsideBeforeTheFirstSave()
{
    QFETCH(QByteArray, contents);
    const QString path = m_dir->filePath(QStringLiteral("board.json"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    BoardPersistence persistence = BoardPersistence::file(path);
    QVERIFY(!persistence.load());
    QCOMPARE(readAll(path).toUtf8(), contents); // Loading alone never touches it.

    const Board board{makeThought(QStringLiteral("new"))};
    persistence.save(board);
    persistence.save(board); // The rescue happens once, not at every save.

    const QStringList rescued =
        QDir(m_dir->path()).entryList({QStringLiteral("board.json.unreadable-*")}, QDir::Files);
    QCOMPARE(rescued.size(), 1);
    QFile kept(m_dir->filePath(rescued.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), contents);
    QCOMPARE(persistence.load(), std::optional<Board>(board));
}

void BoardPersistenceTest::readableFileIsReplacedWithoutACopy()
{
    const QString path = m_dir->filePath(QStringLiteral("board.json"));
    BoardPersistence::file(path).save({makeThought(QStringLiteral("old"))});
    BoardPersistence persistence = BoardPersistence::file(path);
    QVERIFY(persistence.load());
    persistence.save({});
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("board.json")});
}

void BoardPersistenceTest::failedWriteKeepsThePreviousFile()
{
    if (geteuid() == 0)
        QSKIP("root writes into read-only folders; the full-disk drill covers this as root");
    const QString folder = m_dir->filePath(QStringLiteral("locked"));
    const QString path = folder + QStringLiteral("/board.json");
    BoardPersistence persistence = BoardPersistence::file(path);
    const Board before{makeThought(QStringLiteral("before"))};
    persistence.save(before);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    persistence.save({makeThought(QStringLiteral("after"))});
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(persistence.load(), std::optional<Board>(before));
}

QTEST_GUILESS_MAIN(BoardPersistenceTest)
#include "tst_boardpersistence.moc"
