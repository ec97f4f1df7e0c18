// api::Client against the development service over loopback (no fake
// transport): every endpoint's method, path, headers and body, the error
// classes, and the lifecycle of completions.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>

#include "api/client.hpp"
#include "api/intervals.hpp"
#include "api/url.hpp"
#include "config.hpp"
#include "devserver/dev_server.hpp"
#include "support/main_loop.hpp"

namespace irvelo::api {
namespace {

using json = nlohmann::json;
using devserver::DevServer;
using devserver::Fault;
using devserver::RecordedRequest;
using test::run_for;
using test::run_until;
using test::run_until_idle;

// A completion that records how often it ran and with what.
template <typename T>
struct Outcome {
  std::optional<Result<T>> result;
  int calls = 0;

  Done<T> done() {
    return [this](Result<T> r) {
      ++calls;
      result = std::move(r);
    };
  }
  [[nodiscard]] bool arrived() const { return calls > 0; }
};

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = std::make_unique<Client>(server_.base_url(), server_.api_key());
    ASSERT_FALSE(server_.workspace_ids().empty());
    ws_ = server_.workspace_ids().front();
    server_.set_rules(ws_, false, false, false);
  }

  Client& client() { return *client_; }

  // Starts a call, checks that its completion did not run synchronously,
  // drives the main loop until it ran, and checks that it ran exactly once.
  template <typename T, typename Start>
  Result<T> await(Start&& start) {
    Outcome<T> outcome;
    start(outcome.done());
    EXPECT_EQ(outcome.calls, 0) << "completion ran before the main loop";
    EXPECT_TRUE(run_until([&] { return outcome.arrived(); })) << "no completion";
    if (!outcome.arrived()) return Result<T>::failure(Error{});
    run_for(std::chrono::milliseconds(20));
    EXPECT_EQ(outcome.calls, 1);
    return std::move(*outcome.result);
  }

  // The one request the server received since the last clear.
  const RecordedRequest& only_request() {
    EXPECT_EQ(server_.requests().size(), 1u);
    return server_.requests().back();
  }

  static std::string header(const RecordedRequest& r, const std::string& name) {
    const auto it = r.headers.find(name);
    return it == r.headers.end() ? std::string() : it->second;
  }
  static bool has_header(const RecordedRequest& r, const std::string& name) { return r.headers.count(name) > 0; }

  // Checks the headers every request carries, and Authorization as required.
  void expect_common_headers(const RecordedRequest& r, bool with_key) {
    EXPECT_EQ(header(r, "accept"), "application/json") << r.path;
    EXPECT_EQ(header(r, "x-client"), Client::client_header()) << r.path;
    EXPECT_EQ(header(r, "user-agent"), std::string("irvelo-desktop/") + config::kVersion) << r.path;
    if (with_key) {
      EXPECT_EQ(header(r, "authorization"), "Bearer " + server_.api_key()) << r.path;
    } else {
      EXPECT_FALSE(has_header(r, "authorization")) << r.path;
    }
  }

  static void expect_no_body(const RecordedRequest& r) {
    EXPECT_EQ(r.body, "") << r.method << " " << r.path;
    EXPECT_FALSE(has_header(r, "content-type")) << r.method << " " << r.path;
  }

  static void expect_json_body(const RecordedRequest& r, const std::string& body) {
    EXPECT_EQ(r.body, body) << r.method << " " << r.path;
    EXPECT_EQ(header(r, "content-type"), "application/json") << r.method << " " << r.path;
  }

  std::string ws_path(const std::string& suffix) const { return "/api/v1/workspaces/" + url_encode(ws_) + suffix; }

  // Starts a timer with a plain body and returns the running entry.
  TimeEntry start_plain(const std::string& description) {
    json body = {{"description", description}, {"projectId", nullptr}, {"taskId", nullptr}, {"tagIds", json::array()}};
    auto r = await<std::optional<TimeEntry>>([&](auto done) { client().start_timer(ws_, body, std::move(done)); });
    EXPECT_TRUE(r.ok());
    if (!r.ok() || !r.value->has_value()) {
      ADD_FAILURE() << "no running entry after start";
      return {};
    }
    return **r.value;
  }

  DevServer server_;
  std::unique_ptr<Client> client_;
  std::string ws_;
};

// ---- identification ------------------------------------------------------------

