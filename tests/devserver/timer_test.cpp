// Timer start, stop, discard, continue and PATCH, and the validation answers.

#include "fixture.hpp"

namespace irvelo::test {
namespace {

using nlohmann::json;

json field_errors(const Reply& r) {
  EXPECT_EQ(r.status, 422) << r.body;
  const json j = json::parse(r.body, nullptr, false);
  if (!j.is_object() || !j.contains("error")) return json::object();
  EXPECT_EQ(j["error"]["code"], "VALIDATION");
  EXPECT_TRUE(j["error"]["message"].is_string());
  return j["error"].value("fieldErrors", json::object());
}

std::set<std::string> keys_of(const json& object) {
  std::set<std::string> out;
  for (const auto& [k, v] : object.items()) {
    out.insert(k);
    EXPECT_TRUE(v.is_array()) << k;
    for (const auto& m : v) EXPECT_TRUE(m.is_string()) << k;
  }
  return out;
}

json find_entry(const json& bootstrap, const std::string& id) {
  for (const auto& e : bootstrap["entries"])
    if (e["id"] == id) return e;
  return nullptr;
}

TEST_F(DevServerTest, StartAnswersTheRunningEntry) {
  const std::int64_t before = now_seconds();
  const Reply r = start(alpha, start_body("Homepage", "p_website", "t_design"));
  ASSERT_EQ(r.status / 100, 2) << r.body;
  const json e = r.json()["running"];
  ASSERT_TRUE(e.is_object()) << r.body;
  EXPECT_EQ(e["description"], "Homepage");
  EXPECT_EQ(e["project"]["id"], "p_website");
  EXPECT_EQ(e["project"]["name"], "Website");
  EXPECT_EQ(e["project"]["clientName"], "Acme Corp");
  EXPECT_EQ(e["task"]["id"], "t_design");
  EXPECT_EQ(e["task"]["name"], "Design");
  EXPECT_TRUE(e["endAt"].is_null());
  EXPECT_TRUE(e["durationSeconds"].is_null());
  EXPECT_EQ(e["isBillable"], true) << "the project's billable default";
  const std::int64_t started = instant(e["startAt"]);
  EXPECT_GE(started, before);
  EXPECT_LE(started, now_seconds());

  const json now_running = running(alpha).json()["running"];
  EXPECT_EQ(now_running["id"], e["id"]);
  EXPECT_EQ(bootstrap(alpha).json()["running"]["id"], e["id"]);
  // Another workspace has its own timer.
  EXPECT_TRUE(running(beta).json()["running"].is_null());
}

TEST_F(DevServerTest, StartWithoutProjectAndExplicitBillable) {
  json body = start_body("");
  body["isBillable"] = true;
  const json e = start(alpha, body).json()["running"];
  EXPECT_EQ(e["description"], "");
  EXPECT_TRUE(e["project"].is_null());
  EXPECT_TRUE(e["task"].is_null());
  EXPECT_EQ(e["isBillable"], true);
  body = start_body("", "p_website");
  body["isBillable"] = false;
  EXPECT_EQ(start(alpha, body).json()["running"]["isBillable"], false);
}

TEST_F(DevServerTest, BillableFlagIsRefusedWithoutPermission) {
  server->set_can_change_billable(alpha, false);
  json body = start_body("x");
  body["isBillable"] = true;
  const Reply r = start(alpha, body);
  EXPECT_EQ(r.status, 403) << r.body;
  EXPECT_EQ(r.json()["error"]["code"], "FORBIDDEN");
  EXPECT_TRUE(running(alpha).json()["running"].is_null());
  // Without the key the project's default applies.
  EXPECT_EQ(start(alpha, start_body("x", "p_website")).json()["running"]["isBillable"], true);
}

TEST_F(DevServerTest, StartingWhileATimerRunsEndsTheOldOne) {
  const std::string first = start(alpha, start_body("first", "p_internal")).json()["running"]["id"];
  const json second = start(alpha, start_body("second", "p_research")).json()["running"];
  EXPECT_NE(second["id"], first);
  EXPECT_EQ(running(alpha).json()["running"]["id"], second["id"]);
  const json b = bootstrap(alpha).json();
  const json old = find_entry(b, first);
  ASSERT_TRUE(old.is_object()) << "the stopped entry is one of the week's entries";
  EXPECT_FALSE(old["endAt"].is_null());
  EXPECT_LE(instant(old["endAt"]), instant(second["startAt"]));
  EXPECT_EQ(old["durationSeconds"], instant(old["endAt"]) - instant(old["startAt"]));
  int running_entries = 0;
  for (const auto& e : b["entries"]) running_entries += e["endAt"].is_null();
  EXPECT_LE(running_entries, 1);
}

TEST_F(DevServerTest, MissingRequiredFieldsGiveFieldErrorsUnderRequestNames) {
  // Beta requires description, project and task.
  EXPECT_EQ(keys_of(field_errors(start(beta, start_body("  ")))), (std::set<std::string>{"description", "projectId"}));
  EXPECT_EQ(keys_of(field_errors(start(beta, start_body("Work", "p_app")))), (std::set<std::string>{"taskId"}));
  // A required task is only demanded when the project has tasks.
  EXPECT_EQ(start(beta, start_body("Work", "p_ops")).status / 100, 2);
  EXPECT_EQ(start(beta, start_body("Work", "p_app", "t_dev")).status / 100, 2);
  // Rules set from the test apply at once.
  server->set_rules(alpha, false, false, true);
  EXPECT_EQ(keys_of(field_errors(start(alpha, start_body("")))), (std::set<std::string>{"description"}));
  server->set_rules(alpha, false, false, false);
  EXPECT_EQ(start(alpha, start_body("")).status / 100, 2);
}

TEST_F(DevServerTest, FailedValidationLeavesTheRunningTimer) {
  const std::string id = start(beta, start_body("Work", "p_ops")).json()["running"]["id"];
  field_errors(start(beta, start_body("")));
  EXPECT_EQ(running(beta).json()["running"]["id"], id);
}

TEST_F(DevServerTest, UnknownReferencesAndBadTypesAre422) {
  EXPECT_EQ(keys_of(field_errors(start(alpha, start_body("x", "p_nope")))), (std::set<std::string>{"projectId"}));
  EXPECT_EQ(keys_of(field_errors(start(alpha, start_body("x", "p_research", "t_design")))),
            (std::set<std::string>{"taskId"}));
  EXPECT_EQ(keys_of(field_errors(start(alpha, start_body("x", nullptr, "t_design")))),
            (std::set<std::string>{"taskId"}));
  EXPECT_EQ(keys_of(field_errors(start(alpha, {{"description", 5}, {"tagIds", json::array({"tag_nope"})}}))),
            (std::set<std::string>{"description", "tagIds"}));
  EXPECT_TRUE(running(alpha).json()["running"].is_null());
}

TEST_F(DevServerTest, BodiesMustBeJsonObjects) {
  Call c;
  c.method = "POST";
  c.url = ws(alpha, "/timer/start");
  c.headers["Authorization"] = "Bearer " + key;
  c.body = "{not json";
  Reply r = http.send(c);
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(r.json()["error"]["code"], "BAD_REQUEST");
  c.body = "[1,2]";
  EXPECT_EQ(http.send(c).status, 400);
  c.body = "{}";
  c.content_type = "text/plain";
  r = http.send(c);
  EXPECT_EQ(r.status, 415);
  EXPECT_EQ(r.json()["error"]["code"], "UNSUPPORTED_MEDIA_TYPE");
}

TEST_F(DevServerTest, StopAnswersTheStoppedEntryThenNothing) {
  const std::string id = start(alpha, start_body("x")).json()["running"]["id"];
  Reply r = stop(alpha);
  ASSERT_EQ(r.status, 200) << r.body;
  json e = r.json();
  EXPECT_EQ(e["id"], id);
  EXPECT_FALSE(e["endAt"].is_null());
  EXPECT_TRUE(running(alpha).json()["running"].is_null());
  EXPECT_TRUE(find_entry(bootstrap(alpha).json(), id).is_object());
  r = stop(alpha);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.json(), json::object());
  // The client sends {} but an empty body is accepted too.
  EXPECT_EQ(http.post(ws(alpha, "/timer/stop"), "", key).status, 200);
}

TEST_F(DevServerTest, DiscardForgetsTheRunningEntry) {
  const std::string id = start(alpha, start_body("oops")).json()["running"]["id"];
  Reply r = http.del(ws(alpha, "/timer"), key);
  EXPECT_EQ(r.status, 204);
  EXPECT_TRUE(r.body.empty());
  EXPECT_TRUE(running(alpha).json()["running"].is_null());
  EXPECT_TRUE(find_entry(bootstrap(alpha).json(), id).is_null());
  EXPECT_EQ(http.del(ws(alpha, "/timer"), key).status, 204);
}

TEST_F(DevServerTest, PatchChangesOnlyTheSentFields) {
  const json started = start(alpha, start_body("before", "p_website", "t_design")).json()["running"];
  const std::string path = "/time-entries/" + started["id"].get<std::string>();
  Reply r = http.patch(ws(alpha, path), json{{"description", "after"}}.dump(), key);
  ASSERT_EQ(r.status, 200) << r.body;
  json e = running(alpha).json()["running"];
  EXPECT_EQ(e["description"], "after");
  EXPECT_EQ(e["project"]["id"], "p_website");
  EXPECT_EQ(e["task"]["id"], "t_design");
  EXPECT_EQ(e["startAt"], started["startAt"]);

  r = http.patch(ws(alpha, path), json{{"taskId", "t_build"}, {"isBillable", false}}.dump(), key);
  ASSERT_EQ(r.status, 200) << r.body;
  e = running(alpha).json()["running"];
  EXPECT_EQ(e["task"]["id"], "t_build");
  EXPECT_EQ(e["isBillable"], false);

  // A new project drops the old project's task.
  r = http.patch(ws(alpha, path), json{{"projectId", "p_research"}}.dump(), key);
  ASSERT_EQ(r.status, 200) << r.body;
  e = running(alpha).json()["running"];
  EXPECT_EQ(e["project"]["id"], "p_research");
  EXPECT_TRUE(e["task"].is_null());

  r = http.patch(ws(alpha, path), json{{"projectId", nullptr}, {"taskId", nullptr}}.dump(), key);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_TRUE(running(alpha).json()["running"]["project"].is_null());
}

TEST_F(DevServerTest, PatchRefusesUnknownEntriesAndBadValues) {
  Reply r = http.patch(ws(alpha, "/time-entries/te_nope"), json{{"description", "x"}}.dump(), key);
  EXPECT_EQ(r.status, 404);
  EXPECT_EQ(r.json()["error"]["code"], "NOT_FOUND");
  const std::string id = start(beta, start_body("Work", "p_app", "t_dev")).json()["running"]["id"];
  const std::string path = "/time-entries/" + id;
  EXPECT_EQ(keys_of(field_errors(http.patch(ws(beta, path), json{{"projectId", "p_nope"}}.dump(), key))),
            (std::set<std::string>{"projectId"}));
  EXPECT_EQ(keys_of(field_errors(http.patch(ws(beta, path), json{{"description", ""}}.dump(), key))),
            (std::set<std::string>{"description"}));
  EXPECT_EQ(keys_of(field_errors(http.patch(ws(beta, path), json{{"taskId", nullptr}}.dump(), key))),
            (std::set<std::string>{"taskId"}));
  r = http.patch(ws(beta, path), json{{"isBillable", false}}.dump(), key);
  EXPECT_EQ(r.status, 403) << "beta does not let members change the billable flag";
  const json e = running(beta).json()["running"];
  EXPECT_EQ(e["description"], "Work");
  EXPECT_EQ(e["task"]["id"], "t_dev");
  // An entry of another workspace, or another member's, is not found either.
  const json mine = bootstrap(alpha).json();
  EXPECT_EQ(http.patch(ws(beta, "/time-entries/" + mine["entries"][0]["id"].get<std::string>()), "{}", key).status,
            404);
  EXPECT_EQ(http.patch(ws(alpha, "/time-entries/te_1003"), "{}", key).status, 404) << "the other member's timer";
  EXPECT_EQ(http.post(ws(alpha, "/time-entries/te_1003/continue"), "{}", key).status, 404);
}

TEST_F(DevServerTest, ContinueStartsANewEntryLikeTheOldOne) {
  const json entries = bootstrap(alpha).json()["entries"];
  ASSERT_FALSE(entries.empty());
  json source;
  for (const auto& e : entries)
    if (!e["task"].is_null()) source = e;
  ASSERT_TRUE(source.is_object());
  const std::string other = start(alpha, start_body("in between", "p_internal")).json()["running"]["id"];

  const Reply r = http.post(ws(alpha, "/time-entries/" + source["id"].get<std::string>() + "/continue"), "{}", key);
  ASSERT_EQ(r.status / 100, 2) << r.body;
  const json e = r.json()["running"];
  EXPECT_NE(e["id"], source["id"]);
  EXPECT_NE(e["id"], other);
  EXPECT_EQ(e["description"], source["description"]);
  EXPECT_EQ(e["project"], source["project"]);
  EXPECT_EQ(e["task"], source["task"]);
  EXPECT_EQ(e["isBillable"], source["isBillable"]);
  EXPECT_TRUE(e["endAt"].is_null());
  EXPECT_GE(instant(e["startAt"]), now_seconds() - 5);
  EXPECT_EQ(running(alpha).json()["running"]["id"], e["id"]);
  // The timer that ran before has ended; the source entry is unchanged.
  const json b = bootstrap(alpha).json();
  EXPECT_FALSE(find_entry(b, other)["endAt"].is_null());
  EXPECT_EQ(find_entry(b, source["id"]), source);
}

TEST_F(DevServerTest, ContinueOfUnknownEntryIs404) {
  const Reply r = http.post(ws(alpha, "/time-entries/te_nope/continue"), "{}", key);
  EXPECT_EQ(r.status, 404);
  EXPECT_EQ(r.json()["error"]["code"], "NOT_FOUND");
  EXPECT_TRUE(running(alpha).json()["running"].is_null());
}

TEST_F(DevServerTest, ResetStateForgetsTimersAndAddedEntries) {
  const std::size_t seeded = bootstrap(alpha).json()["entries"].size();
  start(alpha, start_body("one"));
  start(alpha, start_body("two"));
  const std::string extra_key = server->add_api_key();
  server->set_rules(alpha, true, true, true);
  server->reset_state();
  const json b = bootstrap(alpha).json();
  EXPECT_TRUE(b["running"].is_null());
  EXPECT_EQ(b["entries"].size(), seeded);
  EXPECT_EQ(b["rules"]["requiredFields"]["project"], false);
  EXPECT_EQ(http.get(url("/api/v1/me"), extra_key).status, 200) << "keys survive a reset";
  EXPECT_EQ(get("/api/v1/me").status, 200);
}

}  // namespace
}  // namespace irvelo::test
