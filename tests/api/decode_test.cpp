// Wire decoding against its edge cases; no network.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <string>

#include "api/decode.hpp"

namespace irvelo::api {
namespace {

using json = nlohmann::json;

json entry_json() {
  return json::parse(R"({
    "id": "e1",
    "description": "Writing",
    "startAt": "2024-03-04T09:00:00Z",
    "endAt": "2024-03-04T10:30:00+01:00",
    "durationSeconds": 1800,
    "isBillable": true,
    "project": {"id": "p1", "name": "Website", "color": "#ff0000", "clientName": "Acme"},
    "task": {"id": "t1", "name": "Copy"},
    "tags": [{"id": "g1", "name": "deep"}, {"id": "g2", "name": "focus"}],
    "isLocked": true,
    "extra": "ignored"
  })");
}

json bootstrap_json() {
  return json::parse(R"({
    "workspace": {"id": "w1", "name": "Studio", "slug": "studio", "durationFormat": "decimal", "timeZone": "Europe/Berlin"},
    "viewer": {"role": "admin", "timeZone": "Europe/Paris", "weekStart": 0, "timeFormat": "h12", "dateFormat": "dmy"},
    "rules": {"requiredFields": {"project": true, "task": false, "tag": true, "description": true},
              "forceTimer": true, "lockBefore": "2024-01-01", "membersCanChangeBillable": true},
    "can": {"createProjects": true, "createTags": false, "changeBillable": true},
    "running": {"id": "r1", "startAt": "2024-03-04T11:00:00Z", "endAt": null},
    "entries": [{"id": "e1", "startAt": "2024-03-04T09:00:00Z", "endAt": "2024-03-04T10:00:00Z", "durationSeconds": 3600}],
    "week": {"from": "2024-03-04", "to": "2024-03-10"}
  })");
}

json user_json() {
  return json{{"id", "u1"}, {"email", "ada@example.org"}};
}

// ---- time entries ----------------------------------------------------------

TEST(ParseTimeEntry, FullEntry) {
  const TimeEntry e = parse_time_entry(entry_json());
  EXPECT_EQ(e.id, "e1");
  EXPECT_EQ(e.description, "Writing");
  EXPECT_EQ(e.start_at, "2024-03-04T09:00:00Z");
  EXPECT_EQ(e.start_unix, 1709542800);
  ASSERT_TRUE(e.end_at.has_value());
  EXPECT_EQ(*e.end_at, "2024-03-04T10:30:00+01:00");
  ASSERT_TRUE(e.end_unix.has_value());
  EXPECT_EQ(*e.end_unix, 1709542800 + 1800);
  ASSERT_TRUE(e.duration_seconds.has_value());
  EXPECT_EQ(*e.duration_seconds, 1800);
  EXPECT_TRUE(e.is_billable);
  ASSERT_TRUE(e.project.has_value());
  EXPECT_EQ(e.project->id, "p1");
  EXPECT_EQ(e.project->name, "Website");
  EXPECT_EQ(e.project->color, "#ff0000");
  EXPECT_EQ(e.project->client_name, std::optional<std::string>("Acme"));
  ASSERT_TRUE(e.task.has_value());
  EXPECT_EQ(e.task->id, "t1");
  EXPECT_EQ(e.task->name, "Copy");
  ASSERT_EQ(e.tags.size(), 2u);
  EXPECT_EQ(e.tags[0].id, "g1");
  EXPECT_EQ(e.tags[1].name, "focus");
  EXPECT_TRUE(e.is_locked);
}

TEST(ParseTimeEntry, MinimalEntryTakesDefaults) {
  const TimeEntry e = parse_time_entry(json{{"id", "e"}, {"startAt", "2024-03-04T09:00:00.750Z"}});
  EXPECT_EQ(e.description, "");
  EXPECT_EQ(e.start_unix, 1709542800);  // fraction dropped
  EXPECT_FALSE(e.end_at.has_value());
  EXPECT_FALSE(e.end_unix.has_value());
  EXPECT_FALSE(e.duration_seconds.has_value());
  EXPECT_FALSE(e.is_billable);
  EXPECT_FALSE(e.project.has_value());
  EXPECT_FALSE(e.task.has_value());
  EXPECT_TRUE(e.tags.empty());
  EXPECT_FALSE(e.is_locked);
}

