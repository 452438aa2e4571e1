// The board at 10,000 thoughts against floors measured in the same run, in the full window the
// application opens (header, composer, board) at 1120x720, with its real services but no cloud
// store. Start-up and peak memory are measured on fresh processes of this executable, since both
// are about what a launch costs; the keystroke is measured in one long-lived window.
//
// The first frame's floor is a bare window that paints, in one paint event, exactly the text runs
// and symbols the full window's first frame draws (recorded from that frame by another child
// process), on a plain background: what any program showing that text must pay for.

#include "support/BenchSupport.h"
#include "support/FrameRecording.h"

#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "LumaretApp.h"
#include "MainWindow.h"
#include "SearchField.h"
#include "services/RemoteBoard.h"
#include "stores/BoardPersistence.h"
#include "stores/BoardStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int boardSize = 10000;
const QSize windowSize(1120, 720);
const QString childFlag = QStringLiteral("--first-frame");
// Instead of a board file: a bare window showing one line of Chinese text.
const QString labelFlag = QStringLiteral("--label");
// Instead of a board file, followed by a recorded frame: a bare window painting that frame's text
// runs and symbols.
const QString frameFlag = QStringLiteral("--frame");
// Followed by a board file and a file to write: records the first frame of the full window over
// that board.
const QString recordFlag = QStringLiteral("--record-frame");
// Before the board file: print the time and resident memory at each step of the launch to
// standard error, to see where a launch spends them. Not used by the benchmarks.
const QString marksFlag = QStringLiteral("--marks");

/// Resident memory now, in MiB: all of it, and the part that is pages of files (libraries, fonts,
/// caches) rather than memory of the process's own.
struct Resident
{
    double total = 0;
    double files = 0;
};

Resident residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 3)
        return {};
    constexpr double pageMiB = 4096.0 / (1024 * 1024);
    return {fields[1].toDouble() * pageMiB, fields[2].toDouble() * pageMiB};
}

/// The files with the most pages in memory, largest first: libraries, fonts, caches.
void printResidentFiles(int count)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return;
    QHash<QByteArray, qint64> kibByFile;
    QByteArray file;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // A mapping's first line: address range, permissions, offset, device, inode, and the
        // file's name unless the mapping is anonymous.
        if (fields.size() >= 5 && fields[0].contains('-') && !fields[0].endsWith(':'))
            file = fields.size() > 5 ? fields[5] : QByteArray();
        else if (fields.size() >= 2 && fields[0] == "Rss:" && file.startsWith('/'))
            kibByFile[file] += fields[1].toLongLong();
    }
    QList<QPair<qint64, QByteArray>> sorted;
    for (auto it = kibByFile.cbegin(); it != kibByFile.cend(); ++it)
        sorted.append({it.value(), it.key()});
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a > b; });
    for (const auto &[kib, name] : sorted.mid(0, count))
        std::fprintf(stderr, "         %7.1f MiB  %s\n", double(kib) / 1024, name.constData());
}

/// Prints one step of the launch when marks were asked for.
class LaunchMarks
{
public:
    explicit LaunchMarks(bool enabled) : m_enabled(enabled) { m_timer.start(); }

    void mark(const char *step)
    {
        if (!m_enabled)
            return;
        const Resident resident = residentMiB();
        std::fprintf(stderr, "%8.1f ms %7.1f MiB (files %5.1f, heap %5.1f)  %s\n",
                     double(m_timer.nsecsElapsed()) / 1e6, resident.total, resident.files,
                     double(heapBytesInUse()) / (1024 * 1024), step);
    }

private:
    bool m_enabled;
    QElapsedTimer m_timer;
};

/// A window that paints a recorded frame's text runs and symbols, and nothing else.
class FrameFloor : public QWidget
{
public:
    explicit FrameFloor(QList<FrameItem> items) : m_items(std::move(items)) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        paintFrame(painter, m_items);
    }

private:
    QList<FrameItem> m_items;
};

/// Counts paint events of one widget, so a measurement can wait for a frame to be drawn.
class PaintProbe : public QObject
{
public:
    explicit PaintProbe(QWidget *widget) { widget->installEventFilter(this); }

    void waitForNextPaint()
    {
        const int before = m_paints;
        while (m_paints == before)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }

private:
    int m_paints = 0;
};

