// Faults of the service against a real store: after each the store keeps its
// session and shows an error, and once the fault is gone a refresh brings
// the service's state back, with the description being typed left alone.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include <sigc++/connection.h>

#include "api/client.hpp"
#include "store_fixture.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;
using Phase = TrackerStore::Phase;

constexpr const char* kTyped = "half a thought, typed while the service misbehaved";

devserver::Fault fault_of(int status, std::string body, std::string content_type = "application/json") {
  devserver::Fault fault;
  fault.status = status;
  fault.body = std::move(body);
  fault.content_type = std::move(content_type);
  fault.count = -1;
  return fault;
}

devserver::Fault dropped() {
  devserver::Fault fault = fault_of(200, R"({"id":"usr_1","name":"cut short here, long enough to be cut"})");
  fault.drop_connection = true;
  return fault;
}

class StoreFaults : public StoreTest {
 protected:
  // Ready with a running timer whose description the user is editing.
  void track_and_type() {
    ephemeral_store();
    ASSERT_TRUE(wait_ready());
    // The start is followed by a full refresh; it must be over before the service changes.
    const std::size_t before = server.requests().size();
    bool refreshed = false;
    sigc::connection watch = store->changed.connect([&] {
      // The refresh announces itself once both its last answers are in, and
      // nothing else is announced after the service has seen both requests.
      refreshed =
          refreshed || (received_since(before, ws_path("/bootstrap")) && received_since(before, ws_path("/projects")));
    });
    store->start();
    const bool done = run_until([&] { return refreshed; });
    watch.disconnect();
    ASSERT_TRUE(done);
    ASSERT_TRUE(store->running.has_value());
    ASSERT_FALSE(store->busy);
    store->editing_description = true;
    store->description = kTyped;
  }

  int count_of(const std::string& line) const {
    int n = 0;
    for (const auto& s : sent()) n += s == line ? 1 : 0;
    return n;
  }

  // Whether the service received a GET of `path` as its request number `from` or later.
  bool received_since(std::size_t from, const std::string& path) const {
    const auto& requests = server.requests();
    for (std::size_t i = from; i < requests.size(); ++i) {
      if (requests[i].method == "GET" && requests[i].path == path) return true;
    }
    return false;
  }

  // Stops the timer through another client, as another device would.
  void stop_elsewhere() {
    api::Client other(server.base_url(), server.api_key());
    bool done = false;
    other.stop_timer(store->workspace_id, [&](api::Result<api::Empty> r) {
      EXPECT_TRUE(r.ok());
      done = true;
    });
    ASSERT_TRUE(run_until([&] { return done; }));
  }

  // The store has the service's state: no running timer, data loaded, no work in flight.
  void expect_service_state() {
    ASSERT_TRUE(run_until([&] { return !store->running.has_value() && !store->busy && store->bootstrap; }, 15s))
        << store->error.value_or("");
    EXPECT_EQ(store->phase, Phase::Ready);
    EXPECT_EQ(store->api_key, server.api_key());
    EXPECT_EQ(store->description, kTyped);
  }

  // Waits for the failure to show, and checks that nothing was lost.
  void expect_error_shown(std::chrono::milliseconds deadline = 10s) {
    ASSERT_TRUE(run_until([&] { return store->error.has_value() && !store->busy; }, deadline));
    EXPECT_EQ(store->phase, Phase::Ready);
    EXPECT_EQ(store->api_key, server.api_key());
    EXPECT_EQ(store->description, kTyped);
    EXPECT_TRUE(store->running.has_value()) << "a failed refresh is no news about the timer";
  }
};

struct FaultCase {
  const char* name;
  const char* path;  // under the workspace when it starts with "/time-entries" or "/bootstrap"
  devserver::Fault fault;
  bool by_poll;  // through the running-timer poll rather than a full refresh
};

