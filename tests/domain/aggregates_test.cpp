#include <gtest/gtest.h>

#include <limits>

#include "core/aggregates.hpp"

namespace irvelo {
namespace {

api::TimeEntry finished(std::string id, std::int64_t start, std::int64_t end, std::string description = {},
                        std::optional<std::int64_t> duration = std::nullopt) {
  api::TimeEntry e;
  e.id = std::move(id);
  e.description = std::move(description);
  e.start_unix = start;
  e.start_at = "start";
  e.end_unix = end;
  e.end_at = "end";
  e.duration_seconds = duration;
  return e;
}

api::TimeEntry running(std::string id, std::int64_t start) {
  api::TimeEntry e;
  e.id = std::move(id);
  e.start_unix = start;
  e.start_at = "start";
  return e;
}

api::ProjectRef project(std::string id) {
  return {std::move(id), "P", "#9e9e9e", std::nullopt};
}
api::TaskRef task(std::string id) {
  return {std::move(id), "T"};
}

std::vector<std::string> ids(const std::vector<api::TimeEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.id);
  return out;
}

constexpr std::int64_t kNow = 1709802300;  // 2024-03-07T09:05:00Z

TEST(SecondsAt, FinishedAndRunningEntries) {
  EXPECT_EQ(finished("a", 1000, 1120, "", 90).seconds_at(kNow), 90);  // the server's duration wins
  EXPECT_EQ(finished("a", 1000, 1120).seconds_at(kNow), 120);
  api::TimeEntry no_end = finished("a", 1000, 1120);
  no_end.end_unix.reset();
  EXPECT_EQ(no_end.seconds_at(kNow), 0);
  EXPECT_EQ(running("r", kNow - 75).seconds_at(kNow), 75);
  EXPECT_EQ(running("r", kNow + 10).seconds_at(kNow), 0);  // a start in the future counts nothing
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(running("r", kMin).seconds_at(kMax), kMax);
  EXPECT_EQ(finished("a", kMin, kMax).seconds_at(kNow), kMax);
}

TEST(WeekEntries, RunningEntryMergedOnce) {
  const std::vector<api::TimeEntry> week = {finished("a", 1, 2), finished("b", 3, 4), finished("c", 5, 6),
                                            finished("b", 7, 8)};
  EXPECT_EQ(ids(week_entries(week, running("b", 9))), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(week_entries(week, running("b", 9)).back().end_at, std::nullopt);
  EXPECT_EQ(ids(week_entries(week, std::nullopt)), (std::vector<std::string>{"a", "b", "c", "b"}));
  EXPECT_EQ(ids(week_entries({}, running("z", 1))), (std::vector<std::string>{"z"}));
}

TEST(Totals, TodayCountsEntriesByTheirStartDateInTheGivenZone) {
  // now: 2024-03-08T00:10:00Z; in New York it is still the 7th (19:10).
  const std::int64_t now = 1709856600;
  const std::int64_t yesterday_2330 = now - 40 * 60;  // 2024-03-07T23:30:00Z
  const std::vector<api::TimeEntry> entries = {
      finished("morning-7th", 1709802300, 1709802300 + 600),  // 09:05Z on the 7th, ten minutes
      running("over-midnight", yesterday_2330),
  };
  // In UTC the running entry started yesterday: nothing today, all of it in the week.
  EXPECT_EQ(today_seconds(entries, now, "UTC"), 0);
  EXPECT_EQ(week_seconds(entries, now), 600 + 40 * 60);
  // In New York both started "today" (the 7th).
  EXPECT_EQ(today_seconds(entries, now, "America/New_York"), 600 + 40 * 60);
  // In Tokyo the 7th 09:05Z is 18:05 on the 7th, the running one started on the 8th at 08:30.
  EXPECT_EQ(today_seconds(entries, now, "Asia/Tokyo"), 40 * 60);
}

TEST(Totals, RunningEntryCountsOnceWithoutCopying) {
  // The service still lists the running entry as finished at 20 minutes; the
  // local one has run for 40 and replaces it.
  const std::vector<api::TimeEntry> week = {finished("a", kNow - 3600, kNow - 3000),
                                            finished("r", kNow - 2400, kNow - 1200)};
  const auto r = running("r", kNow - 2400);
  EXPECT_EQ(week_seconds(week, r, kNow), 600 + 2400);
  EXPECT_EQ(today_seconds(week, r, kNow, "UTC"), 600 + 2400);
  EXPECT_EQ(week_seconds(week, std::nullopt, kNow), 600 + 1200);
  EXPECT_EQ(today_seconds({}, running("z", kNow - 5), kNow, "Europe/Berlin"), 5);
  EXPECT_EQ(today_seconds(week, r, kNow, "UTC"), today_seconds(week_entries(week, r), kNow, "UTC"));
}

TEST(Totals, SumsSaturateAndUncalendarableStartsAreSkipped) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const std::vector<api::TimeEntry> huge = {finished("a", 0, 1, "", kMax), finished("b", 0, 1, "", kMax)};
  EXPECT_EQ(week_seconds(huge, kNow), kMax);
  const std::vector<api::TimeEntry> same_day = {finished("a", kNow, kNow + 1, "", kMax),
                                                finished("b", kNow, kNow + 1, "", kMax)};
  EXPECT_EQ(today_seconds(same_day, kNow, "UTC"), kMax);
  // Starts outside the calendar never count as today, and a clock outside it has no today.
  EXPECT_EQ(today_seconds({finished("old", kMin, kMin + 5)}, kNow, "UTC"), 0);
  EXPECT_EQ(today_seconds({finished("x", kMin, kMin + 5)}, kMax, "UTC"), 0);
}

TEST(RecentEntries, NewestFirstOnePerDescriptionProjectAndTask) {
  std::vector<api::TimeEntry> entries;
  for (int i = 0; i < 7; ++i) entries.push_back(finished("same" + std::to_string(i), 100 + i, 200 + i, "Email"));
  auto recent = recent_entries(entries, 5);
  ASSERT_EQ(recent.size(), 1u);
  EXPECT_EQ(recent[0].id, "same6");  // the latest of the seven

  auto with_task_a = finished("ta", 10, 20, "Review");
  with_task_a.project = project("p1");
  with_task_a.task = task("t1");
  auto with_task_b = with_task_a;
  with_task_b.id = "tb";
  with_task_b.task = task("t2");
  auto project_only = with_task_a;
  project_only.id = "po";
  project_only.task.reset();
  EXPECT_EQ(ids(recent_entries({with_task_a, with_task_b, project_only}, 5)),
            (std::vector<std::string>{"ta", "tb", "po"}));
}

TEST(RecentEntries, SkipsRunningKeepsTiesStableAndStopsAtN) {
  std::vector<api::TimeEntry> entries = {
      finished("tie-first", 500, 600, "a"), finished("tie-second", 500, 600, "b"), running("run", 900),
      finished("older", 100, 200, "c"),     finished("newest", 800, 850, "d"),     finished("oldest", 50, 60, "e"),
  };
  EXPECT_EQ(ids(recent_entries(entries, 5)),
            (std::vector<std::string>{"newest", "tie-first", "tie-second", "older", "oldest"}));
  EXPECT_EQ(ids(recent_entries(entries, 2)), (std::vector<std::string>{"newest", "tie-first"}));
}

TEST(MissingRequiredFields, RulesAndLabels) {
  api::TrackingRules all;
  all.require_description = all.require_project = all.require_task = true;
  struct Row {
    const char* name;
    api::TrackingRules rules;
    const char* description;
    bool has_project, has_task, project_has_tasks;
    const char* expected;
  };
  const Row rows[] = {
      {"blank description, nothing chosen", all, "   ", false, false, false, "description, project"},
      {"project with tasks, no task", all, " \t\n\v\f\r", true, false, true, "description, task"},
      {"project without tasks", all, "Write", true, false, false, ""},
      {"everything chosen", all, "Write", true, true, true, ""},
      {"no rules", api::TrackingRules{}, "", false, false, true, ""},
      {"task without project tasks is never demanded", all, "x", false, false, false, "project"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(missing_required_fields(row.rules, row.description, row.has_project, row.has_task, row.project_has_tasks),
              row.expected);
  }
  api::TrackingRules tag_only;
  tag_only.require_tag = true;
  EXPECT_EQ(missing_required_fields(tag_only, "", false, false, false), "");
}

TEST(Records, DefaultsAndRunningShape) {
  EXPECT_EQ(api::User{}.week_start, 1);
  EXPECT_EQ(api::Bootstrap{}.week_start, 1);
  EXPECT_FALSE(api::TrackingRules{}.require_project);
  EXPECT_FALSE(api::TrackingRules{}.lock_before.has_value());
  api::Error error;
  error.kind = api::Error::Kind::Api;
  error.field_errors["taskId"] = {"x"};
  error.field_errors["projectId"] = {"y"};
  error.field_errors["tagIds"] = {"z"};
  std::vector<std::string> keys;
  for (const auto& [key, messages] : error.field_errors) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"projectId", "tagIds", "taskId"}));
}

}  // namespace
}  // namespace irvelo
