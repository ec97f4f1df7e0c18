// Stops that the service could not receive: kept, sent once when it answers
// again, and only against the entry they were meant for.

#include <glib.h>
#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include "api/client.hpp"
#include "store_fixture.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using ::testing::HasSubstr;
using Outcome = TrackerStore::PendingOutcome;

class PendingTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    outcomes_ = std::make_shared<std::vector<Outcome>>();
  }

  void open_store() {
    ephemeral_store();
    // Before the first idle: a stop left from the last run is tried there.
    store->pending_resolved.connect([list = outcomes_](const Outcome& outcome) { list->push_back(outcome); });
    ASSERT_TRUE(wait_ready());
  }

  // Stops while the service is away (`fault` answers the stop, or else the
  // connection is refused) and waits until the stop is pending.
  void stop_while_down(std::optional<int> fault = std::nullopt) {
    if (fault) {
      devserver::Fault f;
      f.status = *fault;
      server.inject_fault(ws_path("/timer/stop"), f);
    } else {
      server.refuse_connections();
    }
    ASSERT_TRUE(store->stop());
    ASSERT_TRUE(run_until([this] { return store->pending_action.has_value() && !store->busy; }));
  }

  int count(const std::string& line) const {
    int n = 0;
    for (const auto& s : sent()) n += s == line ? 1 : 0;
    return n;
  }

  int index_of(const std::string& line) const {
    const auto all = sent();
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i] == line) return static_cast<int>(i);
    }
    return -1;
  }

  std::string at(std::int64_t instant) const {
    return format_clock_time(clock_time_of(instant, store->time_zone()), store->h12());
  }

  std::shared_ptr<std::vector<Outcome>> outcomes_;
};

TEST_F(PendingTest, AStopWhileDownIsKeptShownFrozenAndSentOnceWhenTheServiceIsBack) {
  g_setenv("IRVELO_TEST_PENDING_RETRY_MS", "200", TRUE);
  open_store();
  start_timer("Angebot");
  const std::string id = store->running->id;
  const std::int64_t started = store->running->start_unix;
  store->description = "Angebot schreiben";
  const std::int64_t asked = now_unix();
  stop_while_down();

  EXPECT_FALSE(store->running);
  EXPECT_FALSE(store->error.has_value()) << store->error.value_or("");
  EXPECT_THAT(store->pending_line(), HasSubstr("Not stopped yet: no connection. The service is still counting"));
  const auto kept = PendingFile::load();
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->entry_id, id);
  EXPECT_EQ(kept->workspace_id, store->workspace_id);
  EXPECT_EQ(kept->description, "Angebot schreiben");
  EXPECT_NEAR(static_cast<double>(kept->requested_at), static_cast<double>(asked), 2.0);

  // Two hours pass, at the service too: the panel's clock stands where the
  // user stopped it, and nothing new can start meanwhile.
  store->clock_source = [] { return now_unix() + 2 * 3600; };
  server.set_clock_offset(2 * 3600);
  store->update_clock();
  EXPECT_EQ(store->elapsed_seconds(), kept->requested_at - started);
  store->start();
  EXPECT_FALSE(store->busy);

  server.clear_requests();
  server.accept_connections();
  ASSERT_TRUE(run_until([this] { return !store->pending_action.has_value(); }));
  // Read first, then the description typed before the stop, then the stop.
  const int read = index_of("GET " + ws_path("/time-entries/running"));
  const int patched = index_of("PATCH " + ws_path("/time-entries/" + id));
  const int stopped = index_of("POST " + ws_path("/timer/stop"));
  EXPECT_GE(read, 0);
  EXPECT_GT(patched, read);
  EXPECT_GT(stopped, patched);
  EXPECT_EQ(count("POST " + ws_path("/timer/stop")), 1);
  EXPECT_FALSE(PendingFile::load().has_value());

  ASSERT_EQ(outcomes_->size(), 1u);
  EXPECT_EQ(outcomes_->front().kind, Outcome::Kind::Stopped);
  const std::string line = outcomes_->front().line;
  EXPECT_THAT(line, HasSubstr("Stopped at " + at(now_unix() + 2 * 3600) + ", not at " + at(kept->requested_at) +
                              ": there was no connection."));
  EXPECT_THAT(line, HasSubstr("correct it in the web app."));
  EXPECT_EQ(store->away_notice, line);

  // Once settled, a new timer starts again.
  start_timer("Review");
  EXPECT_EQ(store->running->description, "Review");
}

