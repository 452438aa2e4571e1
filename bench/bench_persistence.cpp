// Loading and saving the board file against the fastest floors the machine offers: reading the
// same bytes and parsing them with simdjson, and a bare write + fsync + rename of the same bytes.
// Each load is the application's: the board file read afresh into new memory, every thought built.
// A launch reads into memory the process has never touched, so the floor a load is held to does
// too; the floors that reuse their buffers show what reading and parsing cost without the kernel
// handing out pages, and the "faults" counters how many pages each iteration had handed out.
#include "support/BenchSupport.h"

#include "stores/BoardCodec.h"
#include "stores/BoardPersistence.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <optional>

#ifdef LUMARET_HAVE_SIMDJSON
#include <simdjson.h>
#endif

namespace {

// Every figure is the median of five runs: the machine may be shared.
void boardSizes(benchmark::internal::Benchmark *benchmark)
{
    benchmark->Arg(1000)->Arg(10000)->Arg(100000)->Repetitions(5)->ReportAggregatesOnly(true);
}

// Minor page faults of this process so far: each is a page of memory handed out on first touch.
long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

/// Counts the page faults of the timed part of each iteration, to report them per iteration.
class FaultCount
{
public:
    void resume() { m_start = minorFaults(); }
    void pause() { m_total += minorFaults() - m_start; }
    void report(benchmark::State &state) const
    {
        state.counters["faults"] =
            benchmark::Counter(double(m_total), benchmark::Counter::kAvgIterations);
    }

private:
    long m_start = 0;
    long m_total = 0;
};

QTemporaryDir &workDir()
{
    static QTemporaryDir dir;
    return dir;
}

QString boardPath(int count)
{
    return workDir().filePath(QStringLiteral("board-%1.json").arg(count));
}

void writeBoardFile(int count)
{
    static QSet<int> written;
    if (written.contains(count))
        return;
    BoardPersistence::file(boardPath(count)).save(generateBoard(count));
    written.insert(count);
}

#ifdef LUMARET_HAVE_SIMDJSON
// The floors keep their buffers from one iteration to the next, so that they measure reading and
// parsing rather than the kernel handing out fresh pages (on a virtual machine a fresh 36 MB buffer
// costs more than parsing it). The file is in the page cache after the first iteration.
bool readInto(const std::string &path, char *buffer, size_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t length = 0;
    while (length < size) {
        const ssize_t read = ::read(fd, buffer + length, size - length);
        if (read <= 0)
            break;
        length += size_t(read);
    }
    ::close(fd);
    return length == size;
}

bool readInto(const std::string &path, simdjson::padded_string &buffer)
{
    return readInto(path, buffer.data(), buffer.size());
}

/// The first \a size bytes of the file at \a path, read into \a mapped bytes of memory mapped
/// afresh for them (with \a flags added to mmap's), as a launch's buffer is; null when either
/// fails. The caller unmaps it.
char *mapAndRead(const std::string &path, size_t size, size_t mapped, int flags = 0)
{
    void *buffer =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
    if (buffer == MAP_FAILED)
        return nullptr;
    if (!readInto(path, static_cast<char *>(buffer), size)) {
        ::munmap(buffer, mapped);
        return nullptr;
    }
    return static_cast<char *>(buffer);
}

// Reading the file into a buffer that is already there.
void BM_ReadFloor(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    const std::string path = boardPath(count).toStdString();
    simdjson::padded_string buffer(size_t(QFileInfo(boardPath(count)).size()));
    for (auto _ : state) {
        if (!readInto(path, buffer)) {
            state.SkipWithError("cannot read");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * qint64(buffer.size()));
}
BENCHMARK(BM_ReadFloor)->Apply(boardSizes)->Unit(benchmark::kMillisecond);

// simdjson's DOM parse of bytes already in memory, with a parser that has parsed them before.
void BM_ParseFloorSimdjson(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    simdjson::padded_string json;
    simdjson::dom::parser parser;
    simdjson::dom::element document;
    if (simdjson::padded_string::load(boardPath(count).toStdString()).get(json) ||
        parser.parse(json).get(document)) {
        state.SkipWithError("cannot parse");
        return;
    }
    for (auto _ : state) {
        if (parser.parse(json).get(document)) {
            state.SkipWithError("cannot parse");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(state.iterations() * qint64(json.size()));
}
BENCHMARK(BM_ParseFloorSimdjson)->Apply(boardSizes)->Unit(benchmark::kMillisecond);

// The floor of a load: both of the above in one.
void BM_LoadFloorSimdjson(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    const std::string path = boardPath(count).toStdString();
    simdjson::padded_string json(size_t(QFileInfo(boardPath(count)).size()));
    simdjson::dom::parser parser;
    simdjson::dom::element document;
    if (!readInto(path, json) || parser.parse(json).get(document)) {
        state.SkipWithError("cannot parse");
        return;
    }
    for (auto _ : state) {
        if (!readInto(path, json) || parser.parse(json).get(document)) {
            state.SkipWithError("cannot read or parse");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_LoadFloorSimdjson)->Apply(boardSizes)->Unit(benchmark::kMillisecond);

// The floor of a launch's load: the file read into memory mapped for it and parsed by a new
// parser, as a launch does. The buffer is mapped here rather than allocated, since the allocator
// may hand back pages an earlier benchmark touched, and a launch has none of those; what the
// parser allocates is given back to the kernel after each iteration, as the load's board is.
// Freeing them is left out of the time, as the load's freeing of its board is.
void BM_LaunchLoadFloorSimdjson(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    const std::string path = boardPath(count).toStdString();
    const size_t size = size_t(QFileInfo(boardPath(count)).size());
    const size_t mapped = size + simdjson::SIMDJSON_PADDING;
    FaultCount faults;
    for (auto _ : state) {
        faults.resume();
        char *buffer = mapAndRead(path, size, mapped);
        std::optional<simdjson::dom::parser> parser(std::in_place);
        simdjson::dom::element document;
        if (!buffer || parser->parse(buffer, size, false).get(document)) {
            state.SkipWithError("cannot read or parse");
            break;
        }
        benchmark::DoNotOptimize(document);
        faults.pause();
        state.PauseTiming();
        parser.reset();
        ::munmap(buffer, mapped);
        malloc_trim(0);
        state.ResumeTiming();
    }
    faults.report(state);
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_LaunchLoadFloorSimdjson)->Apply(boardSizes)->Unit(benchmark::kMillisecond);

// What handing out the pages costs: the launch floor's read into fresh pages faulted in one at a
// time, as the floor's are, or filled in by the kernel at mmap() (MAP_POPULATE, timed too).
void BM_LaunchRead(benchmark::State &state, int populate)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    const std::string path = boardPath(count).toStdString();
    const size_t size = size_t(QFileInfo(boardPath(count)).size());
    const size_t mapped = size + simdjson::SIMDJSON_PADDING;
    FaultCount faults;
    for (auto _ : state) {
        faults.resume();
        char *buffer = mapAndRead(path, size, mapped, populate);
        if (!buffer) {
            state.SkipWithError("cannot map or read");
            break;
        }
        benchmark::DoNotOptimize(buffer);
        faults.pause();
        state.PauseTiming();
        ::munmap(buffer, mapped);
        state.ResumeTiming();
    }
    faults.report(state);
}
BENCHMARK_CAPTURE(BM_LaunchRead, Populated, MAP_POPULATE)
    ->Apply(boardSizes)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LaunchRead, Fresh, 0)->Apply(boardSizes)->Unit(benchmark::kMillisecond);
#endif

void BM_Load(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    BoardPersistence persistence = BoardPersistence::file(boardPath(count));
    FaultCount faults;
    for (auto _ : state) {
        faults.resume();
        LoadedBoard loaded = persistence.load();
        faults.pause();
        if (!loaded.board || loaded.board->size() != count)
            state.SkipWithError("board did not load");
        // Freeing the board is no part of loading it (the floors free nothing either). The freed
        // memory goes back to the kernel, so that the next load, as a launch's, faults its pages
        // in rather than reusing this one's.
        state.PauseTiming();
        loaded = LoadedBoard();
        malloc_trim(0);
        state.ResumeTiming();
    }
    faults.report(state);
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Load)->Apply(boardSizes)->Unit(benchmark::kMillisecond);

#ifdef LUMARET_HAVE_SIMDJSON
// The decoder alone, over bytes already in memory: against simdjson's parse of the same bytes.
void BM_Decode(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    simdjson::padded_string json;
    if (simdjson::padded_string::load(boardPath(count).toStdString()).get(json)) {
        state.SkipWithError("cannot read");
        return;
    }
    const QByteArrayView bytes(json.data(), qsizetype(json.size()));
    for (auto _ : state) {
        std::optional<Board> board = BoardCodec::decodePadded(bytes);
        if (!board || board->size() != count)
            state.SkipWithError("board did not decode");
        state.PauseTiming();
        board.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Decode)->Apply(boardSizes)->Unit(benchmark::kMillisecond);
#endif

void BM_Save(benchmark::State &state)
{
    const int count = int(state.range(0));
    const Board board = generateBoard(count);
    BoardPersistence persistence =
        BoardPersistence::file(workDir().filePath(QStringLiteral("save-%1.json").arg(count)));
    for (auto _ : state)
        persistence.save(board);
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Save)->Apply(boardSizes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveFloorWriteFsyncRename(benchmark::State &state)
{
    const int count = int(state.range(0));
    const QByteArray bytes = BoardCodec::encode(generateBoard(count));
    const QByteArray path =
        workDir().filePath(QStringLiteral("floor-%1.json").arg(count)).toLocal8Bit();
    const QByteArray temporary = path + ".tmp";
    for (auto _ : state) {
        const int fd =
            ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() ||
            ::fsync(fd) != 0) {
            state.SkipWithError("write failed");
            break;
        }
        ::close(fd);
        ::rename(temporary.constData(), path.constData());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_SaveFloorWriteFsyncRename)
    ->Apply(boardSizes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Encode(benchmark::State &state)
{
    const Board board = generateBoard(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(BoardCodec::encode(board));
}
BENCHMARK(BM_Encode)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    std::vector<BenchRatio> ratios;
    for (const char *count : {"1000", "10000", "100000"}) {
        ratios.push_back({std::string("BM_Load/") + count + "/repeats:5",
                          std::string("BM_LaunchLoadFloorSimdjson/") + count + "/repeats:5", 3.0,
                          std::string("load ") + count + " / simdjson read+parse, fresh memory"});
    }
    // Not a goal: how far the load is from reading and parsing with no page to fault in.
    for (const char *count : {"1000", "10000", "100000"}) {
        ratios.push_back({std::string("BM_Load/") + count + "/repeats:5",
                          std::string("BM_LoadFloorSimdjson/") + count + "/repeats:5", 0,
                          std::string("load ") + count + " / simdjson read+parse, memory reused"});
    }
    for (const char *count : {"1000", "10000", "100000"}) {
        ratios.push_back({std::string("BM_Decode/") + count + "/repeats:5",
                          std::string("BM_ParseFloorSimdjson/") + count + "/repeats:5", 3.0,
                          std::string("decode ") + count + " / simdjson parse, both in memory"});
    }
    for (const char *count : {"1000", "10000", "100000"}) {
        ratios.push_back(
            {std::string("BM_Save/") + count + "/repeats:5/real_time",
             std::string("BM_SaveFloorWriteFsyncRename/") + count + "/repeats:5/real_time", 1.5,
             std::string("save ") + count + " / write+fsync+rename"});
    }
    return runBenchmarksWithRatios(argc, argv, ratios);
}
