// The store's operations as the user feels them: each one includes its save to a real file.
#include "support/BenchSupport.h"

#include "stores/BoardStore.h"

#include <QTemporaryDir>

namespace {

struct StoreFixture
{
    QTemporaryDir dir;
    std::unique_ptr<BoardStore> store;

    explicit StoreFixture(int count)
    {
        const QString path = dir.filePath(QStringLiteral("board.json"));
        BoardPersistence::file(path).save(generateBoard(count));
        store = std::make_unique<BoardStore>(BoardPersistence::file(path));
    }
};

void BM_AddQuickThought(benchmark::State &state)
{
    StoreFixture fixture(int(state.range(0)));
    for (auto _ : state)
        fixture.store->addQuickThought(QStringLiteral("把今天冒出来的产品灵感先放进这里"));
}
BENCHMARK(BM_AddQuickThought)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly();

void BM_Move(benchmark::State &state)
{
    StoreFixture fixture(int(state.range(0)));
    const Board &board = fixture.store->thoughts();
    qsizetype index = 0;
    for (auto _ : state) {
        // Alternate between the front and the middle of another column, as drags do.
        const Thought &thought = board[index++ % board.size()];
        const ThoughtStatus target = ThoughtStatuses::next(thought.status) == thought.status
                                         ? ThoughtStatus::notStarted
                                         : ThoughtStatuses::next(thought.status);
        fixture.store->move(thought.id, target, board[board.size() / 2].id);
    }
}
BENCHMARK(BM_Move)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly();

void BM_Update(benchmark::State &state)
{
    StoreFixture fixture(int(state.range(0)));
    const Thought target = fixture.store->thoughts()[fixture.store->thoughts().size() - 1];
    for (auto _ : state)
        fixture.store->update(target, QStringLiteral("改过的标题"), QStringLiteral("备注"),
                              ThoughtStatus::inProgress);
}
BENCHMARK(BM_Update)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly();

void BM_VisibleThoughtsByStatusWithQuery(benchmark::State &state)
{
    BoardStore store(BoardPersistence{[count = int(state.range(0))] {
                                          return LoadedBoard{generateBoard(count), {}};
                                      },
                                      [](const Board &) { return SavedBoard(); }});
    store.setSearchText(QStringLiteral(" 设计 "));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.visibleThoughtsByStatus());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_VisibleThoughtsByStatusWithQuery)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_MemoryPerThought(benchmark::State &state)
{
    const int count = int(state.range(0));
    for (auto _ : state) {
        const qint64 before = heapBytesInUse();
        auto store = std::make_unique<BoardStore>(
            BoardPersistence{[count] {
                                 return LoadedBoard{generateBoard(count), {}};
                             },
                             [](const Board &) { return SavedBoard(); }});
        const qint64 after = heapBytesInUse();
        state.counters["bytes_per_thought"] = double(after - before) / count;
        benchmark::DoNotOptimize(store);
    }
}
BENCHMARK(BM_MemoryPerThought)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarksWithRatios(argc, argv, {});
}