// Logs name the case rather than dump its bytes.
void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class EachFault : public StoreFaults, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(EachFault, ErrorShownThenServiceStateRestored) {
  const FaultCase& c = GetParam();
  track_and_type();
  stop_elsewhere();
  const std::string path = std::string(c.path).rfind("/api", 0) == 0 ? c.path : ws_path(c.path);
  server.inject_fault(path, c.fault);
  server.clear_requests();
  if (c.by_poll) {
    store->refresh_running();
  } else {
    store->refresh_all();
  }
  expect_error_shown();
  EXPECT_TRUE(was_sent("GET " + path)) << "the fault was not reached";

  server.clear_faults();
  store->refresh_all();
  expect_service_state();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EachFault,
    ::testing::Values(
        FaultCase{"DroppedConnection", "/api/v1/me", dropped(), false},
        FaultCase{"DroppedConnectionWhilePolling", "/time-entries/running", dropped(), true},
        FaultCase{"HtmlServerError", "/bootstrap",
                  fault_of(500, "<html><body><h1>500 Internal Server Error</h1></body></html>", "text/html"), false},
        FaultCase{"HtmlServerErrorWhilePolling", "/time-entries/running",
                  fault_of(502, "<html><body>Bad Gateway</body></html>", "text/html"), true},
        FaultCase{"MalformedBody", "/bootstrap", fault_of(200, R"({"entries": [{"id": )"), false},
        FaultCase{"MalformedRunningTimer", "/time-entries/running", fault_of(200, "not json at all"), true},
        FaultCase{"WrongShape", "/api/v1/me", fault_of(200, R"({"user": 42, "workspaces": "none"})"), false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(StoreFaults, AnswerSlowerThanTheTimeOut) {
  // The client's 20 seconds shortened to 2; set before the store makes its client.
  g_setenv("IRVELO_TEST_TIMEOUT_SECONDS", "2", TRUE);
  track_and_type();
  stop_elsewhere();
  // An answer that would come long after the deadline below: an error within
  // it can only be the time-out.
  server.inject_fault("/api/v1/me", delayed(60000));
  const gint64 sent_at = g_get_monotonic_time();
  store->refresh_all();
  expect_error_shown(10s);
  const double waited = static_cast<double>(g_get_monotonic_time() - sent_at) / G_USEC_PER_SEC;
  EXPECT_GE(waited, 1.5) << "gave up before the time-out";
  server.clear_faults();
  store->refresh_all();
  expect_service_state();
}

TEST_F(StoreFaults, RefusedKeyInMidSessionSignsOutUntilSignedInAgain) {
  track_and_type();
  server.inject_fault("/api/v1/*", fault_of(401, R"({"error":{"code":"UNAUTHENTICATED","message":"no"}})"));
  store->refresh_all();
  ASSERT_TRUE(run_until([&] { return store->phase == Phase::SignedOut && !store->busy; }));
  EXPECT_TRUE(store->error.has_value());
  EXPECT_TRUE(store->api_key.empty());

  server.clear_faults();
  store->sign_in(server.base_url(), server.api_key());
  ASSERT_TRUE(wait_ready());
  // The timer kept running at the service all along.
  EXPECT_TRUE(store->running.has_value());
  EXPECT_FALSE(store->error.has_value());
}

TEST_F(StoreFaults, RestartThatLostItsStateKeepsWhatWasTyped) {
  track_and_type();
  server.reset_state();
  // The poll notices the timer is gone and reloads.
  store->refresh_running();
  ASSERT_TRUE(run_until([&] { return !store->running.has_value() && !store->busy && store->bootstrap; }));
  EXPECT_EQ(store->phase, Phase::Ready);
  EXPECT_EQ(store->description, kTyped);
  // What was typed goes into the next entry.
  store->editing_description = false;
  store->start();
  ASSERT_TRUE(run_until([&] { return store->running.has_value() && !store->busy; }));
  EXPECT_EQ(count_of("POST " + ws_path("/timer/start")), 2);
  EXPECT_EQ(store->running->description, kTyped);
}

TEST_F(StoreFaults, ServiceDownAtStartUp) {
  std::uint16_t port = 0;
  {
    devserver::DevServer gone;
    port = gone.port();
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(port);
  store = std::make_unique<TrackerStore>(settings, TrackerStore::Ephemeral{url, server.api_key()});
  ASSERT_TRUE(run_until([&] { return store->error.has_value() && !store->busy && store->phase != Phase::Loading; }));
  EXPECT_EQ(store->api_key, server.api_key());
  EXPECT_FALSE(store->bootstrap.has_value());

  devserver::DevServer::Options options;
  options.port = port;
  devserver::DevServer up(options);
  store->refresh_all();
  ASSERT_TRUE(run_until([&] { return store->bootstrap.has_value() && !store->busy; }));
  EXPECT_EQ(store->phase, Phase::Ready);
  EXPECT_EQ(store->workspace_id, up.workspace_ids().front());
  EXPECT_FALSE(store->running.has_value());
}

}  // namespace
}  // namespace irvelo::test
