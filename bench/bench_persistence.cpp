// Loading and saving the board file against the fastest floors the machine offers: simdjson
// parsing the same bytes, and a bare write + fsync + rename of the same bytes.
#include "support/BenchSupport.h"

#include "stores/BoardCodec.h"
#include "stores/BoardPersistence.h"

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#ifdef LUMARET_HAVE_SIMDJSON
#include <simdjson.h>
#endif

namespace {

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

void BM_Load(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    BoardPersistence persistence = BoardPersistence::file(boardPath(count));
    for (auto _ : state) {
        std::optional<Board> board = persistence.load();
        benchmark::DoNotOptimize(board);
        if (!board || board->size() != count)
            state.SkipWithError("board did not load");
    }
    state.SetItemsProcessed(state.iterations() * count);
}

#ifdef LUMARET_HAVE_SIMDJSON
void BM_LoadFloorSimdjson(benchmark::State &state)
{
    const int count = int(state.range(0));
    writeBoardFile(count);
    const std::string path = boardPath(count).toStdString();
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::padded_string json;
        if (simdjson::padded_string::load(path).get(json)) {
            state.SkipWithError("cannot read");
            break;
        }
        simdjson::dom::element document;
        if (parser.parse(json).get(document)) {
            state.SkipWithError("cannot parse");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_LoadFloorSimdjson)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_Load)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_Save)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
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
        ratios.push_back({std::string("BM_Load/") + count,
                          std::string("BM_LoadFloorSimdjson/") + count, 3.0,
                          std::string("load ") + count + " / simdjson read+parse"});
    }
    for (const char *count : {"1000", "10000", "100000"}) {
        ratios.push_back({std::string("BM_Save/") + count + "/real_time",
                          std::string("BM_SaveFloorWriteFsyncRename/") + count + "/real_time", 1.5,
                          std::string("save ") + count + " / write+fsync+rename"});
    }
    return runBenchmarksWithRatios(argc, argv, ratios);
}
