// Fault injection, the request log and the admin prefix.

#include <glib.h>

#include "fixture.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using nlohmann::json;

std::int64_t millis() {
  return g_get_monotonic_time() / 1000;
}

TEST_F(DevServerTest, StatusFaultAppliesToTheNextCountRequestsOfItsPath) {
  devserver::Fault f;
  f.status = 500;
  f.body = "<html>boom</html>";
  f.content_type = "text/html";
  f.count = 2;
  server->inject_fault("/api/v1/me", f);
  for (int i = 0; i < 2; ++i) {
    const Reply r = get("/api/v1/me");
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "<html>boom</html>");
    EXPECT_EQ(r.content_type, "text/html");
  }
  EXPECT_EQ(get("/api/v1/me").status, 200);
}

TEST_F(DevServerTest, FaultsMatchTheExactPathOnly) {
  devserver::Fault f;
  f.status = 503;
  server->inject_fault("/api/v1/workspaces/" + alpha + "/bootstrap", f);
  EXPECT_EQ(get("/api/v1/me").status, 200);
  EXPECT_EQ(get("/api/v1/workspaces/" + alpha + "/projects").status, 200);
  EXPECT_EQ(bootstrap(alpha).status, 503);
  EXPECT_EQ(bootstrap(alpha).status, 200);
}

TEST_F(DevServerTest, FaultsComeBeforeAuthenticationAndMayCarryAnyStatus) {
  devserver::Fault f;
  f.status = 204;
  f.body = "";
  server->inject_fault("/api/v1/workspaces/" + alpha + "/timer/stop", f);
  Reply r = http.post(ws(alpha, "/timer/stop"), "{}");  // no key
  EXPECT_EQ(r.status, 204);
  EXPECT_TRUE(r.body.empty());
  f.status = 200;
  f.body = "not json";
  server->inject_fault("/api/health", f);
  r = http.get(url("/api/health"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "not json");
}

TEST_F(DevServerTest, FaultsQueueInOrderAndWildcardsMatchPrefixes) {
  devserver::Fault a;
  a.status = 500;
  devserver::Fault b;
  b.status = 502;
  server->inject_fault("/api/v1/me", a);
  server->inject_fault("/api/v1/*", b);
  EXPECT_EQ(get("/api/v1/me").status, 500);
  EXPECT_EQ(get("/api/v1/me").status, 502);
  EXPECT_EQ(get("/api/v1/me").status, 200);
  devserver::Fault always;
  always.status = 418;
  always.count = -1;
  server->inject_fault("/api/v1/workspaces/*", always);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bootstrap(alpha).status, 418);
  EXPECT_EQ(get("/api/v1/me").status, 200);
  server->clear_faults();
  EXPECT_EQ(bootstrap(alpha).status, 200);
}

TEST_F(DevServerTest, DelayHoldsOneAnswerWithoutBlockingOthers) {
  devserver::Fault f;
  f.status = 0;  // the normal answer, late
  f.delay_ms = 600;
  server->inject_fault("/api/v1/me", f);
  Reply slow, fast;
  bool slow_done = false, fast_done = false;
  const std::int64_t begin = millis();
  Call c;
  c.url = url("/api/v1/me");
  c.headers["Authorization"] = "Bearer " + key;
  http.start(c, &slow, &slow_done);
  run_for(std::chrono::milliseconds(50));
  Call h;
  h.url = url("/api/health");
  http.start(h, &fast, &fast_done);
  ASSERT_TRUE(run_until([&] { return fast_done; }));
  EXPECT_FALSE(slow_done) << "the health answer came while /me was held";
  EXPECT_EQ(fast.status, 200);
  ASSERT_TRUE(run_until([&] { return slow_done; }));
  EXPECT_GE(millis() - begin, 550);
  EXPECT_EQ(slow.status, 200);
  EXPECT_EQ(slow.json()["user"]["id"], "u_test");
}

