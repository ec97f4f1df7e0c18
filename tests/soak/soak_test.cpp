// A working day in miniature: the timer runs for ten minutes with the panel
// open, the poll asks every second instead of every thirty, and once a minute
// the timer is stopped and started again through the command line, so the
// recent entries and totals are rebuilt. After two minutes of warming up
// (caches and the heap settle: about 1.2 MiB between the first minute and
// the second, then flat to the tenth) the executable's resident memory may
// not grow by a mebibyte until the end.
// IRVELO_SOAK_SECONDS shortens the run for a look at the figures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

// Resident memory of a process in KiB, 0 once it ended.
long resident_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

int soak_seconds() {
  const char* value = g_getenv("IRVELO_SOAK_SECONDS");
  const int seconds = value != nullptr ? std::atoi(value) : 0;
  return seconds >= 180 ? seconds : 600;
}

class Soak : public AppSession {};

TEST_F(Soak, RunningTimerForTenMinutesKeepsItsMemory) {
  ASSERT_TRUE(start_primary({"--background"}, {{"IRVELO_TEST_POLL_SECONDS", "1"}}));
  ASSERT_EQ(invoke({"--start"}), 0);
  ASSERT_EQ(invoke({}), 0) << "the panel did not open";
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kTracking; }));
  // scripts/test starts the window tests only after this line: a panel
  // shown now would take their keyboard focus.
  std::printf("soak: panel open\n");
  std::fflush(stdout);

  const int seconds = soak_seconds();
  const int polls_before = count("GET", "/time-entries/running");
  std::vector<long> samples;  // one every ten seconds
  const gint64 begin = g_get_monotonic_time();
  for (int elapsed = 10; elapsed <= seconds; elapsed += 10) {
    run_for(std::chrono::milliseconds(begin / 1000 + elapsed * 1000 - g_get_monotonic_time() / 1000));
    ASSERT_TRUE(alive(primary_)) << "ended after " << elapsed << " s";
    if (elapsed % 60 == 30) {
      // A new entry a minute: the stopped one joins the recent entries.
      ASSERT_EQ(invoke({"--stop"}), 0);
      ASSERT_EQ(invoke({"--start"}), 0);
    }
    samples.push_back(resident_kib(primary_));
  }

  std::string trace;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (i % 6 == 5) trace += std::to_string((i + 1) / 6) + " min " + std::to_string(samples[i]) + " KiB\n";
  }
  std::printf("resident memory:\n%s", trace.c_str());

  const long warm = samples.at(11);
  const long last = samples.back();
  EXPECT_LT(last - warm, 1024) << trace;

  // The app kept working all along: polled about once a second and still ticks.
  const int polls = count("GET", "/time-entries/running") - polls_before;
  EXPECT_GT(polls, seconds * 8 / 10);
  EXPECT_EQ(host_->string_property(item(), "IconName"), kTracking);
  const std::string before = tooltip_text();
  EXPECT_TRUE(run_until([&] { return tooltip_text() != before; }, 5s)) << "the clock stopped ticking";
  EXPECT_TRUE(std::regex_match(tooltip_text(), std::regex(R"(Tracking \d+:\d\d:\d\d)"))) << tooltip_text();
}

}  // namespace
}  // namespace irvelo::test
