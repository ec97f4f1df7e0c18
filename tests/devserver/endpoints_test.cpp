// Authentication and the answer shapes of the read endpoints.

#include <glib.h>

#include <set>

#include "fixture.hpp"

namespace irvelo::test {

std::int64_t instant(const std::string& text) {
  GDateTime* dt = g_date_time_new_from_iso8601(text.c_str(), nullptr);
  if (dt == nullptr) return -1;
  const std::int64_t t = g_date_time_to_unix(dt);
  g_date_time_unref(dt);
  return t;
}

std::int64_t now_seconds() {
  return g_get_real_time() / G_USEC_PER_SEC;
}

namespace {

using nlohmann::json;

void expect_envelope(const Reply& r, int status, const std::string& code) {
  EXPECT_EQ(r.status, status) << r.body;
  EXPECT_EQ(r.content_type, "application/json");
  const json j = json::parse(r.body, nullptr, false);
  ASSERT_TRUE(j.is_object()) << r.body;
  ASSERT_TRUE(j.contains("error")) << r.body;
  EXPECT_EQ(j["error"]["code"], code) << r.body;
  EXPECT_TRUE(j["error"]["message"].is_string()) << r.body;
}

void expect_entry_shape(const json& e) {
  ASSERT_TRUE(e.is_object());
  EXPECT_TRUE(e["id"].is_string());
  EXPECT_TRUE(e["description"].is_string());
  ASSERT_TRUE(e["startAt"].is_string());
  EXPECT_GT(instant(e["startAt"]), 0) << e["startAt"];
  EXPECT_TRUE(e["isBillable"].is_boolean());
  EXPECT_TRUE(e["isLocked"].is_boolean());
  EXPECT_TRUE(e["tags"].is_array());
  if (e["endAt"].is_null()) {
    EXPECT_TRUE(e["durationSeconds"].is_null());
  } else {
    const std::int64_t end = instant(e["endAt"]);
    EXPECT_GE(end, instant(e["startAt"]));
    EXPECT_EQ(e["durationSeconds"], end - instant(e["startAt"]));
  }
  if (!e["project"].is_null()) {
    EXPECT_TRUE(e["project"]["id"].is_string());
    EXPECT_TRUE(e["project"]["name"].is_string());
    EXPECT_TRUE(e["project"]["color"].is_string());
  }
  if (!e["task"].is_null()) {
    EXPECT_FALSE(e["project"].is_null()) << "a task without a project";
    EXPECT_TRUE(e["task"]["id"].is_string());
    EXPECT_TRUE(e["task"]["name"].is_string());
  }
  for (const auto& t : e["tags"]) {
    EXPECT_TRUE(t["id"].is_string());
    EXPECT_TRUE(t["name"].is_string());
  }
}

TEST_F(DevServerTest, HealthNeedsNoKey) {
  const Reply r = http.get(url("/api/health"));
  ASSERT_EQ(r.status, 200);
  const json j = r.json();
  EXPECT_EQ(j["ok"], true);
  EXPECT_EQ(j["name"], "irvelo");
  EXPECT_FALSE(j["version"].get<std::string>().empty());
}

TEST_F(DevServerTest, EveryAuthenticatedCallRefusesMissingOrBadKeys) {
  struct Row {
    const char* method;
    std::string path;
  };
  const std::vector<Row> rows = {
      {"GET", "/api/v1/me"},
      {"GET", "/api/v1/workspaces/" + alpha + "/bootstrap"},
      {"GET", "/api/v1/workspaces/" + alpha + "/projects"},
      {"GET", "/api/v1/workspaces/" + alpha + "/time-entries/running"},
      {"POST", "/api/v1/workspaces/" + alpha + "/timer/start"},
      {"POST", "/api/v1/workspaces/" + alpha + "/timer/stop"},
      {"DELETE", "/api/v1/workspaces/" + alpha + "/timer"},
      {"PATCH", "/api/v1/workspaces/" + alpha + "/time-entries/te_1000"},
      {"POST", "/api/v1/workspaces/" + alpha + "/time-entries/te_1000/continue"},
      {"DELETE", "/api/v1/extension/token"},
      {"GET", "/api/v1/no-such-call"},
  };
  for (const auto& row : rows) {
    for (const std::optional<std::string>& auth :
         {std::optional<std::string>(), std::optional<std::string>("Bearer iv_wrong"),
          std::optional<std::string>("Basic " + key), std::optional<std::string>("Bearer ")}) {
      Call c;
      c.method = row.method;
      c.url = url(row.path);
      if (auth) c.headers["Authorization"] = *auth;
      if (c.method == "POST" || c.method == "PATCH") c.body = "{}";
      SCOPED_TRACE(std::string(row.method) + " " + row.path + " with " + auth.value_or("no Authorization"));
      expect_envelope(http.send(c), 401, "UNAUTHENTICATED");
    }
  }
  // Nothing changed: the seeded key still works.
  EXPECT_EQ(get("/api/v1/me").status, 200);
}

TEST_F(DevServerTest, MeListsTheUserAndMembershipsInOrder) {
  const Reply r = get("/api/v1/me");
  ASSERT_EQ(r.status, 200) << r.body;
  const json j = r.json();
  const json& u = j["user"];
  for (const char* k : {"id", "email", "name", "timeZone", "dateFormat", "timeFormat", "locale"})
    EXPECT_TRUE(u[k].is_string()) << k;
  EXPECT_EQ(u["weekStart"], 1);
  ASSERT_EQ(j["workspaces"].size(), 3u);
  std::vector<std::string> ids;
  for (const auto& m : j["workspaces"]) {
    for (const char* k : {"workspaceId", "memberId", "name", "slug", "role"}) EXPECT_TRUE(m[k].is_string()) << k;
    ids.push_back(m["workspaceId"]);
  }
  EXPECT_EQ(ids, server->workspace_ids());
  EXPECT_NE(j["workspaces"][0]["role"], "client");
  EXPECT_NE(j["workspaces"][1]["role"], "client");
  EXPECT_EQ(j["workspaces"][2]["role"], "client");
}

TEST_F(DevServerTest, BootstrapHasEveryKeyTheClientReads) {
  const Reply r = bootstrap(alpha);
  ASSERT_EQ(r.status, 200) << r.body;
  const json j = r.json();
  for (const char* k : {"id", "name", "slug", "durationFormat", "timeZone"})
    EXPECT_TRUE(j["workspace"][k].is_string()) << k;
  EXPECT_EQ(j["workspace"]["id"], alpha);
  for (const char* k : {"role", "timeZone", "timeFormat", "dateFormat"}) EXPECT_TRUE(j["viewer"][k].is_string()) << k;
  EXPECT_TRUE(j["viewer"]["weekStart"].is_number_integer());
  for (const char* k : {"project", "task", "tag", "description"})
    EXPECT_TRUE(j["rules"]["requiredFields"][k].is_boolean()) << k;
  EXPECT_TRUE(j["rules"]["membersCanChangeBillable"].is_boolean());
  for (const char* k : {"createProjects", "createTags", "changeBillable"}) EXPECT_TRUE(j["can"][k].is_boolean()) << k;
  ASSERT_TRUE(j.contains("running"));
  EXPECT_TRUE(j["running"].is_null());
  ASSERT_TRUE(j["entries"].is_array());
  EXPECT_TRUE(j["week"]["from"].is_string());
  EXPECT_TRUE(j["week"]["to"].is_string());
}

TEST_F(DevServerTest, BootstrapEntriesAreTheViewersOwnOfThisWeekNewestFirst) {
  const json j = bootstrap(alpha).json();
  // The week: seven days in the viewer's zone, containing today.
  GDateTime* from =
      g_date_time_new_from_iso8601((j["week"]["from"].get<std::string>() + "T00:00:00Z").c_str(), nullptr);
  GDateTime* to = g_date_time_new_from_iso8601((j["week"]["to"].get<std::string>() + "T00:00:00Z").c_str(), nullptr);
  ASSERT_NE(from, nullptr);
  ASSERT_NE(to, nullptr);
  EXPECT_EQ(g_date_time_difference(to, from) / G_TIME_SPAN_DAY, 6);
  EXPECT_EQ(g_date_time_get_day_of_week(from), 1);  // weekStart 1: Monday
  const std::int64_t begin = g_date_time_to_unix(from);
  const std::int64_t end = g_date_time_to_unix(to) + 86400;
  g_date_time_unref(from);
  g_date_time_unref(to);
  EXPECT_LE(begin, now_seconds());
  EXPECT_GT(end, now_seconds());

  std::int64_t previous = INT64_MAX;
  for (const auto& e : j["entries"]) {
    expect_entry_shape(e);
    const std::int64_t start = instant(e["startAt"]);
    EXPECT_GE(start, begin);
    EXPECT_LT(start, end);
    EXPECT_LE(start, previous) << "not newest first";
    previous = start;
    EXPECT_EQ(e["userId"], "u_test") << "another member's entry leaked";
    EXPECT_FALSE(e["endAt"].is_null()) << "the seed has no running timer of the viewer";
  }
  // The test seed's three entries, whatever the time of the week.
  EXPECT_EQ(j["entries"].size(), 3u);
}

TEST_F(DevServerTest, BootstrapReflectsRulesAndBillablePermission) {
  json j = bootstrap(alpha).json();
  EXPECT_EQ(j["rules"]["requiredFields"]["project"], false);
  EXPECT_EQ(j["can"]["changeBillable"], true);
  server->set_rules(alpha, true, true, true);
  server->set_can_change_billable(alpha, false);
  j = bootstrap(alpha).json();
  EXPECT_EQ(j["rules"]["requiredFields"]["project"], true);
  EXPECT_EQ(j["rules"]["requiredFields"]["task"], true);
  EXPECT_EQ(j["rules"]["requiredFields"]["description"], true);
  EXPECT_EQ(j["can"]["changeBillable"], false);
  EXPECT_THROW(server->set_rules("ws_none", true, false, false), std::out_of_range);
  EXPECT_THROW(server->set_can_change_billable("ws_none", true), std::out_of_range);
}

TEST_F(DevServerTest, ProjectsComeInTheDataEnvelope) {
  const Reply r = get("/api/v1/workspaces/" + alpha + "/projects");
  ASSERT_EQ(r.status, 200) << r.body;
  const json j = r.json();
  ASSERT_TRUE(j["data"].is_array());
  ASSERT_FALSE(j["data"].empty());
  bool with_tasks = false, without_client = false, favorite = false;
  for (const auto& p : j["data"]) {
    EXPECT_TRUE(p["id"].is_string());
    EXPECT_TRUE(p["name"].is_string());
    EXPECT_EQ(p["color"].get<std::string>().rfind('#', 0), 0u);
    EXPECT_TRUE(p["billableByDefault"].is_boolean());
    EXPECT_TRUE(p["favorite"].is_boolean());
    ASSERT_TRUE(p["tasks"].is_array());
    for (const auto& t : p["tasks"]) {
      EXPECT_TRUE(t["id"].is_string());
      EXPECT_TRUE(t["name"].is_string());
    }
    with_tasks |= !p["tasks"].empty();
    without_client |= p["clientName"].is_null();
    favorite |= p["favorite"].get<bool>();
  }
  EXPECT_TRUE(with_tasks);
  EXPECT_TRUE(without_client);
  EXPECT_TRUE(favorite);
}

TEST_F(DevServerTest, RunningIsNullWithoutATimer) {
  const Reply r = running(alpha);
  ASSERT_EQ(r.status, 200);
  const json j = r.json();
  ASSERT_TRUE(j.contains("running"));
  EXPECT_TRUE(j["running"].is_null());
}

TEST_F(DevServerTest, UnknownWorkspacePathAndMethod) {
  expect_envelope(get("/api/v1/workspaces/ws_none/bootstrap"), 404, "NOT_FOUND");
  expect_envelope(get("/api/v1/workspaces/a%2Fb/bootstrap"), 404, "NOT_FOUND");
  expect_envelope(get("/api/v1/workspaces/" + alpha + "/nothing"), 404, "NOT_FOUND");
  expect_envelope(get("/api/v2/me"), 404, "NOT_FOUND");
  expect_envelope(http.post(url("/api/v1/me"), "{}", key), 405, "METHOD_NOT_ALLOWED");
  expect_envelope(http.del(ws(alpha, "/bootstrap"), key), 405, "METHOD_NOT_ALLOWED");
  // The log keeps the path as received; identifiers are decoded per segment.
  EXPECT_EQ(server->requests()[1].path, "/api/v1/workspaces/a%2Fb/bootstrap");
  EXPECT_EQ(get("/api/v1/workspaces/ws%5Falpha/bootstrap").status, 200);
}

TEST_F(DevServerTest, ClientRoleReadsButCannotTrack) {
  const json b = bootstrap(client_ws).json();
  EXPECT_EQ(b["viewer"]["role"], "client");
  EXPECT_EQ(b["can"]["changeBillable"], false);
  EXPECT_TRUE(b["entries"].empty());
  EXPECT_EQ(get("/api/v1/workspaces/" + client_ws + "/projects").status, 200);
  EXPECT_TRUE(running(client_ws).json()["running"].is_null());
  const std::string project = get("/api/v1/workspaces/" + client_ws + "/projects").json()["data"][0]["id"];
  expect_envelope(start(client_ws, start_body("x", project.c_str())), 403, "FORBIDDEN");
  expect_envelope(stop(client_ws), 403, "FORBIDDEN");
  expect_envelope(http.del(ws(client_ws, "/timer"), key), 403, "FORBIDDEN");
  expect_envelope(http.patch(ws(client_ws, "/time-entries/te_1"), "{}", key), 403, "FORBIDDEN");
  expect_envelope(http.post(ws(client_ws, "/time-entries/te_1/continue"), "{}", key), 403, "FORBIDDEN");
}

TEST_F(DevServerTest, UnknownSeedAndTakenPortAreRefused) {
  devserver::DevServer::Options bad_seed;
  bad_seed.seed = "nope";
  EXPECT_THROW(devserver::DevServer{bad_seed}, std::invalid_argument);
  devserver::DevServer::Options taken;
  taken.port = server->port();
  EXPECT_THROW(devserver::DevServer{taken}, std::runtime_error);
}

TEST(DevServerDemo, LooksLikeARealAccount) {
  devserver::DevServer::Options options;
  options.seed = "demo";
  devserver::DevServer server(options);
  Http http;
  const std::string key = server.api_key();
  EXPECT_EQ(key.rfind("iv_", 0), 0u);
  const json me = http.get(server.base_url() + "/api/v1/me", key).json();
  ASSERT_EQ(me["workspaces"].size(), 3u);
  int clients = 0;
  for (const auto& m : me["workspaces"]) clients += m["role"] == "client";
  EXPECT_EQ(clients, 1);
  EXPECT_EQ(me["workspaces"][2]["role"], "client");

  const std::string ws = me["workspaces"][0]["workspaceId"];
  const json projects = http.get(server.base_url() + "/api/v1/workspaces/" + ws + "/projects", key).json()["data"];
  EXPECT_GE(projects.size(), 12u);
  std::set<std::string> client_names, colors;
  int favorites = 0, with_tasks = 0;
  for (const auto& p : projects) {
    if (p["clientName"].is_string()) client_names.insert(p["clientName"]);
    colors.insert(p["color"]);
    favorites += p["favorite"].get<bool>();
    with_tasks += !p["tasks"].empty();
  }
  EXPECT_EQ(client_names.size(), 3u);
  EXPECT_GE(colors.size(), 10u);
  EXPECT_GE(favorites, 3);
  EXPECT_GE(with_tasks, 6);

  const json b = http.get(server.base_url() + "/api/v1/workspaces/" + ws + "/bootstrap", key).json();
  // Today always has entries, whatever the hour.
  ASSERT_GE(b["entries"].size(), 2u);
  std::set<std::string> descriptions;
  for (const auto& e : b["entries"]) {
    expect_entry_shape(e);
    descriptions.insert(e["description"]);
    EXPECT_LE(instant(e["endAt"]), now_seconds());
  }
  EXPECT_GE(descriptions.size(), 2u);
  EXPECT_TRUE(b["running"].is_null());
  // The second workspace tracks too, under rules.
  const std::string second = me["workspaces"][1]["workspaceId"];
  const json b2 = http.get(server.base_url() + "/api/v1/workspaces/" + second + "/bootstrap", key).json();
  EXPECT_EQ(b2["rules"]["requiredFields"]["project"], true);
}

}  // namespace
}  // namespace irvelo::test