TEST(ParseTimeEntry, NullEndAtIsRunning) {
  json j = entry_json();
  j["endAt"] = nullptr;
  const TimeEntry e = parse_time_entry(j);
  EXPECT_FALSE(e.end_at.has_value());
  EXPECT_FALSE(e.end_unix.has_value());
}

TEST(ParseTimeEntry, UnreadableEndAtFailsWithItsText) {
  json j = entry_json();
  j["endAt"] = "yesterday";
  try {
    (void)parse_time_entry(j);
    FAIL() << "accepted an unreadable endAt";
  } catch (const DecodeError& e) {
    EXPECT_STREQ(e.what(), "invalid instant: yesterday");
  }
}

TEST(ParseTimeEntry, InstantsNeedAZone) {
  json j = entry_json();
  j["startAt"] = "2024-03-04T09:00:00";
  EXPECT_THROW((void)parse_time_entry(j), DecodeError);
  j["startAt"] = "";
  EXPECT_THROW((void)parse_time_entry(j), DecodeError);
  EXPECT_THROW((void)instant_or_throw("2024-03-04"), DecodeError);
  EXPECT_EQ(instant_or_throw("1970-01-01T00:00:00Z"), 0);
}

TEST(ParseTimeEntry, ProjectColourDefaults) {
  json j = entry_json();
  j["project"].erase("color");
  EXPECT_EQ(parse_time_entry(j).project->color, "#9e9e9e");
  j["project"]["color"] = nullptr;
  EXPECT_EQ(parse_time_entry(j).project->color, "#9e9e9e");
  j["project"]["color"] = "";
  EXPECT_EQ(parse_time_entry(j).project->color, "");
  j["project"]["clientName"] = nullptr;
  EXPECT_FALSE(parse_time_entry(j).project->client_name.has_value());
}

TEST(ParseTimeEntry, NullProjectAndTaskAreAbsent) {
  json j = entry_json();
  j["project"] = nullptr;
  j["task"] = nullptr;
  const TimeEntry e = parse_time_entry(j);
  EXPECT_FALSE(e.project.has_value());
  EXPECT_FALSE(e.task.has_value());
}

TEST(ParseTimeEntry, TagsThatAreNotAListGiveNoTags) {
  for (const json& tags : {json::object({{"id", "g"}, {"name", "n"}}), json("deep"), json(nullptr), json(3)}) {
    json j = entry_json();
    j["tags"] = tags;
    TimeEntry e;
    ASSERT_NO_THROW(e = parse_time_entry(j)) << tags.dump();
    EXPECT_TRUE(e.tags.empty()) << tags.dump();
  }
}

TEST(ParseTimeEntry, TagWithoutNameFails) {
  json j = entry_json();
  j["tags"] = json::parse(R"([{"id": "g1", "name": "ok"}, {"id": "g2"}])");
  EXPECT_THROW((void)parse_time_entry(j), json::exception);
}

// Each row replaces one key of a valid entry; the whole entry must then fail.
TEST(ParseTimeEntry, RejectedValues) {
  struct Row {
    const char* key;
    json value;
  };
  const Row rows[] = {
      {"id", nullptr},
      {"id", 7},
      {"startAt", nullptr},
      {"startAt", 1709542800},
      {"description", 5},
      {"endAt", 17},
      {"isBillable", "yes"},
      {"isBillable", 1},
      {"isLocked", "no"},
      {"durationSeconds", true},
      {"durationSeconds", "60"},
      {"durationSeconds", json::array({60})},
      {"durationSeconds", json::object({{"s", 60}})},
      {"project", json::object({{"id", "p"}})},
      {"project", "p1"},
      {"task", json::object({{"name", "t"}})},
      {"task", 3},
  };
  for (const auto& row : rows) {
    json j = entry_json();
    j[row.key] = row.value;
    EXPECT_ANY_THROW((void)parse_time_entry(j)) << row.key << " = " << row.value.dump();
  }
  json missing = entry_json();
  missing.erase("startAt");
  EXPECT_ANY_THROW((void)parse_time_entry(missing));
  EXPECT_ANY_THROW((void)parse_time_entry(json::array()));
  EXPECT_ANY_THROW((void)parse_time_entry(json("e1")));
}

