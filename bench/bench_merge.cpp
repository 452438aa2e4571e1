#include "services/ThoughtSyncMerge.h"

#include <QSet>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr int boardSize = 100000;

struct Boards
{
    Board local;
    Board remote;
};

/// 100,000 thoughts on each side, half of them on both; of the shared ones every other cloud
/// copy is the newer one.
const Boards &boards()
{
    static const Boards made = [] {
        Boards result;
        const QDateTime base(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
        result.local.reserve(boardSize);
        result.remote.reserve(boardSize);
        for (int i = 0; i < boardSize; ++i) {
            const QDateTime updated = base.addSecs(i);
            result.local.append(Thought{QUuid::createUuid(), QStringLiteral("local %1").arg(i),
                                        QString(), ThoughtStatus::notStarted, base, updated,
                                        false});
        }
        for (int i = 0; i < boardSize; ++i) {
            if (i < boardSize / 2) {
                Thought shared = result.local.at(i * 2);
                shared.title = QStringLiteral("remote %1").arg(i);
                shared.updatedAt = shared.updatedAt.addSecs(i % 2 == 0 ? 30 : -30);
                result.remote.append(shared);
            } else {
                result.remote.append(Thought{QUuid::createUuid(), QStringLiteral("cloud %1").arg(i),
                                             QString(), ThoughtStatus::completed, base,
                                             base.addSecs(i), false});
            }
        }
        return result;
    }();
    return made;
}

/// The floor: the same ids, only put into a hash set sized for the local board.
void insertIds(const Boards &input)
{
    QSet<QUuid> ids;
    ids.reserve(input.local.size());
    for (const Thought &thought : input.local)
        ids.insert(thought.id);
    for (const Thought &thought : input.remote)
        ids.insert(thought.id);
    benchmark::DoNotOptimize(ids);
}

void insertIdsIntoHashSet(benchmark::State &state)
{
    const Boards &input = boards();
    for (auto _ : state)
        insertIds(input);
    state.SetItemsProcessed(state.iterations() * (input.local.size() + input.remote.size()));
}

/// Times \a merge and reports "xFloor", its time over the floor's, both timed in the same
/// iterations so that a busy machine slows both alike.
template <typename Merge> void mergeAgainstTheFloor(benchmark::State &state, Merge merge)
{
    using Clock = std::chrono::steady_clock;
    const Boards &input = boards();
    Clock::duration mergeTime{};
    Clock::duration floorTime{};
    for (auto _ : state) {
        const auto mergeStart = Clock::now();
        Board merged = merge(input);
        benchmark::DoNotOptimize(merged);
        mergeTime += Clock::now() - mergeStart;

        state.PauseTiming();
        merged = Board();
        const auto floorStart = Clock::now();
        insertIds(input);
        floorTime += Clock::now() - floorStart;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * (input.local.size() + input.remote.size()));
    state.counters["xFloor"] =
        double(mergeTime.count()) / double(std::max<Clock::rep>(floorTime.count(), 1));
}

void mergeBoards(benchmark::State &state)
{
    mergeAgainstTheFloor(state, [](const Boards &input) {
        return ThoughtSyncMerge::merge(input.local, input.remote);
    });
}

/// The three-way merge of every sync: the agreed board is the local one, so the cloud's changes
/// are one-sided.
void mergeBoardsThreeWay(benchmark::State &state)
{
    mergeAgainstTheFloor(state, [](const Boards &input) {
        return ThoughtSyncMerge::merge(std::optional<Board>(input.local), input.local,
                                       input.remote);
    });
}

} // namespace

BENCHMARK(insertIdsIntoHashSet)->Unit(benchmark::kMillisecond);
BENCHMARK(mergeBoards)->Unit(benchmark::kMillisecond);
BENCHMARK(mergeBoardsThreeWay)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