struct BoardWindow
{
    std::unique_ptr<LumaretApp> lumaret;
    std::unique_ptr<MainWindow> window;
    QLineEdit *search = nullptr;
    KanbanBoardView *board = nullptr;

    /// The widget painted last in a frame: the right-most column's card list.
    QWidget *lastPainted() const
    {
        return board->column(ThoughtStatus::archived)->cardList()->viewport();
    }
};

BoardWindow makeBoardWindow(BoardPersistence persistence, LaunchMarks *marks = nullptr,
                            FontConfigurationLoad *fontConfiguration = nullptr)
{
    AppDependencies dependencies = AppDependencies::live();
    dependencies.persistence = std::move(persistence);
    dependencies.makeCloudStore = [] { return std::unique_ptr<RemoteBoard>(); };
    // As the application launches: the board read on another thread while the fonts are found.
    dependencies = beginLaunch(std::move(dependencies), fontConfiguration);
    if (marks)
        marks->mark("fonts found");
    BoardWindow result;
    result.lumaret = std::make_unique<LumaretApp>(std::move(dependencies));
    if (marks)
        marks->mark("services (board loaded)");
    result.window = std::make_unique<MainWindow>(result.lumaret->services());
    result.search = result.window->findChild<SearchField *>()->lineEdit();
    result.board = result.window->findChild<KanbanBoardView *>();
    result.window->resize(windowSize);
    if (marks)
        marks->mark("window built");
    return result;
}

void sendKey(QWidget *target, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

// CPU time of the GUI thread: what a keystroke costs when other processes share the cores.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// CPU time of the whole process so far, every thread: what a launch costs whatever else runs.
double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A launch of this executable as the application would launch: prints "painted" at the first
// frame, then, for the board, types one digit and deletes it, and prints its peak memory.
int runChild(int argc, char **argv)
{
    // Read before the application object exists: the application's own launch starts loading the
    // font configuration before it connects to the display; the floors are plain Qt windows and
    // do not.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const bool withMarks = arguments.removeAll(marksFlag) > 0;
    const QString boardFile = arguments.value(arguments.indexOf(childFlag) + 1);
    const bool isFloor = boardFile.isEmpty() || boardFile == labelFlag || boardFile == frameFlag;
    std::optional<FontConfigurationLoad> fontConfiguration;
    if (!isFloor)
        fontConfiguration.emplace();
    QApplication app(argc, argv);
    LaunchMarks marks(withMarks);
    marks.mark("QApplication");
    if (isFloor) {
        std::unique_ptr<QWidget> frame;
        if (boardFile == frameFlag)
            frame = std::make_unique<FrameFloor>(
                loadFrame(arguments.value(arguments.indexOf(frameFlag) + 1)));
        else
            frame = std::make_unique<QWidget>();
        QWidget &window = *frame;
        window.resize(windowSize);
        if (boardFile == labelFlag) {
            auto *layout = new QVBoxLayout(&window);
            layout->addWidget(new QLabel(QStringLiteral("未开始 进行中 已完成 归档"), &window));
        }
        PaintProbe probe(&window);
        window.show();
        probe.waitForNextPaint();
        marks.mark("first frame");
        if (withMarks)
            printResidentFiles(12);
        std::printf("cpu %.3f\npeak %lld\npainted\n", processCpuMs(), peakResidentBytes());
        return 0;
    }
    if (withMarks) {
        BoardPersistence::file(boardFile).load().board;
        marks.mark("board file read and decoded once more, to time that alone");
    }
    BoardWindow window =
        makeBoardWindow(BoardPersistence::file(boardFile), &marks, &*fontConfiguration);
    PaintProbe probe(window.lastPainted());
    window.window->show();
    marks.mark("window shown");
    probe.waitForNextPaint();
    marks.mark("first frame");
    if (withMarks)
        printResidentFiles(12);
    std::printf("cpu %.3f\npeak %lld\npainted\n", processCpuMs(), peakResidentBytes());
    std::fflush(stdout);
    // The first search is where the launch's memory peaks next: the columns are filled anew
    // while the old ones are still held.
    sendKey(window.search, Qt::Key_A, QStringLiteral("想"));
    probe.waitForNextPaint();
    sendKey(window.search, Qt::Key_Backspace, QString());
    probe.waitForNextPaint();
    marks.mark("one character typed and deleted");
    std::printf("typed %lld\n", peakResidentBytes());
    return 0;
}

// Opens the full window over a board, waits for its first frame and writes that frame's text runs
// and symbols to a file.
int recordChild(const QString &boardFile, const QString &output)
{
    BoardWindow window = makeBoardWindow(BoardPersistence::file(boardFile));
    PaintProbe probe(window.lastPainted());
    window.window->show();
    probe.waitForNextPaint();
    const QList<FrameItem> items = recordFrame(window.window.get());
    if (items.isEmpty() || !saveFrame(items, output))
        return 1;
    qsizetype symbols = std::count_if(items.cbegin(), items.cend(),
                                      [](const FrameItem &item) { return !item.symbol.isNull(); });
    std::fprintf(stderr, "recorded %lld text runs and %lld symbols\n",
                 qint64(items.size() - symbols), qint64(symbols));
    return 0;
}

QString boardFilePath(int count)
{
    static QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("board-%1.json").arg(count));
    if (!QFile::exists(file))
        BoardPersistence::file(file).save(generateBoard(count));
    return file;
}