TEST(ParseTimeEntry, DurationSecondsAcceptedForms) {
  struct Row {
    json value;
    std::optional<std::int64_t> expected;
  };
  const Row rows[] = {
      {nullptr, std::nullopt},
      {0, 0},
      {3600, 3600},
      {59.9, 59},
      {0.4, 0},
      {-0.0, 0},
      {json(std::uint64_t{1} << 40), std::int64_t{1} << 40},
      {json(std::int64_t{1} << 40), std::int64_t{1} << 40},
      {1099511627776.0, std::int64_t{1} << 40},
      {1099511627776.5, std::int64_t{1} << 40},  // truncated toward zero onto the bound
  };
  for (const auto& row : rows) {
    json j = entry_json();
    j["durationSeconds"] = row.value;
    TimeEntry e;
    ASSERT_NO_THROW(e = parse_time_entry(j)) << row.value.dump();
    EXPECT_EQ(e.duration_seconds, row.expected) << row.value.dump();
  }
  json absent = entry_json();
  absent.erase("durationSeconds");
  EXPECT_FALSE(parse_time_entry(absent).duration_seconds.has_value());
}

// Fault mended: out-of-range and non-finite numbers fail the answer instead
// of reaching an undefined conversion.
TEST(ParseTimeEntry, DurationSecondsOutOfRangeFails) {
  const json rows[] = {
      -1,
      -0.5,
      -3600.0,
      json(std::numeric_limits<std::int64_t>::min()),
      json((std::int64_t{1} << 40) + 1),
      json((std::uint64_t{1} << 40) + 1),
      1099511627777.0,
      1e19,
      -1e19,
      json(std::numeric_limits<std::int64_t>::max()),
      json(std::numeric_limits<std::uint64_t>::max()),
      json(std::numeric_limits<double>::infinity()),
      json(-std::numeric_limits<double>::infinity()),
      json(std::numeric_limits<double>::quiet_NaN()),
      json(std::numeric_limits<double>::max()),
  };
  for (const auto& value : rows) {
    json j = entry_json();
    j["durationSeconds"] = value;
    EXPECT_THROW((void)parse_time_entry(j), DecodeError) << value.dump();
  }
}

TEST(ParseTimeEntry, DurationSecondsFromParsedText) {
  // As the service would send them: an integer above the 64-bit maximum is
  // parsed as a floating number by the JSON library.
  for (const char* text : {"18446744073709551615", "18446744073709551616", "100000000000000000000", "1e19",
                           "9223372036854775807", "-9223372036854775808"}) {
    json j = entry_json();
    j["durationSeconds"] = json::parse(text);
    EXPECT_THROW((void)parse_time_entry(j), DecodeError) << text;
  }
  // Beyond the double range the parser itself refuses the answer.
  json beyond;
  EXPECT_ANY_THROW(beyond = json::parse("1e400"));
  json j = entry_json();
  j["durationSeconds"] = json::parse("1.5e3");
  EXPECT_EQ(parse_time_entry(j).duration_seconds, std::optional<std::int64_t>(1500));
}

// ---- users, memberships, me, token ----------------------------------------

TEST(ParseUser, Defaults) {
  const User u = parse_user(user_json());
  EXPECT_EQ(u.id, "u1");
  EXPECT_EQ(u.email, "ada@example.org");
  EXPECT_EQ(u.name, "");
  EXPECT_EQ(u.time_zone, "UTC");
  EXPECT_EQ(u.date_format, "");
  EXPECT_EQ(u.time_format, "h24");
  EXPECT_EQ(u.week_start, 1);
  EXPECT_EQ(u.locale, "en");
}

TEST(ParseUser, NullsTakeDefaults) {
  json j = user_json();
  for (const char* key : {"name", "timeZone", "dateFormat", "timeFormat", "weekStart", "locale"}) j[key] = nullptr;
  const User u = parse_user(j);
  EXPECT_EQ(u.time_zone, "UTC");
  EXPECT_EQ(u.time_format, "h24");
  EXPECT_EQ(u.week_start, 1);
  EXPECT_EQ(u.locale, "en");
}