TEST_F(DevServerTest, DelayWithStatusAnswersTheFault) {
  devserver::Fault f;
  f.status = 500;
  f.delay_ms = 300;
  f.body = R"({"error":{"code":"LATE","message":"late"}})";
  server->inject_fault("/api/v1/me", f);
  const std::int64_t begin = millis();
  const Reply r = get("/api/v1/me");
  EXPECT_GE(millis() - begin, 280);
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.json()["error"]["code"], "LATE");
}

TEST_F(DevServerTest, DroppedConnectionGivesATransportError) {
  // A kept-alive connection first: the client must not retry the dropped request.
  ASSERT_EQ(get("/api/v1/me").status, 200);
  server->clear_requests();
  devserver::Fault f;
  f.drop_connection = true;
  server->inject_fault("/api/v1/me", f);
  Reply r = get("/api/v1/me");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.transport_error.has_value());
  EXPECT_EQ(server->requests().size(), 1u) << "the request was sent again";
  // Also after a delay, and the server goes on serving.
  f.delay_ms = 200;
  server->inject_fault("/api/v1/me", f);
  const std::int64_t begin = millis();
  r = get("/api/v1/me");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.transport_error.has_value());
  EXPECT_GE(millis() - begin, 180);
  EXPECT_EQ(get("/api/v1/me").status, 200);
}

TEST_F(DevServerTest, ClientGoingAwayDuringADelayHarmsNothing) {
  devserver::Fault f;
  f.status = 0;
  f.delay_ms = 300;
  server->inject_fault("/api/v1/me", f);
  Reply r;
  bool done = false;
  Call c;
  c.url = url("/api/v1/me");
  c.headers["Authorization"] = "Bearer " + key;
  http.start(c, &r, &done);
  run_for(std::chrono::milliseconds(50));
  http.cancel_all();
  ASSERT_TRUE(run_until([&] { return done; }));
  EXPECT_EQ(r.status, 0);
  run_for(std::chrono::milliseconds(400));  // the delay ends with nobody waiting
  EXPECT_EQ(get("/api/v1/me").status, 200);
}

TEST_F(DevServerTest, DestroyingTheServerDuringADelayEndsTheCall) {
  devserver::Fault f;
  f.status = 0;
  f.delay_ms = 5000;
  server->inject_fault("/api/v1/me", f);
  Reply r;
  bool done = false;
  Call c;
  c.url = url("/api/v1/me");
  http.start(c, &r, &done);
  run_for(std::chrono::milliseconds(100));
  server.reset();
  ASSERT_TRUE(run_until([&] { return done; }, std::chrono::seconds(3)));
  EXPECT_EQ(r.status, 0);
  run_for(std::chrono::milliseconds(100));
}