struct Launch
{
    double firstFrameMs = 0;
    double cpuMs = 0;
    qint64 peakBytes = 0;
    /// After one character typed into the search and deleted; 0 for the floors, which type none.
    qint64 typedPeakBytes = 0;
};

// The first frame of the full window over a board of \a count thoughts, recorded once.
QString frameFilePath(int count)
{
    const QString file = boardFilePath(count) + QStringLiteral(".frame");
    if (!QFile::exists(file))
        QProcess::execute(QCoreApplication::applicationFilePath(),
                          {recordFlag, boardFilePath(count), file});
    return file;
}

Launch launch(const QStringList &childArguments)
{
    QStringList arguments{childFlag};
    arguments.append(childArguments);
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(QCoreApplication::applicationFilePath(), arguments);
    Launch result;
    QByteArray output;
    while (!output.contains("painted\n") && process.waitForReadyRead(30000))
        output += process.readAllStandardOutput();
    result.firstFrameMs = double(timer.nsecsElapsed()) / 1e6;
    process.waitForFinished(30000);
    output += process.readAllStandardOutput();
    // One figure a line: its name, a space, its value.
    QHash<QByteArray, QByteArray> figures;
    for (const QByteArray &line : output.split('\n')) {
        if (const qsizetype space = line.indexOf(' '); space > 0)
            figures.insert(line.left(space), line.mid(space + 1));
    }
    result.cpuMs = figures.value("cpu").toDouble();
    result.peakBytes = figures.value("peak").toLongLong();
    result.typedPeakBytes = figures.value("typed").toLongLong();
    return result;
}

// The launches in turns: each round starts a bare window, a window with one Chinese label, the
// floors of the two first frames and the full window over 12 thoughts and over 10,000, so that all
// of them meet the same moments of a shared machine. The medians of ten rounds are the figures:
// wall time to the first frame ("_ms"), the child's CPU time, which does not wait for whatever
// else the cores run ("_cpu_ms"), the child's peak resident memory at its first frame ("_MiB")
// and, for the full window, after one search keystroke ("_typed_MiB").
void BM_Launches(benchmark::State &state)
{
    const std::vector<std::pair<std::string, QStringList>> kinds{
        {"bare", {}},
        {"label", {labelFlag}},
        {"frame12", {frameFlag, frameFilePath(12)}},
        {"board12", {boardFilePath(12)}},
        {"frame10000", {frameFlag, frameFilePath(boardSize)}},
        {"board10000", {boardFilePath(boardSize)}}};
    // Without its recording a floor would paint nothing and every ratio to it would look met.
    if (!QFile::exists(frameFilePath(12)) || !QFile::exists(frameFilePath(boardSize))) {
        state.SkipWithError("the first frame could not be recorded");
        return;
    }
    std::map<std::string, std::vector<double>> figures;
    for (auto _ : state) {
        double roundMs = 0;
        for (const auto &[kind, argument] : kinds) {
            const Launch result = launch(argument);
            figures[kind + "_ms"].push_back(result.firstFrameMs);
            figures[kind + "_cpu_ms"].push_back(result.cpuMs);
            figures[kind + "_MiB"].push_back(double(result.peakBytes) / (1024 * 1024));
            if (result.typedPeakBytes > 0)
                figures[kind + "_typed_MiB"].push_back(double(result.typedPeakBytes) /
                                                       (1024 * 1024));
            roundMs += result.firstFrameMs;
        }
        state.SetIterationTime(roundMs / 1000);
    }
    for (const auto &[name, values] : figures)
        state.counters[name] = median(values);
}
BENCHMARK(BM_Launches)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

