#include "BenchSupport.h"

#include <QFile>
#include <QRandomGenerator>

#include <malloc.h>

#include <cstdio>
#include <set>

namespace {

const QString syllables = QStringLiteral(
    "灵感产品同步结构看板状态整理下一阶段共享想法记录计划设计研究用户界面细节优化测试发布"
    "文档会议讨论方案实现功能体验改进数据备份安全性能稳定");

QString chineseText(QRandomGenerator &random, int length)
{
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i) {
        if (i > 0 && i % 9 == 0)
            text.append(QLatin1Char(' '));
        else
            text.append(syllables.at(random.bounded(int(syllables.size()))));
    }
    return text;
}

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        // The median of repeated runs stands for the benchmark when there is one. Counters are
        // kept too, as "name.counter", for benchmarks that measure several things at once.
        for (const Run &run : runs) {
            const std::string name = run.run_name.str();
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!median && (run.run_type != Run::RT_Iteration || run.iterations == 0 ||
                            m_hasMedian.count(name)))
                continue;
            if (median)
                m_hasMedian.insert(name);
            m_seconds[name] = run.GetAdjustedRealTime();
            for (const auto &[counter, value] : run.counters)
                m_seconds[name + "." + counter] = value;
        }
    }
    std::map<std::string, double> m_seconds;
    std::set<std::string> m_hasMedian;
};

} // namespace

Board generateBoard(int count)
{
    QRandomGenerator random(20260301u + quint32(count));
    const QDateTime base = QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC);
    Board board;
    board.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QDateTime created = base.addSecs(qint64(i) * 37);
        board.append(Thought{QUuid::createUuid(), chineseText(random, 18 + random.bounded(5)),
                             chineseText(random, 55 + random.bounded(10)),
                             ThoughtStatuses::allCases[size_t(random.bounded(4))], created,
                             created.addSecs(random.bounded(86400)), i % 20 == 19});
    }
    return board;
}

qint64 peakResidentBytes()
{
    // The high-water mark of this process's own memory: getrusage()'s would also count the
    // parent's resident memory at the fork that started this process.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

qint64 heapBytesInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

int runBenchmarksWithRatios(int argc, char **argv, const std::vector<BenchRatio> &ratios,
                            Order order)
{
    // Shuffled, the repetitions of a floor and of what is measured against it meet the same
    // moments of a shared machine, rather than one its quiet minute and the other its busy one.
    std::vector<char *> arguments(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    if (order == Order::shuffledRepetitions)
        arguments.insert(arguments.begin() + 1, interleave);
    argc = int(arguments.size());
    argv = arguments.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-70s %10s %8s\n", "ratio to the floor of the same run", "measured", "goal");
    for (const BenchRatio &ratio : ratios) {
        const auto measured = reporter.m_seconds.find(ratio.measured);
        const auto floor = reporter.m_seconds.find(ratio.floor);
        if (measured == reporter.m_seconds.end() || floor == reporter.m_seconds.end() ||
            floor->second <= 0)
            continue;
        const double value =
            ratio.difference ? measured->second - floor->second : measured->second / floor->second;
        if (ratio.goal <= 0 && ratio.difference)
            std::printf("%-70s %+9.1f  %8s\n", ratio.what.c_str(), value, "-");
        else if (ratio.goal <= 0)
            std::printf("%-70s %9.2fx %8s\n", ratio.what.c_str(), value, "-");
        else if (ratio.difference)
            std::printf("%-70s %+9.1f  %+7.1f  %s\n", ratio.what.c_str(), value, ratio.goal,
                        value <= ratio.goal ? "ok" : "OVER");
        else
            std::printf("%-70s %9.2fx %7.2fx %s\n", ratio.what.c_str(), value, ratio.goal,
                        value <= ratio.goal ? "ok" : "OVER");
    }
    benchmark::Shutdown();
    return 0;
}
