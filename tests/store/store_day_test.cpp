// Today's and this week's totals come with the bootstrap: when the local day
// changes, the store loads everything again, once, on the clock while a timer
// runs and on the poll while none does. The store and the service both run
// on clocks moved to just before the start of a week.

#include <glib.h>

#include "api/intervals.hpp"
#include "store_fixture.hpp"

namespace irvelo::test {
namespace {

// The next Monday, 00:00 UTC (the seed's zone and week start), after `now`.
std::int64_t next_monday(std::int64_t now) {
  const std::int64_t day = now / 86400;
  const std::int64_t monday = day - (day + 3) % 7;  // 1970-01-01 was a Thursday
  return (monday + 7) * 86400;
}

class DayTest : public StoreTest {
 protected:
  // Puts the service and a new store ten seconds before the next week.
  void start_before_midnight() {
    const std::int64_t real = now_unix();
    offset_ = next_monday(real) - 10 - real;
    server.set_clock_offset(offset_);
    server.reset_state();
    ephemeral_store();
    store->clock_source = [this] { return now_unix() + offset_; };
    ASSERT_TRUE(wait_ready());
  }

  void cross_midnight() {
    offset_ += 30;
    server.set_clock_offset(offset_);
  }

  int count(const std::string& suffix) const {
    int n = 0;
    for (const auto& line : sent()) n += line == "GET " + ws_path(suffix) ? 1 : 0;
    return n;
  }

  // Crosses midnight and checks that exactly one reload follows, however
  // many ticks (tracking) or polls (idle) come after it.
  void expect_one_reload(bool tracking) {
    const int before = count("/bootstrap");
    cross_midnight();
    ASSERT_TRUE(run_until([&] {
      return count("/bootstrap") == before + 1 && store->phase == TrackerStore::Phase::Ready && !store->busy;
    }));
    const std::int64_t reloaded_at = store->now;
    const int polls = count("/time-entries/running");
    ASSERT_TRUE(run_until(
        [&] { return tracking ? store->now >= reloaded_at + 2 : count("/time-entries/running") >= polls + 2; }));
    EXPECT_EQ(count("/bootstrap"), before + 1);
  }

  std::int64_t offset_ = 0;
};

TEST_F(DayTest, WhileTrackingTheClockReloadsAtOnce) {
  start_before_midnight();
  store->start();
  // The refresh after the start has brought the running entry in.
  ASSERT_TRUE(run_until([this] { return store->bootstrap && store->bootstrap->running && !store->busy; }));
  ASSERT_GT(store->today_seconds(), store->elapsed_seconds());
  // The poll keeps its 30 seconds here: only the clock can see the new day in time.
  expect_one_reload(true);
  EXPECT_EQ(store->today_seconds(), 0);  // the running entry began yesterday
  EXPECT_EQ(store->week_seconds(), store->elapsed_seconds());
}

TEST_F(DayTest, WhileIdleThePollReloads) {
  g_setenv("IRVELO_TEST_POLL_SECONDS", "1", TRUE);
  start_before_midnight();
  ASSERT_GT(store->today_seconds(), 0);
  ASSERT_GT(store->week_seconds(), 0);
  expect_one_reload(false);
  EXPECT_EQ(store->today_seconds(), 0);
  EXPECT_EQ(store->week_seconds(), 0);
  g_unsetenv("IRVELO_TEST_POLL_SECONDS");
}

}  // namespace
}  // namespace irvelo::test