TEST(ParseUser, AllFields) {
  json j = user_json();
  j.update(json{{"name", "Ada"},
                {"timeZone", "Europe/Berlin"},
                {"dateFormat", "dmy"},
                {"timeFormat", "h12"},
                {"weekStart", 0},
                {"locale", "de"}});
  const User u = parse_user(j);
  EXPECT_EQ(u.name, "Ada");
  EXPECT_EQ(u.time_zone, "Europe/Berlin");
  EXPECT_EQ(u.date_format, "dmy");
  EXPECT_EQ(u.time_format, "h12");
  EXPECT_EQ(u.week_start, 0);
  EXPECT_EQ(u.locale, "de");
}

TEST(ParseUser, WeekStartAcceptedForms) {
  struct Row {
    json value;
    int expected;
  };
  const Row rows[] = {
      {1.9, 1},
      {true, 1},
      {false, 0},
      {0, 0},
      {6, 6},
      {-1.9, -1},
      {nullptr, 1},
      {json(std::uint64_t{7}), 7},
      {2147483647, 2147483647},
      {-2147483648LL, -2147483648LL},
      {2147483647.9, 2147483647},
      {-2147483648.9, -2147483648LL},
  };
  for (const auto& row : rows) {
    json j = user_json();
    j["weekStart"] = row.value;
    User u;
    ASSERT_NO_THROW(u = parse_user(j)) << row.value.dump();
    EXPECT_EQ(u.week_start, row.expected) << row.value.dump();
  }
}

// Fault mended: strings fail, and numbers outside the 32-bit range fail
// instead of reaching an undefined conversion.
TEST(ParseUser, WeekStartRejectedForms) {
  const json rows[] = {
      "1",
      json::array({1}),
      json::object({{"d", 1}}),
      1e10,
      -1e10,
      2147483648.0,
      -2147483649.0,
      json(std::int64_t{2147483648}),
      json(std::int64_t{-2147483649}),
      json(std::numeric_limits<std::uint64_t>::max()),
      json(std::numeric_limits<double>::infinity()),
      json(-std::numeric_limits<double>::infinity()),
      json(std::numeric_limits<double>::quiet_NaN()),
  };
  for (const auto& value : rows) {
    json j = user_json();
    j["weekStart"] = value;
    EXPECT_ANY_THROW((void)parse_user(j)) << value.dump();
  }
}

TEST(ParseUser, RequiredAndTypedFields) {
  EXPECT_ANY_THROW((void)parse_user(json{{"email", "a@b"}}));
  EXPECT_ANY_THROW((void)parse_user(json{{"id", "u"}}));
  EXPECT_ANY_THROW((void)parse_user(json{{"id", "u"}, {"email", nullptr}}));
  json j = user_json();
  j["timeZone"] = 3;
  EXPECT_ANY_THROW((void)parse_user(j));
  EXPECT_ANY_THROW((void)parse_user(json::array()));
}

json membership_json(const char* id) {
  return json{{"workspaceId", id}, {"memberId", "m"}, {"name", "Studio"}, {"slug", "studio"}, {"role", "member"}};
}

TEST(ParseMembership, AllFieldsRequired) {
  const Membership m = parse_membership(membership_json("w1"));
  EXPECT_EQ(m.workspace_id, "w1");
  EXPECT_EQ(m.member_id, "m");
  EXPECT_EQ(m.name, "Studio");
  EXPECT_EQ(m.slug, "studio");
  EXPECT_EQ(m.role, "member");
  for (const char* key : {"workspaceId", "memberId", "name", "slug", "role"}) {
    json missing = membership_json("w1");
    missing.erase(key);
    EXPECT_ANY_THROW((void)parse_membership(missing)) << key;
    json null = membership_json("w1");
    null[key] = nullptr;
    EXPECT_ANY_THROW((void)parse_membership(null)) << key;
  }
  EXPECT_ANY_THROW((void)parse_membership(json("w1")));
}

TEST(ParseMe, UserAndWorkspacesInOrder) {
  const json j{{"user", user_json()}, {"workspaces", {membership_json("w1"), membership_json("w2")}}};
  const Me me = parse_me(j);
  EXPECT_EQ(me.user.id, "u1");
  ASSERT_EQ(me.workspaces.size(), 2u);
  EXPECT_EQ(me.workspaces[0].workspace_id, "w1");
  EXPECT_EQ(me.workspaces[1].workspace_id, "w2");
}