TEST_F(DevServerTest, RequestLogKeepsMethodPathQueryHeadersAndBody) {
  server->clear_requests();
  Call c;
  c.method = "POST";
  c.url = ws(alpha, "/timer/start") + "?x=1&y=%20";
  c.headers["Authorization"] = "Bearer " + key;
  c.headers["X-Client"] = "linux/9.9 (Test)";
  c.body = R"({"description":"logged","projectId":null,"taskId":null,"tagIds":[]})";
  http.send(c);
  http.get(url("/api/health"));
  const auto& log = server->requests();
  ASSERT_EQ(log.size(), 2u);
  const auto& r = log[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/api/v1/workspaces/" + alpha + "/timer/start");
  EXPECT_EQ(r.query, "x=1&y=%20");
  EXPECT_EQ(r.headers.at("authorization"), "Bearer " + key);
  EXPECT_EQ(r.headers.at("x-client"), "linux/9.9 (Test)");
  EXPECT_EQ(r.headers.at("content-type"), "application/json");
  EXPECT_EQ(r.body, *c.body);
  for (const auto& [name, value] : r.headers)
    EXPECT_EQ(name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << name;
  EXPECT_EQ(log[1].method, "GET");
  EXPECT_EQ(log[1].path, "/api/health");
  EXPECT_EQ(log[1].query, "");
  EXPECT_EQ(log[1].headers.count("authorization"), 0u);
  EXPECT_TRUE(log[1].body.empty());
  server->clear_requests();
  EXPECT_TRUE(server->requests().empty());
}

TEST_F(DevServerTest, FaultedAndRefusedRequestsAreLoggedToo) {
  server->clear_requests();
  devserver::Fault f;
  f.drop_connection = true;
  server->inject_fault("/api/v1/me", f);
  http.get(url("/api/v1/me"));
  http.get(url("/api/v1/me"));  // 401
  ASSERT_EQ(server->requests().size(), 2u);
}

TEST_F(DevServerTest, AdminPrefixMirrorsTheInProcessInterface) {
  server->clear_requests();
  const std::string admin = url("/__admin/");
  // State.
  json state = http.get(admin + "state").json();
  EXPECT_EQ(state["baseUrl"], server->base_url());
  EXPECT_EQ(state["apiKey"], key);
  EXPECT_EQ(state["workspaceIds"].get<std::vector<std::string>>(), server->workspace_ids());
  // Faults.
  Reply r = http.post(admin + "faults", json{{"path", "/api/v1/me"}, {"status", 503}, {"count", 1}}.dump());
  EXPECT_EQ(r.status, 204);
  EXPECT_EQ(get("/api/v1/me").status, 503);
  EXPECT_EQ(get("/api/v1/me").status, 200);
  http.post(admin + "faults", json{{"path", "/api/v1/me"}, {"status", 503}, {"count", -1}}.dump());
  EXPECT_EQ(http.del(admin + "faults").status, 204);
  EXPECT_EQ(get("/api/v1/me").status, 200);
  http.post(admin + "faults", json{{"path", "/api/v1/me"}, {"dropConnection", true}, {"delayMs", 50}}.dump());
  EXPECT_EQ(get("/api/v1/me").status, 0);
  // The log: admin requests are not in it.
  json log = http.get(admin + "requests").json();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0]["method"], "GET");
  EXPECT_EQ(log[0]["path"], "/api/v1/me");
  EXPECT_EQ(log[0]["headers"]["authorization"], "Bearer " + key);
  EXPECT_EQ(server->requests().size(), 4u);
  EXPECT_EQ(http.del(admin + "requests").status, 204);
  EXPECT_TRUE(http.get(admin + "requests").json().empty());
  // Rules, billable, keys, codes, reset.
  EXPECT_EQ(http.post(admin + "rules", json{{"workspaceId", alpha}, {"project", true}}.dump()).status, 204);
  EXPECT_EQ(bootstrap(alpha).json()["rules"]["requiredFields"]["project"], true);
  EXPECT_EQ(http.post(admin + "billable", json{{"workspaceId", alpha}, {"allowed", false}}.dump()).status, 204);
  EXPECT_EQ(bootstrap(alpha).json()["can"]["changeBillable"], false);
  EXPECT_EQ(http.post(admin + "rules", json{{"workspaceId", "ws_none"}}.dump()).status, 400);
  const std::string new_key = http.post(admin + "keys", "{}").json()["apiKey"];
  EXPECT_EQ(http.get(url("/api/v1/me"), new_key).status, 200);
  const std::string code =
      http.post(admin + "connect-codes", json{{"challenge", "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"}}.dump())
          .json()["code"];
  EXPECT_EQ(http.post(url("/api/v1/extension/token"),
                      json{{"code", code}, {"verifier", "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"}}.dump())
                .status,
            200);
  start(alpha, start_body("x", "p_internal"));
  EXPECT_EQ(http.post(admin + "reset", "").status, 204);
  EXPECT_TRUE(running(alpha).json()["running"].is_null());
  EXPECT_EQ(bootstrap(alpha).json()["rules"]["requiredFields"]["project"], false);
  EXPECT_EQ(http.get(admin + "nothing").status, 404);
  EXPECT_EQ(http.post(admin + "faults", "[]").status, 400);
  EXPECT_EQ(http.post(admin + "faults", "{}").status, 400);
  // Admin paths take no faults.
  server->inject_fault("/__admin/*", devserver::Fault{});
  EXPECT_EQ(http.get(admin + "state").status, 200);
}

}  // namespace
}  // namespace irvelo::test
