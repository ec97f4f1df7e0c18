// What the store computes for the views over a week of 5,000 entries: the
// day's and week's totals, read on every one-second tick, and the recent
// entries, read on every change. Baselines: the least work each can do, a
// plain sum of the entries' seconds and a copy of the entries.

#include <benchmark/benchmark.h>

#include "core/tracker_store.hpp"
#include "data.hpp"

namespace {

using namespace irvelo;

TrackerStore& store() {
  return bench::busy_store();
}

void TotalsBaseline(benchmark::State& state) {
  const TrackerStore& s = store();
  for (auto _ : state) {
    std::int64_t sum = 0;
    for (const auto& e : s.bootstrap->entries) sum += e.seconds_at(s.now);
    benchmark::DoNotOptimize(sum);
  }
}

void Totals(benchmark::State& state) {
  const TrackerStore& s = store();
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.today_seconds());
    benchmark::DoNotOptimize(s.week_seconds());
  }
}

void RecentBaseline(benchmark::State& state) {
  const TrackerStore& s = store();
  for (auto _ : state) {
    auto copy = s.bootstrap->entries;
    benchmark::DoNotOptimize(copy);
  }
}

void Recent(benchmark::State& state) {
  const TrackerStore& s = store();
  for (auto _ : state) {
    auto recent = s.recent_entries();
    if (recent.size() != 5) state.SkipWithError("expected five recent entries");
    benchmark::DoNotOptimize(recent);
  }
}

}  // namespace

BENCHMARK(TotalsBaseline)->Name("today and week totals over 5000 entries, per tick/baseline: plain sum");
BENCHMARK(Totals)->Name("today and week totals over 5000 entries, per tick/store totals");
BENCHMARK(RecentBaseline)->Name("recent entries over 5000 entries, per change/baseline: copy of the entries");
BENCHMARK(Recent)->Name("recent entries over 5000 entries, per change/store recent entries");
