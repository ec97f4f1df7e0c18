#include "core/work_hours.hpp"

#include "away/reminders.hpp"

#include <gtest/gtest.h>

namespace irvelo {
namespace {

TEST(WorkHours, ReadsWhatUsersWriteAndRefusesTheRest) {
  struct Row {
    const char* text;
    int start;  // -1: refused
    int end;
  };
  const Row rows[] = {
      {"09:00-17:00", 540, 1020},
      {" 08:30 - 12:15 ", 510, 735},
      {"22:00-06:00", 1320, 360},
      {"00:00-24:00", 0, 1440},
      {"9-17", -1, 0},
      {"09:00-09:00", -1, 0},
      {"09:60-17:00", -1, 0},
      {"25:00-26:00", -1, 0},
      {"24:00-08:00", -1, 0},
      {"09:00", -1, 0},
      {"", -1, 0},
      {"09:00-17:00x", -1, 0},
  };
  for (const auto& row : rows) {
    const auto hours = parse_work_hours(row.text);
    if (row.start < 0) {
      EXPECT_FALSE(hours) << row.text;
      continue;
    }
    ASSERT_TRUE(hours) << row.text;
    EXPECT_EQ(hours->start_minute, row.start) << row.text;
    EXPECT_EQ(hours->end_minute, row.end) << row.text;
  }
}

TEST(WorkHours, DaysAsRangesAndLists) {
  struct Row {
    const char* text;
    const char* days;  // the chosen ISO weekdays 1..7 as digits; null: refused
  };
  const Row rows[] = {
      {"1-5", "12345"}, {"1,2,3,4,6", "12346"}, {"7", "7"},    {"1-3, 6-7", "12367"}, {"5-1", nullptr},
      {"0-5", nullptr}, {"8", nullptr},         {"", nullptr}, {"1,,2", nullptr},     {"mon-fri", nullptr},
  };
  for (const auto& row : rows) {
    const auto days = parse_work_days(row.text);
    if (row.days == nullptr) {
      EXPECT_FALSE(days) << row.text;
      continue;
    }
    ASSERT_TRUE(days) << row.text;
    std::string chosen;
    for (int d = 1; d <= 7; ++d) {
      if ((*days)[static_cast<std::size_t>(d)]) chosen += static_cast<char>('0' + d);
    }
    EXPECT_EQ(chosen, row.days) << row.text;
  }
}

TEST(WorkHours, WorkingTimeIncludingSpansPastMidnight) {
  const WorkDays weekdays = *parse_work_days("1-5");
  const WorkHours day = *parse_work_hours("09:00-17:00");
  EXPECT_TRUE(within_work_time(day, weekdays, 3, 9 * 60));
  EXPECT_FALSE(within_work_time(day, weekdays, 3, 17 * 60));
  EXPECT_FALSE(within_work_time(day, weekdays, 3, 8 * 60 + 59));
  EXPECT_FALSE(within_work_time(day, weekdays, 6, 10 * 60));

  // A night shift belongs to the day it started: Friday night yes, the early
  // hours of Saturday too, Saturday night not, Monday's early hours not.
  const WorkHours night = *parse_work_hours("22:00-06:00");
  EXPECT_TRUE(within_work_time(night, weekdays, 5, 23 * 60));
  EXPECT_TRUE(within_work_time(night, weekdays, 6, 5 * 60));
  EXPECT_FALSE(within_work_time(night, weekdays, 6, 23 * 60));
  EXPECT_FALSE(within_work_time(night, weekdays, 1, 5 * 60));
  EXPECT_FALSE(within_work_time(night, weekdays, 3, 12 * 60));
}

}  // namespace
}  // namespace irvelo

namespace irvelo::away {
namespace {

TEST(Reminders, LongTimerOnEachFurtherSpanAndAnewForAnotherEntry) {
  Reminders reminders(0);
  const std::int64_t start = 1'000'000;
  const std::int64_t hour = 3600;
  EXPECT_FALSE(reminders.long_timer_due("a", start, start + 2 * hour - 1, 2));
  EXPECT_EQ(reminders.long_timer_due("a", start, start + 2 * hour, 2), 2);
  EXPECT_FALSE(reminders.long_timer_due("a", start, start + 3 * hour, 2));
  EXPECT_EQ(reminders.long_timer_due("a", start, start + 4 * hour + 5, 2), 4);
  // A timer found after a night on the clock is reminded of once, not ten times.
  EXPECT_EQ(reminders.long_timer_due("b", start, start + 21 * hour, 2), 20);
  EXPECT_FALSE(reminders.long_timer_due("b", start, start + 21 * hour + 1, 2));
  EXPECT_FALSE(reminders.long_timer_due("c", start, start + 9 * hour, 0)) << "0 is off";
}

TEST(Reminders, LongTimerSpanChangedWhileRunningCountsOnInTheNewSpan) {
  const std::int64_t start = 1'000'000;
  const std::int64_t hour = 3600;
  struct Case {
    const char* name;
    int before;
    int after;
    std::int64_t changed_at;  // hours run when the setting changes
    std::int64_t next;        // hours run at the next reminder
  };
  for (const Case& c :
       {Case{"longer: no silence up to the old count", 1, 2, 3, 4}, Case{"shorter: no repeat at once", 3, 1, 3, 4}}) {
    SCOPED_TRACE(c.name);
    Reminders reminders(0);
    EXPECT_EQ(reminders.long_timer_due("a", start, start + c.changed_at * hour, c.before), c.changed_at);
    EXPECT_FALSE(reminders.long_timer_due("a", start, start + c.changed_at * hour + 60, c.after));
    EXPECT_FALSE(reminders.long_timer_due("a", start, start + c.next * hour - 1, c.after));
    EXPECT_EQ(reminders.long_timer_due("a", start, start + c.next * hour, c.after), c.next);
  }
}

TEST(Reminders, TrackReminderNeedsQuietWorkingTimeAnActiveUserAndAnHourBetween) {
  Reminders reminders(1000);
  const std::int64_t quiet = 900;
  EXPECT_FALSE(reminders.track_reminder_due(1000 + quiet - 1, true, std::nullopt, quiet));
  EXPECT_FALSE(reminders.track_reminder_due(1000 + quiet, false, std::nullopt, quiet)) << "outside working hours";
  EXPECT_FALSE(reminders.track_reminder_due(1000 + quiet, true, kActiveWithinMs, quiet)) << "the user is away";
  EXPECT_TRUE(reminders.track_reminder_due(1000 + quiet, true, 1000, quiet));
  EXPECT_FALSE(reminders.track_reminder_due(1000 + quiet + 3599, true, std::nullopt, quiet));
  EXPECT_TRUE(reminders.track_reminder_due(1000 + quiet + 3600, true, std::nullopt, quiet));
  reminders.tracking_seen(10'000);
  EXPECT_FALSE(reminders.track_reminder_due(10'000 + quiet - 1, true, std::nullopt, quiet)) << "a timer ran";
}

}  // namespace
}  // namespace irvelo::away
