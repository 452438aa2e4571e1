#include "stores/BoardCodec.h"
#include "stores/BoardPersistence.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>

// Kills a process that is saving ever larger boards at random moments and checks that the board
// file always holds one whole board that was being saved, never a torn or empty one.
class CrashDrillTest : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesAWholeBoard();
};

namespace {

constexpr int drillRuns = 200;

// Board number \a index of a run: 40 × index thoughts, the same every time it is built.
Board drillBoard(int run, int index)
{
    static const QUuid space =
        QUuid::fromString(QStringLiteral("{6f1c8a52-3b0e-4c57-9d7e-2a41b3c9e805}"));
    const QDateTime base(QDate(2026, 5, 1), QTime(12, 0), Qt::UTC);
    Board board;
    for (int i = 0; i < 40 * index; ++i) {
        const QString key = QStringLiteral("%1-%2-%3").arg(run).arg(index).arg(i);
        board.append(Thought{QUuid::createUuidV5(space, key),
                             QStringLiteral("第 %1 块板的想法 %2 / 灵感").arg(index).arg(i),
                             QStringLiteral("备注 \"%1\"").arg(key),
                             ThoughtStatuses::allCases[size_t(i % 4)], base.addSecs(i),
                             base.addSecs(index), i % 17 == 0});
    }
    return board;
}

int runWriter(const QString &path, int run)
{
    BoardPersistence persistence = BoardPersistence::file(path);
    for (int index = 1;; ++index) {
        persistence.save(drillBoard(run, index));
        std::printf("%d\n", index); // Only now is board \a index known to be saved whole.
        std::fflush(stdout);
    }
}

} // namespace

void CrashDrillTest::killedWriterLeavesAWholeBoard()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("board.json"));
    QRandomGenerator random(4242);
    int killedMidWrite = 0;

    for (int run = 0; run < drillRuns; ++run) {
        QFile::remove(path);
        QProcess writer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LUMARET_DRILL_WRITER"), path);
        environment.insert(QStringLiteral("LUMARET_DRILL_RUN"), QString::number(run));
        writer.setProcessEnvironment(environment);
        writer.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(writer.waitForStarted());
        QThread::usleep(random.bounded(2000, 60000));
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished());

        int lastReported = 0;
        for (const QByteArray &line : writer.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                lastReported = line.toInt();

        const std::optional<Board> loaded = BoardPersistence::file(path).load();
        if (!loaded) {
            // Only acceptable before the very first save finished.
            QVERIFY2(lastReported == 0 && !QFile::exists(path),
                     qPrintable(QStringLiteral("run %1: unreadable file after board %2")
                                    .arg(run)
                                    .arg(lastReported)));
            continue;
        }
        // The board last reported, or the next one if it was renamed into place just before
        // its number could be printed.
        const bool isLastReported = lastReported > 0 && *loaded == drillBoard(run, lastReported);
        const bool isNext = *loaded == drillBoard(run, lastReported + 1);
        QVERIFY2(isLastReported || isNext,
                 qPrintable(
                     QStringLiteral("run %1: file holds %2 thoughts, last whole save was board %3")
                         .arg(run)
                         .arg(loaded->size())
                         .arg(lastReported)));
        if (isNext)
            ++killedMidWrite;
    }
    qInfo("%d runs, %d killed between a rename and its report", drillRuns, killedMidWrite);
}

int main(int argc, char *argv[])
{
    const QString writerPath = qEnvironmentVariable("LUMARET_DRILL_WRITER");
    if (!writerPath.isEmpty())
        return runWriter(writerPath, qEnvironmentVariableIntValue("LUMARET_DRILL_RUN"));
    QCoreApplication app(argc, argv);
    CrashDrillTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashdrill.moc"