TEST_F(PendingTest, OnItsReturnNothingIsSentUnlessTheSameEntryStillRuns) {
  g_setenv("IRVELO_TEST_TIMEOUT_SECONDS", "1", TRUE);
  open_store();
  api::Client elsewhere(server.base_url(), server.api_key());
  const auto stop_elsewhere = [&] {
    bool done = false;
    elsewhere.stop_timer(store->workspace_id, [&](api::Result<api::Empty> r) { done = r.ok(); });
    ASSERT_TRUE(run_until([&] { return done; }));
  };
  const auto start_elsewhere = [&] {
    bool done = false;
    elsewhere.start_timer(
        store->workspace_id,
        {{"description", "Meeting"}, {"projectId", nullptr}, {"taskId", nullptr}, {"tagIds", json::array()}},
        [&](api::Result<std::optional<api::TimeEntry>> r) { done = r.ok(); });
    ASSERT_TRUE(run_until([&] { return done; }));
  };

  struct Case {
    const char* what;
    std::function<void()> go_down;
    std::function<void()> meanwhile;
    Outcome::Kind outcome;
    const char* said;
    int stops;  // received by the service, the store's failed one included
  };
  const Case cases[] = {
      {"stopped on the web meanwhile", [&] { stop_while_down(503); }, stop_elsewhere, Outcome::Kind::AlreadyStopped,
       "no longer running at the service", 2},
      {"another timer started on the phone", [&] { stop_while_down(502); },
       [&] {
         stop_elsewhere();
         start_elsewhere();
       },
       Outcome::Kind::OtherRunning, "'Meeting' was started elsewhere", 2},
      {"a timed-out stop that reached the service",
       [&] {
         devserver::Fault late;
         late.status = 0;
         late.delay_ms = 2500;
         late.answer_on_arrival = true;
         server.inject_fault(ws_path("/timer/stop"), late);
         ASSERT_TRUE(store->stop());
         ASSERT_TRUE(run_until([this] { return store->pending_action.has_value() && !store->busy; }));
       },
       [] {}, Outcome::Kind::AlreadyStopped, "no longer running at the service", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    outcomes_->clear();
    start_timer("Angebot");
    server.clear_requests();
    c.go_down();
    if (HasFailure()) return;
    c.meanwhile();
    store->retry_pending();  // "Try now"
    ASSERT_TRUE(run_until([this] { return !store->pending_action.has_value(); }));
    EXPECT_EQ(count("POST " + ws_path("/timer/stop")), c.stops) << "no stop of the store's after the failed one";
    ASSERT_EQ(outcomes_->size(), 1u);
    EXPECT_EQ(outcomes_->front().kind, c.outcome);
    EXPECT_THAT(outcomes_->front().line, HasSubstr(c.said));
    EXPECT_FALSE(PendingFile::load().has_value());
    // What runs at the service now is what the panel shows.
    ASSERT_TRUE(run_until([this] { return !store->busy && store->bootstrap; }));
    if (c.outcome == Outcome::Kind::OtherRunning) {
      ASSERT_TRUE(run_until([this] { return store->running && store->running->description == "Meeting"; }));
      stop_elsewhere();
      store->refresh_all();
      ASSERT_TRUE(run_until([this] { return !store->running; }));
    }
  }
}

TEST_F(PendingTest, AStartThatFailsSaysSoKeepsTheTextAndIsNeverSentLater) {
  g_setenv("IRVELO_TEST_POLL_SECONDS", "1", TRUE);
  open_store();
  server.refuse_connections();
  store->description = "Review PR";
  store->start();
  ASSERT_TRUE(run_until([this] { return !store->busy; }));
  EXPECT_THAT(store->error.value_or(""), HasSubstr("Nothing was started."));
  EXPECT_EQ(store->description, "Review PR");
  EXPECT_FALSE(store->pending_action.has_value());

  server.clear_requests();
  server.accept_connections();
  int polls = 0;
  store->polled.connect([&] { ++polls; });
  ASSERT_TRUE(run_until([&] { return polls >= 3 && count("GET " + ws_path("/time-entries/running")) >= 2; }));
  EXPECT_EQ(count("POST " + ws_path("/timer/start")), 0);
  EXPECT_FALSE(store->running);
}

TEST_F(PendingTest, SigningOutTriesOnceThenAsksAndGivingUpDeletesTheFile) {
  open_store();
  start_timer("Angebot");
  stop_while_down();
  ASSERT_TRUE(PendingFile::load().has_value());

  store->sign_out();
  ASSERT_TRUE(run_until([this] { return store->sign_out_question; }));
  EXPECT_EQ(store->phase, TrackerStore::Phase::Ready) << "not signed out behind the user's back";
  store->keep_signed_in();
  EXPECT_FALSE(store->sign_out_question);
  EXPECT_TRUE(store->pending_action.has_value());

  store->sign_out();
  ASSERT_TRUE(run_until([this] { return store->sign_out_question; }));
  store->sign_out_anyway();
  EXPECT_EQ(store->phase, TrackerStore::Phase::SignedOut);
  EXPECT_FALSE(PendingFile::load().has_value());
  EXPECT_THAT(store->error.value_or(""), HasSubstr("may still be running at the service"));
}

}  // namespace
}  // namespace irvelo::test