TEST(ParseMe, Failures) {
  EXPECT_ANY_THROW((void)parse_me(json{{"workspaces", json::array()}}));
  EXPECT_ANY_THROW((void)parse_me(json{{"user", user_json()}}));
  EXPECT_ANY_THROW((void)parse_me(json{{"user", "u1"}, {"workspaces", json::array()}}));
  EXPECT_ANY_THROW((void)parse_me(json{{"user", user_json()}, {"workspaces", {json{{"workspaceId", "w"}}}}}));
  EXPECT_ANY_THROW((void)parse_me(nullptr));
  // A null list counts as empty.
  EXPECT_TRUE(parse_me(json{{"user", user_json()}, {"workspaces", nullptr}}).workspaces.empty());
}

TEST(ParseTokenResponse, KeyUserAndWorkspaces) {
  const json j{{"apiKey", "k-123"}, {"user", user_json()}, {"workspaces", {membership_json("w1")}}};
  const TokenResponse t = parse_token_response(j);
  EXPECT_EQ(t.api_key, "k-123");
  EXPECT_EQ(t.user.email, "ada@example.org");
  ASSERT_EQ(t.workspaces.size(), 1u);
  EXPECT_EQ(t.workspaces[0].slug, "studio");

  json no_key = j;
  no_key.erase("apiKey");
  EXPECT_ANY_THROW((void)parse_token_response(no_key));
  json numeric_key = j;
  numeric_key["apiKey"] = 5;
  EXPECT_ANY_THROW((void)parse_token_response(numeric_key));
}

// ---- health ----------------------------------------------------------------

TEST(ParseHealth, FieldsAndDefaults) {
  const Health h = parse_health(json{{"ok", true}, {"name", "irvelo"}, {"version", "1.2.3"}});
  EXPECT_TRUE(h.ok);
  EXPECT_EQ(h.name, "irvelo");
  EXPECT_EQ(h.version, "1.2.3");
  const Health empty = parse_health(json::object());
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(empty.name, "");
  EXPECT_EQ(empty.version, "");
  EXPECT_ANY_THROW((void)parse_health(json{{"ok", "true"}}));
}

TEST(ParseHealth, ServiceNameCheck) {
  EXPECT_EQ(parse_irvelo_health(json{{"ok", false}, {"name", "irvelo"}}).name, "irvelo");
  for (const json& j : {json{{"ok", true}, {"name", "Irvelo"}}, json{{"ok", true}, {"name", "irvelo "}},
                        json{{"ok", true}}, json{{"ok", true}, {"name", nullptr}}, json(nullptr), json::array()}) {
    try {
      (void)parse_irvelo_health(j);
      ADD_FAILURE() << "accepted " << j.dump();
    } catch (const DecodeError& e) {
      EXPECT_STREQ(e.what(), "not irvelo") << j.dump();
    }
  }
}

// ---- projects ---------------------------------------------------------------

TEST(ParseProjects, FieldsDefaultsAndOrder) {
  const json j = json::parse(R"({"data": [
    {"id": "p1", "name": "Website", "color": "#123456", "clientName": "Acme", "billableByDefault": true,
     "tasks": [{"id": "t1", "name": "Design"}, {"id": "t2", "name": "Build"}], "favorite": true},
    {"id": "p2", "name": "Internal", "color": null, "clientName": null, "tasks": null},
    {"id": "p3", "name": "Odd", "tasks": {"id": "t", "name": "x"}}
  ]})");
  const auto projects = parse_projects(j);
  ASSERT_EQ(projects.size(), 3u);
  EXPECT_EQ(projects[0].id, "p1");
  EXPECT_EQ(projects[0].color, "#123456");
  EXPECT_EQ(projects[0].client_name, std::optional<std::string>("Acme"));
  EXPECT_TRUE(projects[0].billable_by_default);
  ASSERT_EQ(projects[0].tasks.size(), 2u);
  EXPECT_EQ(projects[0].tasks[1].name, "Build");
  EXPECT_TRUE(projects[0].favorite);
  EXPECT_EQ(projects[1].color, "#9e9e9e");
  EXPECT_FALSE(projects[1].client_name.has_value());
  EXPECT_FALSE(projects[1].billable_by_default);
  EXPECT_TRUE(projects[1].tasks.empty());
  EXPECT_FALSE(projects[1].favorite);
  EXPECT_TRUE(projects[2].tasks.empty());
}

