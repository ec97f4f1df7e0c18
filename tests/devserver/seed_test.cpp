// The seeds at every hour of a week: finished entries never end in the
// future, and the periods the bootstrap shows are never empty.

#include <glib.h>
#include <gtest/gtest.h>

#include "devserver/service.hpp"

namespace irvelo::test {
namespace {

using devserver::model::make_seed;
using devserver::model::State;

std::int64_t local_midnight(const char* zone, std::int64_t now, int days_back) {
  GTimeZone* tz = g_time_zone_new_identifier(zone);
  GDateTime* utc = g_date_time_new_from_unix_utc(now);
  GDateTime* local = g_date_time_to_timezone(utc, tz);
  GDateTime* day = g_date_time_add_days(local, -days_back);
  GDateTime* midnight = g_date_time_new(tz, g_date_time_get_year(day), g_date_time_get_month(day),
                                        g_date_time_get_day_of_month(day), 0, 0, 0);
  const std::int64_t out = g_date_time_to_unix(midnight);
  for (GDateTime* dt : {utc, local, day, midnight}) g_date_time_unref(dt);
  g_time_zone_unref(tz);
  return out;
}

int weekday(const char* zone, std::int64_t now) {
  GTimeZone* tz = g_time_zone_new_identifier(zone);
  GDateTime* utc = g_date_time_new_from_unix_utc(now);
  GDateTime* local = g_date_time_to_timezone(utc, tz);
  const int out = g_date_time_get_day_of_week(local);
  g_date_time_unref(local);
  g_date_time_unref(utc);
  g_time_zone_unref(tz);
  return out;
}

void expect_sane(const State& s, std::int64_t now) {
  for (const auto& ws : s.workspaces) {
    std::map<std::string, int> running;
    for (const auto& e : ws.entries) {
      EXPECT_LE(e.start, now) << e.id;
      if (e.end) {
        EXPECT_LE(*e.end, now) << e.id;
        EXPECT_GE(*e.end, e.start) << e.id;
      } else {
        ++running[e.user_id];
      }
      if (e.task_id) {
        EXPECT_TRUE(e.project_id.has_value()) << e.id;
      }
    }
    for (const auto& [user, n] : running) EXPECT_EQ(n, 1) << user << " in " << ws.id;
  }
}

// 2026-03-02 is a Monday; eight days from the Sunday before, every 20 minutes,
// and across the change to summer time at the end of March.
const std::int64_t kStarts[] = {1772323200, 1774738800};

TEST(Seeds, TestSeedKeepsItsEntriesInTheCurrentWeek) {
  for (const std::int64_t base : kStarts) {
    for (std::int64_t now = base; now < base + 8 * 86400; now += 1200) {
      SCOPED_TRACE(now);
      const State s = make_seed("test", now);
      expect_sane(s, now);
      const std::int64_t week = local_midnight("UTC", now, weekday("UTC", now) - 1);
      int mine = 0;
      for (const auto& e : s.workspaces[0].entries)
        if (e.user_id == "u_test") {
          ++mine;
          if (now - week >= 60) {
            EXPECT_GE(e.start, week) << e.id;
          }
        }
      EXPECT_EQ(mine, 3);
    }
  }
}

TEST(Seeds, DemoSeedAlwaysHasEntriesToday) {
  for (const std::int64_t base : kStarts) {
    for (std::int64_t now = base; now < base + 8 * 86400; now += 1200) {
      SCOPED_TRACE(now);
      const State s = make_seed("demo", now);
      expect_sane(s, now);
      const std::int64_t midnight = local_midnight("Europe/Berlin", now, 0);
      int today = 0;
      for (const auto& e : s.workspaces[0].entries)
        if (e.user_id == "u_mara" && e.start >= midnight) ++today;
      if (now - midnight >= 60) {
        EXPECT_GE(today, 2);
      }
    }
  }
}

TEST(Seeds, SameClockSameData) {
  const std::int64_t now = kStarts[0] + 3 * 86400 + 11 * 3600;
  for (const char* name : {"test", "demo"}) {
    const State a = make_seed(name, now);
    const State b = make_seed(name, now);
    ASSERT_EQ(a.workspaces.size(), b.workspaces.size());
    for (std::size_t i = 0; i < a.workspaces.size(); ++i) {
      ASSERT_EQ(a.workspaces[i].entries.size(), b.workspaces[i].entries.size());
      for (std::size_t j = 0; j < a.workspaces[i].entries.size(); ++j) {
        EXPECT_EQ(a.workspaces[i].entries[j].id, b.workspaces[i].entries[j].id);
        EXPECT_EQ(a.workspaces[i].entries[j].description, b.workspaces[i].entries[j].description);
        EXPECT_EQ(a.workspaces[i].entries[j].start, b.workspaces[i].entries[j].start);
      }
    }
  }
  EXPECT_THROW(make_seed("nope", now), std::invalid_argument);
}

}  // namespace
}  // namespace irvelo::test
