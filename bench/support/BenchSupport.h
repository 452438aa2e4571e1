#pragma once

#include "models/Thought.h"

#include <benchmark/benchmark.h>

#include <QString>

#include <map>
#include <string>
#include <vector>

/// A board of \a count thoughts shaped like a real one: Chinese titles of about 20 characters,
/// notes of about 60, all four columns, one tombstone in twenty. The same count gives the same
/// texts.
Board generateBoard(int count);

/// Peak resident memory of this process so far, in bytes.
qint64 peakResidentBytes();
/// Bytes currently allocated from the heap.
qint64 heapBytesInUse();

/// Runs the registered benchmarks, then prints each ratio "name / floor" and its goal, so the
/// figures and their floors always come from the same run. A name may also be
/// "benchmark.counter", for a benchmark that reports several figures as counters.
struct BenchRatio
{
    std::string measured;
    std::string floor;
    /// Zero for a ratio printed for what it shows, with no goal.
    double goal;
    std::string what;
    /// The goal is for "name - floor" (in the figures' own unit) rather than their ratio.
    bool difference = false;
};
enum class Order {
    /// The repetitions of all benchmarks in one shuffled order.
    shuffledRepetitions,
    /// Each benchmark's runs together, in the order they were registered.
    asRegistered,
};
int runBenchmarksWithRatios(int argc, char **argv, const std::vector<BenchRatio> &ratios,
                            Order order = Order::shuffledRepetitions);