void keystrokes(benchmark::State &state, QWidget *field, PaintProbe &probe)
{
    std::vector<double> times;
    std::vector<double> cpuTimes;
    bool typed = false;
    for (auto _ : state) {
        // Typing a common character keeps about three quarters of the cards; deleting it brings
        // all of them back. Both redraw full columns.
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMs();
        if (typed)
            sendKey(field, Qt::Key_Backspace, QString());
        else
            sendKey(field, Qt::Key_A, QStringLiteral("想"));
        typed = !typed;
        probe.waitForNextPaint();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpuTimes.push_back(threadCpuMs() - cpuStart);
        state.SetIterationTime(times.back() / 1000);
    }
    state.counters["median_ms"] = median(times);
    state.counters["cpu_median_ms"] = median(cpuTimes);
    state.counters["max_ms"] = *std::max_element(times.begin(), times.end());
}

void BM_KeystrokeBareField(benchmark::State &state)
{
    QWidget window;
    auto *field = new QLineEdit(&window);
    window.resize(windowSize);
    PaintProbe probe(field);
    window.show();
    probe.waitForNextPaint();
    keystrokes(state, field, probe);
}
BENCHMARK(BM_KeystrokeBareField)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_KeystrokeBoard10000(benchmark::State &state)
{
    BoardWindow window =
        makeBoardWindow(BoardPersistence{[] {
                                             return LoadedBoard{generateBoard(boardSize), {}};
                                         },
                                         nullptr});
    PaintProbe probe(window.lastPainted());
    window.window->show();
    probe.waitForNextPaint();
    keystrokes(state, window.search, probe);
}
BENCHMARK(BM_KeystrokeBoard10000)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i) {
        if (QString::fromLocal8Bit(argv[i]) == childFlag)
            return runChild(argc, argv);
        if (QString::fromLocal8Bit(argv[i]) == recordFlag && i + 2 < argc) {
            QApplication app(argc, argv);
            return recordChild(QString::fromLocal8Bit(argv[i + 1]),
                               QString::fromLocal8Bit(argv[i + 2]));
        }
    }
    QApplication app(argc, argv);
    const std::string launches = "BM_Launches/iterations:10/manual_time.";
    // The launches take turns themselves; shuffled with the keystrokes they would be started by a
    // parent process holding a whole board window.
    return runBenchmarksWithRatios(
        argc, argv,
        {{launches + "board10000_ms", launches + "frame10000_ms", 1.25,
          "launch to first frame, 10,000 thoughts / its text drawn bare"},
         {launches + "board12_ms", launches + "frame12_ms", 1.25,
          "launch to first frame, 12 thoughts / its text drawn bare"},
         {launches + "board10000_MiB", launches + "frame10000_MiB", 6,
          "peak MiB of the 10,000 launch - its text drawn bare", true},
         {launches + "board12_MiB", launches + "frame12_MiB", 6,
          "peak MiB of the 12 launch - its text drawn bare", true},
         {launches + "board10000_typed_MiB", launches + "frame10000_MiB", 0,
          "the same after one search keystroke - its text drawn bare", true},
         {launches + "board10000_cpu_ms", launches + "frame10000_cpu_ms", 0,
          "CPU time of that launch / its text drawn bare"},
         {launches + "board12_cpu_ms", launches + "frame12_cpu_ms", 0,
          "CPU time of the 12 launch / its text drawn bare"},
         {launches + "board10000_ms", launches + "bare_ms", 1.5,
          "launch to first frame, 10,000 thoughts / bare window"},
         {launches + "board10000_ms", launches + "board12_ms", 1.5,
          "launch to first frame, 10,000 thoughts / 12 thoughts"},
         {launches + "board10000_ms", launches + "label_ms", 1.5,
          "launch to first frame, 10,000 thoughts / window with a Chinese label"},
         {launches + "board10000_MiB", launches + "label_MiB", 15,
          "peak MiB of that launch - window with a Chinese label", true}},
        Order::asRegistered);
}