TEST(ParseProjects, Failures) {
  EXPECT_ANY_THROW((void)parse_projects(json::object()));
  EXPECT_ANY_THROW((void)parse_projects(json::array()));
  EXPECT_ANY_THROW((void)parse_projects(json::parse(R"({"data": [{"id": "p1"}]})")));
  EXPECT_ANY_THROW(
      (void)parse_projects(json::parse(R"({"data": [{"id": "p1", "name": "x", "tasks": [{"id": "t"}]}]})")));
  EXPECT_ANY_THROW((void)parse_projects(json::parse(R"({"data": [{"id": "p1", "name": "x", "favorite": "yes"}]})")));
  EXPECT_ANY_THROW((void)parse_projects(json::parse(R"({"data": [{"id": "p1", "name": "x", "clientName": 4}]})")));
  EXPECT_TRUE(parse_projects(json::parse(R"({"data": null})")).empty());
  EXPECT_TRUE(parse_projects(json::parse(R"({"data": []})")).empty());
}

// ---- bootstrap ----------------------------------------------------------------

TEST(ParseBootstrap, FullAnswer) {
  const Bootstrap b = parse_bootstrap(bootstrap_json());
  EXPECT_EQ(b.workspace_id, "w1");
  EXPECT_EQ(b.workspace_name, "Studio");
  EXPECT_EQ(b.workspace_slug, "studio");
  EXPECT_EQ(b.duration_format, "decimal");
  EXPECT_EQ(b.workspace_time_zone, "Europe/Berlin");
  EXPECT_EQ(b.role, "admin");
  EXPECT_EQ(b.time_zone, "Europe/Paris");
  EXPECT_EQ(b.week_start, 0);
  EXPECT_EQ(b.time_format, "h12");
  EXPECT_EQ(b.date_format, "dmy");
  EXPECT_TRUE(b.rules.require_project);
  EXPECT_FALSE(b.rules.require_task);
  EXPECT_TRUE(b.rules.require_tag);
  EXPECT_TRUE(b.rules.require_description);
  EXPECT_TRUE(b.rules.force_timer);
  EXPECT_EQ(b.rules.lock_before, std::optional<std::string>("2024-01-01"));
  EXPECT_TRUE(b.rules.members_can_change_billable);
  EXPECT_TRUE(b.can_create_projects);
  EXPECT_FALSE(b.can_create_tags);
  EXPECT_TRUE(b.can_change_billable);
  ASSERT_TRUE(b.running.has_value());
  EXPECT_EQ(b.running->id, "r1");
  EXPECT_FALSE(b.running->end_at.has_value());
  ASSERT_EQ(b.entries.size(), 1u);
  EXPECT_EQ(b.entries[0].duration_seconds, std::optional<std::int64_t>(3600));
  EXPECT_EQ(b.week_from, "2024-03-04");
  EXPECT_EQ(b.week_to, "2024-03-10");
}

TEST(ParseBootstrap, Defaults) {
  const json j = json::parse(R"({
    "workspace": {"id": "w1", "name": "Studio", "slug": "studio"},
    "viewer": {},
    "rules": {"requiredFields": {}},
    "can": {},
    "entries": [],
    "week": {"from": "a", "to": "b"}
  })");
  const Bootstrap b = parse_bootstrap(j);
  EXPECT_EQ(b.duration_format, "full");
  EXPECT_EQ(b.workspace_time_zone, "UTC");
  EXPECT_EQ(b.role, "member");
  EXPECT_EQ(b.time_zone, "UTC");
  EXPECT_EQ(b.week_start, 1);
  EXPECT_EQ(b.time_format, "h24");
  EXPECT_EQ(b.date_format, "");
  EXPECT_FALSE(b.rules.require_project);
  EXPECT_FALSE(b.rules.force_timer);
  EXPECT_FALSE(b.rules.lock_before.has_value());
  EXPECT_FALSE(b.can_change_billable);
  EXPECT_FALSE(b.running.has_value());
  EXPECT_TRUE(b.entries.empty());
}

TEST(ParseBootstrap, ViewerWithoutZoneTakesTheWorkspaceZone) {
  json j = bootstrap_json();
  j["viewer"].erase("timeZone");
  EXPECT_EQ(parse_bootstrap(j).time_zone, "Europe/Berlin");
  j["viewer"]["timeZone"] = nullptr;
  EXPECT_EQ(parse_bootstrap(j).time_zone, "Europe/Berlin");
}