TEST(ClientHeader, LinuxVersionAndUname) {
  struct utsname names {};
  ASSERT_EQ(uname(&names), 0);
  const std::string expected =
      std::string("linux/") + config::kVersion + " (" + names.sysname + " " + names.release + ")";
  EXPECT_EQ(Client::client_header(), expected);
  EXPECT_EQ(&Client::client_header(), &Client::client_header());  // built once
}

TEST(ClientBase, KeepsItsBaseUrl) {
  Client c("https://time.example.org", "k");
  EXPECT_EQ(c.base_url(), "https://time.example.org");
}

// ---- endpoints -------------------------------------------------------------------

TEST_F(ClientTest, HealthWithoutKey) {
  server_.clear_requests();
  const auto r = await<Health>([&](auto done) { client().health(std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  EXPECT_TRUE(r.value->ok);
  EXPECT_EQ(r.value->name, "irvelo");
  EXPECT_FALSE(r.value->version.empty());
  const auto& req = only_request();
  EXPECT_EQ(req.method, "GET");
  EXPECT_EQ(req.path, "/api/health");
  EXPECT_EQ(req.query, "");
  expect_common_headers(req, false);
  expect_no_body(req);
}

TEST_F(ClientTest, HealthOfAnotherServiceIsBadResponse) {
  server_.inject_fault("/api/health", Fault{200, R"({"ok": true, "name": "other", "version": "1"})"});
  const auto r = await<Health>([&](auto done) { client().health(std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(r.error->status, 200);
  EXPECT_EQ(r.error->describe(), "That address is not an Irvelo server.");
}

TEST_F(ClientTest, Me) {
  server_.clear_requests();
  const auto r = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  EXPECT_FALSE(r.value->user.id.empty());
  EXPECT_FALSE(r.value->user.email.empty());
  ASSERT_EQ(r.value->workspaces.size(), server_.workspace_ids().size());
  for (std::size_t i = 0; i < r.value->workspaces.size(); ++i)
    EXPECT_EQ(r.value->workspaces[i].workspace_id, server_.workspace_ids()[i]);
  EXPECT_EQ(r.value->workspaces.back().role, "client");
  const auto& req = only_request();
  EXPECT_EQ(req.method, "GET");
  EXPECT_EQ(req.path, "/api/v1/me");
  expect_common_headers(req, true);
  expect_no_body(req);
}

TEST_F(ClientTest, ExchangeConnectCodeWithoutKey) {
  const std::string verifier = random_urlsafe(48);
  const std::string code = server_.issue_connect_code(pkce_challenge(verifier));
  server_.clear_requests();
  const auto r =
      await<TokenResponse>([&](auto done) { client().exchange_connect_code(code, verifier, std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  EXPECT_FALSE(r.value->api_key.empty());
  EXPECT_FALSE(r.value->user.id.empty());
  EXPECT_FALSE(r.value->workspaces.empty());
  const auto& req = only_request();
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.path, "/api/v1/extension/token");
  expect_common_headers(req, false);
  expect_json_body(req, R"({"code":")" + code + R"(","verifier":")" + verifier + R"("})");

  // The new key works; the code works only once.
  Client fresh(server_.base_url(), r.value->api_key);
  const auto me = await<Me>([&](auto done) { fresh.me(std::move(done)); });
  EXPECT_TRUE(me.ok());
  const auto again =
      await<TokenResponse>([&](auto done) { client().exchange_connect_code(code, verifier, std::move(done)); });
  EXPECT_TRUE(again.error.has_value());
}

TEST_F(ClientTest, RevokeKey) {
  const std::string key = server_.add_api_key();
  Client c(server_.base_url(), key);
  server_.clear_requests();
  const auto r = await<Empty>([&](auto done) { c.revoke_key(std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  const auto& req = only_request();
  EXPECT_EQ(req.method, "DELETE");
  EXPECT_EQ(req.path, "/api/v1/extension/token");
  EXPECT_EQ(header(req, "authorization"), "Bearer " + key);
  EXPECT_EQ(header(req, "accept"), "application/json");
  EXPECT_EQ(header(req, "x-client"), Client::client_header());
  expect_no_body(req);

  const auto me = await<Me>([&](auto done) { c.me(std::move(done)); });
  ASSERT_TRUE(me.error.has_value());
  EXPECT_EQ(me.error->kind, Error::Kind::Unauthenticated);
}

TEST_F(ClientTest, Bootstrap) {
  server_.clear_requests();
  const auto r = await<Bootstrap>([&](auto done) { client().bootstrap(ws_, std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  EXPECT_EQ(r.value->workspace_id, ws_);
  EXPECT_FALSE(r.value->workspace_name.empty());
  EXPECT_FALSE(r.value->week_from.empty());
  const auto& req = only_request();
  EXPECT_EQ(req.method, "GET");
  EXPECT_EQ(req.path, ws_path("/bootstrap"));
  expect_common_headers(req, true);
  expect_no_body(req);
}

TEST_F(ClientTest, Projects) {
  server_.clear_requests();
  const auto r = await<std::vector<PickerProject>>([&](auto done) { client().projects(ws_, std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  EXPECT_FALSE(r.value->empty());
  const auto& req = only_request();
  EXPECT_EQ(req.method, "GET");
  EXPECT_EQ(req.path, ws_path("/projects"));
  expect_common_headers(req, true);
  expect_no_body(req);
}

TEST_F(ClientTest, RunningStartStop) {
  server_.reset_state();
  server_.set_rules(ws_, false, false, false);
  server_.clear_requests();
  auto none = await<std::optional<TimeEntry>>([&](auto done) { client().running(ws_, std::move(done)); });
  ASSERT_TRUE(none.ok()) << none.error->describe();
  EXPECT_FALSE(none.value->has_value());
  {
    const auto& req = only_request();
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.path, ws_path("/time-entries/running"));
    expect_common_headers(req, true);
    expect_no_body(req);
  }

  server_.clear_requests();
  const TimeEntry started = start_plain("Writing");
  EXPECT_EQ(started.description, "Writing");
  EXPECT_FALSE(started.end_at.has_value());
  {
    const auto& req = only_request();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, ws_path("/timer/start"));
    expect_common_headers(req, true);
    expect_json_body(req, R"({"description":"Writing","projectId":null,"tagIds":[],"taskId":null})");
  }

  auto now_running = await<std::optional<TimeEntry>>([&](auto done) { client().running(ws_, std::move(done)); });
  ASSERT_TRUE(now_running.ok());
  ASSERT_TRUE(now_running.value->has_value());
  EXPECT_EQ((*now_running.value)->id, started.id);

  server_.clear_requests();
  const auto stopped = await<Empty>([&](auto done) { client().stop_timer(ws_, std::move(done)); });
  ASSERT_TRUE(stopped.ok()) << stopped.error->describe();
  {
    const auto& req = only_request();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, ws_path("/timer/stop"));
    expect_common_headers(req, true);
    expect_json_body(req, "{}");
  }
  auto after = await<std::optional<TimeEntry>>([&](auto done) { client().running(ws_, std::move(done)); });
  ASSERT_TRUE(after.ok());
  EXPECT_FALSE(after.value->has_value());
}

TEST_F(ClientTest, StartBodyIsCompactSortedRawUtf8) {
  server_.reset_state();
  server_.set_rules(ws_, false, false, false);
  server_.clear_requests();
  const std::string description = "Caf\xC3\xA9 \xE2\x98\x95 \"q\"";
  json body = json::object();
  body["tagIds"] = json::array();
  body["isBillable"] = true;
  body["description"] = description;
  body["taskId"] = nullptr;
  body["projectId"] = nullptr;
  const auto r = await<std::optional<TimeEntry>>([&](auto done) { client().start_timer(ws_, body, std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  ASSERT_TRUE(r.value->has_value());
  EXPECT_EQ((*r.value)->description, description);
  EXPECT_TRUE((*r.value)->is_billable);
  expect_json_body(only_request(),
                   "{\"description\":\"Caf\xC3\xA9 \xE2\x98\x95 \\\"q\\\"\",\"isBillable\":true,"
                   "\"projectId\":null,\"tagIds\":[],\"taskId\":null}");
}

TEST_F(ClientTest, DiscardTimer) {
  server_.reset_state();
  server_.set_rules(ws_, false, false, false);
  (void)start_plain("To be discarded");
  server_.clear_requests();
  const auto r = await<Empty>([&](auto done) { client().discard_timer(ws_, std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  const auto& req = only_request();
  EXPECT_EQ(req.method, "DELETE");
  EXPECT_EQ(req.path, ws_path("/timer"));
  expect_common_headers(req, true);
  expect_no_body(req);
  auto after = await<std::optional<TimeEntry>>([&](auto done) { client().running(ws_, std::move(done)); });
  ASSERT_TRUE(after.ok());
  EXPECT_FALSE(after.value->has_value());
}

TEST_F(ClientTest, UpdateEntry) {
  server_.reset_state();
  server_.set_rules(ws_, false, false, false);
  const TimeEntry started = start_plain("Before");
  server_.clear_requests();
  const json patch = {{"description", "After"}};
  const auto r = await<Empty>([&](auto done) { client().update_entry(ws_, started.id, patch, std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  const auto& req = only_request();
  EXPECT_EQ(req.method, "PATCH");
  EXPECT_EQ(req.path, ws_path("/time-entries/" + url_encode(started.id)));
  expect_common_headers(req, true);
  expect_json_body(req, R"({"description":"After"})");
  auto after = await<std::optional<TimeEntry>>([&](auto done) { client().running(ws_, std::move(done)); });
  ASSERT_TRUE(after.ok());
  ASSERT_TRUE(after.value->has_value());
  EXPECT_EQ((*after.value)->description, "After");
}

TEST_F(ClientTest, ContinueEntry) {
  server_.reset_state();
  server_.set_rules(ws_, false, false, false);
  const TimeEntry first = start_plain("Again and again");
  ASSERT_TRUE(await<Empty>([&](auto done) { client().stop_timer(ws_, std::move(done)); }).ok());
  server_.clear_requests();
  const auto r =
      await<std::optional<TimeEntry>>([&](auto done) { client().continue_entry(ws_, first.id, std::move(done)); });
  ASSERT_TRUE(r.ok()) << r.error->describe();
  ASSERT_TRUE(r.value->has_value());
  EXPECT_NE((*r.value)->id, first.id);
  EXPECT_EQ((*r.value)->description, "Again and again");
  const auto& req = only_request();
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.path, ws_path("/time-entries/" + url_encode(first.id) + "/continue"));
  expect_common_headers(req, true);
  expect_json_body(req, "{}");
}

TEST_F(ClientTest, IdentifiersArePercentEncoded) {
  const std::string odd_ws = "a/b";
  const std::string odd_entry = "e 1?x/y";
  server_.clear_requests();
  // Whatever the service answers for unknown workspaces; only the paths matter here.
  (void)await<Bootstrap>([&](auto done) { client().bootstrap(odd_ws, std::move(done)); });
  (void)await<std::vector<PickerProject>>([&](auto done) { client().projects(odd_ws, std::move(done)); });
  (void)await<std::optional<TimeEntry>>([&](auto done) { client().running(odd_ws, std::move(done)); });
  (void)await<std::optional<TimeEntry>>(
      [&](auto done) { client().start_timer(odd_ws, json::object(), std::move(done)); });
  (void)await<Empty>([&](auto done) { client().stop_timer(odd_ws, std::move(done)); });
  (void)await<Empty>([&](auto done) { client().discard_timer(odd_ws, std::move(done)); });
  (void)await<Empty>([&](auto done) { client().update_entry(odd_ws, odd_entry, json::object(), std::move(done)); });
  (void)await<std::optional<TimeEntry>>(
      [&](auto done) { client().continue_entry(odd_ws, odd_entry, std::move(done)); });
  const char* expected[] = {
      "/api/v1/workspaces/a%2Fb/bootstrap",
      "/api/v1/workspaces/a%2Fb/projects",
      "/api/v1/workspaces/a%2Fb/time-entries/running",
      "/api/v1/workspaces/a%2Fb/timer/start",
      "/api/v1/workspaces/a%2Fb/timer/stop",
      "/api/v1/workspaces/a%2Fb/timer",
      "/api/v1/workspaces/a%2Fb/time-entries/e%201%3Fx%2Fy",
      "/api/v1/workspaces/a%2Fb/time-entries/e%201%3Fx%2Fy/continue",
  };
  ASSERT_EQ(server_.requests().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(server_.requests()[i].path, expected[i]);
    EXPECT_EQ(server_.requests()[i].query, "") << expected[i];
  }
}

// ---- error classes -----------------------------------------------------------------

TEST_F(ClientTest, Status401WithBodyIsUnauthenticated) {
  server_.inject_fault("/api/v1/me", Fault{401, R"({"error": {"code": "SOMETHING", "message": "Nope"}})"});
  const auto r = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Unauthenticated);
  EXPECT_EQ(r.error->status, 401);
  EXPECT_EQ(r.error->code, "UNAUTHENTICATED");
  EXPECT_EQ(r.error->message, "");
  EXPECT_EQ(r.error->describe(), "Your session expired. Sign in again.");
}

TEST_F(ClientTest, UnknownKeyIsUnauthenticated) {
  Client c(server_.base_url(), "iv_not_a_key");
  const auto r = await<Me>([&](auto done) { c.me(std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Unauthenticated);
  EXPECT_EQ(r.error->code, "UNAUTHENTICATED");
}

TEST_F(ClientTest, EmptyKeySendsNoAuthorization) {
  Client c(server_.base_url(), "");
  server_.clear_requests();
  const auto r = await<Me>([&](auto done) { c.me(std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Unauthenticated);
  EXPECT_EQ(r.error->status, 401);
  const auto& req = only_request();
  EXPECT_FALSE(has_header(req, "authorization"));
  EXPECT_EQ(header(req, "accept"), "application/json");
  EXPECT_EQ(header(req, "x-client"), Client::client_header());
}

TEST_F(ClientTest, Status422WithFieldErrorsIsApi) {
  server_.inject_fault(ws_path("/timer/start"), Fault{422, R"({"error": {"code": "VALIDATION", "message": "Bad",
                                    "fieldErrors": {"tagIds": ["Pick a tag"], "projectId": ["Required", "Unknown"]}}})"});
  const auto r = await<std::optional<TimeEntry>>([&](auto done) {
    client().start_timer(ws_, json{{"description", "x"}}, std::move(done));
  });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Api);
  EXPECT_EQ(r.error->status, 422);
  EXPECT_EQ(r.error->code, "VALIDATION");
  EXPECT_EQ(r.error->message, "Bad");
  ASSERT_EQ(r.error->field_errors.size(), 2u);
  EXPECT_EQ(r.error->field_errors.at("projectId"), (std::vector<std::string>{"Required", "Unknown"}));
  EXPECT_EQ(r.error->field_errors.at("tagIds"), (std::vector<std::string>{"Pick a tag"}));
  EXPECT_EQ(r.error->describe(), "Bad: project, tags");
}

TEST_F(ClientTest, ServiceValidationComesBackAsApi) {
  server_.reset_state();
  server_.set_rules(ws_, true, false, false);
  const json body = {
      {"description", "No project"}, {"projectId", nullptr}, {"taskId", nullptr}, {"tagIds", json::array()}};
  const auto r = await<std::optional<TimeEntry>>([&](auto done) { client().start_timer(ws_, body, std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Api);
  EXPECT_EQ(r.error->status, 422);
  EXPECT_EQ(r.error->code, "VALIDATION");
  EXPECT_EQ(r.error->field_errors.count("projectId"), 1u);
}

TEST_F(ClientTest, Status500WithHtmlIsHttp) {
  server_.inject_fault("/api/v1/me",
                       Fault{500, "<html><body><h1>Internal Server Error</h1></body></html>", "text/html"});
  const auto r = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Http);
  EXPECT_EQ(r.error->status, 500);
  EXPECT_EQ(r.error->code, "");
  EXPECT_EQ(r.error->message, "");
  EXPECT_EQ(r.error->describe(), "The server answered with HTTP 500.");
}

TEST_F(ClientTest, Status204EmptyBody) {
  server_.inject_fault(ws_path("/timer/stop"), Fault{204, ""});
  const auto ignored = await<Empty>([&](auto done) { client().stop_timer(ws_, std::move(done)); });
  EXPECT_TRUE(ignored.ok());
  EXPECT_FALSE(ignored.error.has_value());

  server_.inject_fault("/api/v1/me", Fault{204, ""});
  const auto needed = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(needed.error.has_value());
  EXPECT_EQ(needed.error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(needed.error->status, 204);

  server_.inject_fault(ws_path("/time-entries/running"), Fault{204, ""});
  const auto running = await<std::optional<TimeEntry>>([&](auto done) { client().running(ws_, std::move(done)); });
  ASSERT_TRUE(running.error.has_value());
  EXPECT_EQ(running.error->kind, Error::Kind::BadResponse);
}

TEST_F(ClientTest, Status200NotJsonIsBadResponseForEveryCall) {
  const Fault not_json{200, "this is not json", "text/plain"};
  server_.inject_fault(ws_path("/timer/stop"), not_json);
  const auto ignored = await<Empty>([&](auto done) { client().stop_timer(ws_, std::move(done)); });
  ASSERT_TRUE(ignored.error.has_value());
  EXPECT_EQ(ignored.error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(ignored.error->status, 200);

  server_.inject_fault("/api/v1/extension/token", not_json);
  const auto revoked = await<Empty>([&](auto done) { client().revoke_key(std::move(done)); });
  ASSERT_TRUE(revoked.error.has_value());
  EXPECT_EQ(revoked.error->kind, Error::Kind::BadResponse);

  server_.inject_fault("/api/v1/me", not_json);
  const auto me = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(me.error.has_value());
  EXPECT_EQ(me.error->kind, Error::Kind::BadResponse);

  server_.inject_fault("/api/health", not_json);
  const auto health = await<Health>([&](auto done) { client().health(std::move(done)); });
  ASSERT_TRUE(health.error.has_value());
  EXPECT_EQ(health.error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(health.error->describe(), "That address is not an Irvelo server.");
}

TEST_F(ClientTest, OutOfRangeNumberFailsTheAnswer) {
  server_.inject_fault(
      ws_path("/time-entries/running"),
      Fault{200, R"({"running": {"id": "r", "startAt": "2024-03-04T09:00:00Z", "durationSeconds": 1e19}})"});
  const auto r = await<std::optional<TimeEntry>>([&](auto done) { client().running(ws_, std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::BadResponse);
}

TEST_F(ClientTest, DroppedConnectionIsNetwork) {
  Fault drop;
  drop.drop_connection = true;
  server_.inject_fault("/api/v1/me", drop);
  const auto r = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Network);
  EXPECT_EQ(r.error->status, 0);
}

// A redirect could carry the key to another host or to plain http.
TEST_F(ClientTest, RedirectIsNeverFollowed) {
  DevServer elsewhere;
  Fault redirect;
  redirect.status = 302;
  redirect.body = R"({"error":{"code":"MOVED","message":"moved"}})";
  redirect.headers["Location"] = elsewhere.base_url() + "/api/v1/me";
  server_.inject_fault("/api/v1/me", redirect);

  const auto r = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Http) << r.error->status << " " << r.error->code << " " << r.error->message;
  EXPECT_EQ(r.error->status, 302);
  EXPECT_EQ(r.error->describe().find(std::to_string(elsewhere.port())), std::string::npos) << r.error->describe();
  EXPECT_TRUE(elsewhere.requests().empty());
}

// Answers are read in pieces up to 16 MiB; beyond that reading stops, so a
// client that read to the end would still be waiting (the body promised or
// sent never ends) when the check gives up.
TEST_F(ClientTest, AnswersAreReadUpTo16MiB) {
  const auto me = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(me.ok());
  Fault padded;
  padded.status = 200;
  padded.body = R"({"user":{"id":"u-big","email":"a@b","name":"Big"},"workspaces":[]})" + std::string(3 << 20, ' ');
  server_.inject_fault("/api/v1/me", padded);
  const auto big = await<Me>([&](auto done) { client().me(std::move(done)); });
  ASSERT_TRUE(big.ok()) << big.error->describe();
  EXPECT_EQ(big.value->user.id, "u-big");

  for (const auto oversize : {Fault::Oversize::Declared, Fault::Oversize::Endless}) {
    Fault huge;
    huge.oversize = oversize;
    server_.inject_fault("/api/v1/me", huge);
    const auto r = await<Me>([&](auto done) { client().me(std::move(done)); });
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->kind, Error::Kind::BadResponse) << static_cast<int>(oversize);
    EXPECT_EQ(r.error->status, 200);
  }
  // The connections given up do not hold up the next request.
  EXPECT_TRUE(await<Health>([&](auto done) { client().health(std::move(done)); }).ok());
}

// A port that was free a moment ago and has nothing listening on it.
std::uint16_t closed_port() {
  GSocket* socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr);
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* any_port = g_inet_socket_address_new(loopback, 0);
  std::uint16_t port = 0;
  if (g_socket_bind(socket, any_port, FALSE, nullptr)) {
    GSocketAddress* bound = g_socket_get_local_address(socket, nullptr);
    port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
    g_object_unref(bound);
  }
  g_socket_close(socket, nullptr);
  g_object_unref(any_port);
  g_object_unref(loopback);
  g_object_unref(socket);
  return port;
}

TEST(ClientNetwork, ClosedPortIsNetwork) {
  const std::uint16_t port = closed_port();
  ASSERT_NE(port, 0);
  Client c("http://127.0.0.1:" + std::to_string(port), "k");
  Outcome<Me> outcome;
  c.me(outcome.done());
  EXPECT_EQ(outcome.calls, 0);
  ASSERT_TRUE(run_until([&] { return outcome.arrived(); }));
  run_for(std::chrono::milliseconds(20));
  EXPECT_EQ(outcome.calls, 1);
  ASSERT_TRUE(outcome.result->error.has_value());
  EXPECT_EQ(outcome.result->error->kind, Error::Kind::Network);
  EXPECT_EQ(outcome.result->error->status, 0);
  EXPECT_FALSE(outcome.result->error->message.empty());
  EXPECT_EQ(outcome.result->error->describe(), outcome.result->error->message);
}

// ---- requests that cannot be built -------------------------------------------------

// A request that cannot be built is reported like any other: from the main
// loop, once, and not at all when the client is gone before then.
TEST(ClientUnbuildable, RefusedAddressReportsOnTheMainLoop) {
  for (const char* base : {"not an address", "ftp://example.org", "", "http://", "http://[::1", "http://host:99999"}) {
    Client c(base, "k");
    Outcome<Me> outcome;
    c.me(outcome.done());
    EXPECT_EQ(outcome.calls, 0) << base;
    ASSERT_TRUE(run_until([&] { return outcome.arrived(); })) << base;
    ASSERT_TRUE(outcome.result->error.has_value());
    EXPECT_EQ(outcome.result->error->kind, Error::Kind::BadResponse);
    EXPECT_EQ(outcome.result->error->status, 0);
    EXPECT_EQ(outcome.result->error->code, "");
    EXPECT_EQ(outcome.result->error->message, "");
    EXPECT_TRUE(run_until_idle());
    EXPECT_EQ(outcome.calls, 1);
  }
  Outcome<Me> dropped;
  {
    Client gone("ftp://example.org", "k");
    gone.me(dropped.done());
  }
  EXPECT_TRUE(run_until_idle());
  EXPECT_EQ(dropped.calls, 0);
}

TEST(ClientUnbuildable, KeyThatCannotBeAHeaderValue) {
  Client c("http://127.0.0.1:9", "key\r\nX-Injected: 1");
  Outcome<Me> outcome;
  c.me(outcome.done());
  ASSERT_TRUE(run_until([&] { return outcome.arrived(); }));
  EXPECT_EQ(outcome.result->error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(outcome.result->error->status, 0);
}

// Fault mended: a body that cannot be serialised (not valid UTF-8) is reported
// through the completion and never raises out of the call.
TEST_F(ClientTest, InvalidUtf8BodyIsReportedNotRaised) {
  server_.clear_requests();
  Outcome<TokenResponse> exchange;
  EXPECT_NO_THROW(client().exchange_connect_code("\xFF\xFE code", "verifier", exchange.done()));
  ASSERT_TRUE(run_until([&] { return exchange.arrived(); }));
  ASSERT_TRUE(exchange.result->error.has_value());
  EXPECT_EQ(exchange.result->error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(exchange.result->error->status, 0);

  Outcome<std::optional<TimeEntry>> start;
  const json body = {{"description", std::string("bad \xC3")}, {"tagIds", json::array()}};
  EXPECT_NO_THROW(client().start_timer(ws_, body, start.done()));
  ASSERT_TRUE(run_until([&] { return start.arrived(); }));
  EXPECT_EQ(start.result->error->kind, Error::Kind::BadResponse);

  Outcome<Empty> update;
  EXPECT_NO_THROW(client().update_entry(ws_, "e1", json{{"description", std::string("\x80")}}, update.done()));
  ASSERT_TRUE(run_until([&] { return update.arrived(); }));
  EXPECT_EQ(update.result->error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(update.result->error->status, 0);

  EXPECT_TRUE(run_until_idle());
  EXPECT_EQ(exchange.calls + start.calls + update.calls, 3);
  EXPECT_TRUE(server_.requests().empty());
}

// ---- lifecycle ---------------------------------------------------------------------

TEST_F(ClientTest, DestroyedClientCallsNothing) {
  Fault slow;
  slow.status = 0;  // answer normally, but late
  slow.delay_ms = 300;
  server_.inject_fault("/api/v1/me", slow);
  server_.clear_requests();
  Outcome<Me> outcome;
  client().me(outcome.done());
  // Let the request reach the server, then drop the client while the answer is pending.
  EXPECT_TRUE(run_until([&] { return !server_.requests().empty(); }, std::chrono::seconds(5)));
  client_.reset();
  run_for(std::chrono::milliseconds(600));
  EXPECT_EQ(outcome.calls, 0);
}

TEST_F(ClientTest, DestroyedBeforeTheLoopRanCallsNothing) {
  Outcome<Me> me;
  Outcome<Bootstrap> bootstrap;
  Outcome<Empty> stop;
  client().me(me.done());
  client().bootstrap(ws_, bootstrap.done());
  client().stop_timer(ws_, stop.done());
  client_.reset();
  run_for(std::chrono::milliseconds(300));
  EXPECT_EQ(me.calls + bootstrap.calls + stop.calls, 0);
}

TEST_F(ClientTest, CompletionMayDestroyTheClient) {
  Outcome<Me> second;
  bool first_ran = false;
  client().me([&](Result<Me> r) {
    first_ran = true;
    EXPECT_TRUE(r.ok());
    client_.reset();  // the store drops its client from inside a completion
  });
  Fault slow;
  slow.status = 0;
  slow.delay_ms = 300;
  server_.inject_fault(ws_path("/bootstrap"), slow);
  Outcome<Bootstrap> late;
  client().bootstrap(ws_, late.done());
  ASSERT_TRUE(run_until([&] { return first_ran; }));
  run_for(std::chrono::milliseconds(500));
  EXPECT_EQ(late.calls, 0);
}

TEST_F(ClientTest, OverlappingRequestsEachCompleteOnce) {
  Outcome<Me> me;
  Outcome<Bootstrap> bootstrap;
  Outcome<std::vector<PickerProject>> projects;
  Outcome<Health> health;
  client().me(me.done());
  client().bootstrap(ws_, bootstrap.done());
  client().projects(ws_, projects.done());
  client().health(health.done());
  ASSERT_TRUE(run_until([&] { return me.arrived() && bootstrap.arrived() && projects.arrived() && health.arrived(); }));
  run_for(std::chrono::milliseconds(20));
  EXPECT_EQ(me.calls + bootstrap.calls + projects.calls + health.calls, 4);
  EXPECT_TRUE(me.result->ok());
  EXPECT_TRUE(bootstrap.result->ok());
  EXPECT_TRUE(projects.result->ok());
  EXPECT_TRUE(health.result->ok());
}

TEST_F(ClientTest, RaisingCompletionDoesNotEscape) {
  bool ran = false;
  client().me([&](Result<Me>) {
    ran = true;
    throw std::runtime_error("from the caller");
  });
  ASSERT_TRUE(run_until([&] { return ran; }));
  // The client keeps working afterwards.
  const auto r = await<Health>([&](auto done) { client().health(std::move(done)); });
  EXPECT_TRUE(r.ok());
}

// The environment may shorten the intervals for tests, never lengthen them or
// switch them off.
TEST(Intervals, EnvironmentOnlyShortens) {
  EXPECT_EQ(shortened_interval(nullptr, 30), 30u);
  EXPECT_EQ(shortened_interval("2", 30), 2u);
  EXPECT_EQ(shortened_interval("30", 30), 30u);
  for (const char* refused : {"", "0", "31", "3600", "-1", "2s", " 2", "1e1", "99999999999999999999"}) {
    EXPECT_EQ(shortened_interval(refused, 30), 30u) << '"' << refused << '"';
  }
}

}  // namespace
}  // namespace irvelo::api