TEST(ParseBootstrap, RunningIsOptional) {
  json j = bootstrap_json();
  j.erase("running");
  EXPECT_FALSE(parse_bootstrap(j).running.has_value());
  j["running"] = nullptr;
  EXPECT_FALSE(parse_bootstrap(j).running.has_value());
  j["running"] = json{{"id", "r"}};  // no startAt
  EXPECT_ANY_THROW((void)parse_bootstrap(j));
}

// Each row removes or replaces one part of a valid bootstrap; it must then fail.
TEST(ParseBootstrap, RejectedAnswers) {
  struct Row {
    const char* what;
    void (*change)(json&);
  };
  const Row rows[] = {
      {"no can", [](json& j) { j.erase("can"); }},
      {"no requiredFields", [](json& j) { j["rules"].erase("requiredFields"); }},
      {"rules not an object", [](json& j) { j["rules"] = json::array(); }},
      {"rules null", [](json& j) { j["rules"] = nullptr; }},
      {"no rules", [](json& j) { j.erase("rules"); }},
      {"no workspace", [](json& j) { j.erase("workspace"); }},
      {"no workspace slug", [](json& j) { j["workspace"].erase("slug"); }},
      {"no viewer", [](json& j) { j.erase("viewer"); }},
      {"viewer a string", [](json& j) { j["viewer"] = "me"; }},
      {"no entries", [](json& j) { j.erase("entries"); }},
      {"entries an object", [](json& j) { j["entries"] = json::object(); }},
      {"bad entry",
       [](json& j) {
         j["entries"].push_back(json{{"id", "x"}, {"startAt", "never"}});
       }},
      {"no week", [](json& j) { j.erase("week"); }},
      {"no week.to", [](json& j) { j["week"].erase("to"); }},
      {"week.from null", [](json& j) { j["week"]["from"] = nullptr; }},
      {"weekStart a string", [](json& j) { j["viewer"]["weekStart"] = "1"; }},
      {"weekStart 1e10", [](json& j) { j["viewer"]["weekStart"] = 1e10; }},
      {"forceTimer a number", [](json& j) { j["rules"]["forceTimer"] = 1; }},
      {"lockBefore a number", [](json& j) { j["rules"]["lockBefore"] = 1; }},
      {"required project a string", [](json& j) { j["rules"]["requiredFields"]["project"] = "true"; }},
      {"changeBillable a string", [](json& j) { j["can"]["changeBillable"] = "yes"; }},
      {"durationFormat a number", [](json& j) { j["workspace"]["durationFormat"] = 2; }},
  };
  for (const auto& row : rows) {
    json j = bootstrap_json();
    row.change(j);
    EXPECT_ANY_THROW((void)parse_bootstrap(j)) << row.what;
  }
  EXPECT_ANY_THROW((void)parse_bootstrap(nullptr));
}

TEST(ParseBootstrap, EntryDurationOutOfRangeFailsTheAnswer) {
  json j = bootstrap_json();
  j["entries"][0]["durationSeconds"] = 1e19;
  EXPECT_THROW((void)parse_bootstrap(j), DecodeError);
}

// ---- running -----------------------------------------------------------------

TEST(RunningOf, KeyRequiredNullMeansNone) {
  EXPECT_ANY_THROW((void)running_of(json::object()));
  EXPECT_ANY_THROW((void)running_of(nullptr));
  EXPECT_ANY_THROW((void)running_of(json::array()));
  EXPECT_FALSE(running_of(json{{"running", nullptr}}).has_value());
  const auto r = running_of(json{{"running", {{"id", "r"}, {"startAt", "2024-03-04T09:00:00Z"}}}});
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->id, "r");
  EXPECT_ANY_THROW((void)running_of(json{{"running", "r"}}));
  EXPECT_ANY_THROW((void)running_of(json{{"running", {{"id", "r"}}}}));
}

TEST(IgnoreAnswer, AcceptsAnything) {
  EXPECT_NO_THROW((void)ignore_answer(nullptr));
  EXPECT_NO_THROW((void)ignore_answer(json::array()));
  EXPECT_NO_THROW((void)ignore_answer(json{{"x", 1}}));
}

}  // namespace
}  // namespace irvelo::api
