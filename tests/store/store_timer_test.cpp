#include <nlohmann/json.hpp>

#include "api/client.hpp"
#include "store_fixture.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class TimerTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    ephemeral_store();
    ASSERT_TRUE(wait_ready());
    server.clear_requests();
  }

  void start_timer(const std::string& text) {
    StoreTest::start_timer(text);
    server.clear_requests();
  }

  json body_of(const std::string& line) const {
    for (const auto& r : server.requests()) {
      if (r.method + " " + r.path == line) return json::parse(r.body);
    }
    ADD_FAILURE() << "not sent: " << line;
    return {};
  }
};

TEST_F(TimerTest, MissingRequiredFieldsStopTheStartLocally) {
  server.set_rules(store->workspace_id, true, false, true);
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return store->bootstrap && store->bootstrap->rules.require_project; }));
  server.clear_requests();
  store->description = "   ";
  store->start();
  EXPECT_EQ(store->error.value_or(""), "Required before starting: description, project");
  EXPECT_FALSE(store->busy);
  run_for(100ms);
  EXPECT_TRUE(sent().empty());
}

TEST_F(TimerTest, StartSendsTheBillableFlagOnlyWhenTheViewerMayChangeIt) {
  server.set_can_change_billable(store->workspace_id, false);
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return store->bootstrap && !store->bootstrap->can_change_billable; }));
  server.clear_requests();
  start_timer("");
  // start_timer cleared the log; check the start of a second timer instead.
  store->stop();
  ASSERT_TRUE(run_until([this] { return !store->running && !store->busy; }));
  server.clear_requests();
  store->description = "  Write report ";
  store->start();
  ASSERT_TRUE(run_until([this] { return store->running && !store->busy; }));
  json body = body_of("POST " + ws_path("/timer/start"));
  EXPECT_EQ(
      body,
      json({{"description", "Write report"}, {"projectId", nullptr}, {"taskId", nullptr}, {"tagIds", json::array()}}));
  EXPECT_EQ(store->running->description, "Write report");

  server.set_can_change_billable(store->workspace_id, true);
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return store->bootstrap && store->bootstrap->can_change_billable; }));
  store->set_billable(true);
  ASSERT_TRUE(run_until([this] { return !store->busy; }));
  store->stop();
  ASSERT_TRUE(run_until([this] { return !store->running && !store->busy; }));
  server.clear_requests();
  store->start();
  ASSERT_TRUE(run_until([this] { return store->running && !store->busy; }));
  body = body_of("POST " + ws_path("/timer/start"));
  EXPECT_EQ(body.value("isBillable", false), true);
}

TEST_F(TimerTest, StopCommitsAChangedDescriptionFirst) {
  start_timer("Draft");
  const std::string entry = store->running->id;
  store->description = "  Final words ";
  store->stop();
  ASSERT_TRUE(run_until([this] { return !store->running && was_sent("GET /api/v1/me"); }));
  const auto lines = sent();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "PATCH " + ws_path("/time-entries/" + entry));
  EXPECT_EQ(lines[1], "GET " + ws_path("/time-entries/running"));
  EXPECT_EQ(lines[2], "POST " + ws_path("/timer/stop"));
  EXPECT_EQ(lines[3], "GET /api/v1/me");
  EXPECT_EQ(body_of(lines[0]), json({{"description", "Final words"}}));
  EXPECT_EQ(store->description, "Final words");  // the preset for the next start keeps the service's text

  // Unchanged description: only the stop and the refresh.
  start_timer("Same");
  store->stop();
  ASSERT_TRUE(run_until([this] { return !store->running && was_sent("GET /api/v1/me"); }));
  EXPECT_EQ(sent().front(), "POST " + ws_path("/timer/stop"));
}

TEST_F(TimerTest, AFailedUpdateStillStops) {
  start_timer("Draft");
  const std::string entry = store->running->id;
  server.inject_fault(ws_path("/time-entries/" + entry), {.status = 500, .body = "{}"});
  store->description = "Changed";
  store->stop();
  ASSERT_TRUE(run_until([this] { return was_sent("POST " + ws_path("/timer/stop")) && !store->busy; }));
  ASSERT_TRUE(run_until([this] { return !store->running; }));
  EXPECT_FALSE(store->error.has_value());  // the stop's own operation replaced the edit's message
}

TEST_F(TimerTest, PollFollowsChangesMadeElsewhere) {
  // Nothing is polled while an operation is in flight.
  store->busy = true;
  store->refresh_running();
  run_for(100ms);
  EXPECT_TRUE(sent().empty());
  store->busy = false;

  // A timer started elsewhere: a full refresh follows.
  api::Client elsewhere(server.base_url(), server.api_key());
  bool started = false;
  elsewhere.start_timer(
      store->workspace_id,
      {{"description", "Phone call"}, {"projectId", nullptr}, {"taskId", nullptr}, {"tagIds", json::array()}},
      [&](api::Result<std::optional<api::TimeEntry>> r) { started = r.ok(); });
  ASSERT_TRUE(run_until([&] { return started; }));
  server.clear_requests();
  store->refresh_running();
  ASSERT_TRUE(run_until([this] { return store->running.has_value(); }));
  EXPECT_TRUE(was_sent("GET /api/v1/me"));
  EXPECT_EQ(store->description, "Phone call");

  // The same entry edited elsewhere: the description follows, unless the field is being edited.
  bool patched = false;
  elsewhere.update_entry(store->workspace_id, store->running->id, {{"description", "Phone call with Ana"}},
                         [&](api::Result<api::Empty> r) { patched = r.ok(); });
  ASSERT_TRUE(run_until([&] { return patched; }));
  store->editing_description = true;
  store->description = "Phone c";
  store->refresh_running();
  ASSERT_TRUE(run_until([this] { return store->running->description == "Phone call with Ana"; }));
  EXPECT_EQ(store->description, "Phone c");
  store->editing_description = false;
  store->refresh_running();
  ASSERT_TRUE(run_until([this] { return store->description == "Phone call with Ana"; }));
}

TEST_F(TimerTest, ContinueDiscardAndTheClock) {
  const auto recent = store->recent_entries();
  ASSERT_FALSE(recent.empty());
  int ticks = 0;
  store->tick.connect([&] { ++ticks; });
  store->continue_entry(recent.front());
  ASSERT_TRUE(run_until([this] { return store->running && !store->busy; }));
  EXPECT_EQ(store->description, recent.front().description);
  EXPECT_EQ(store->project_id.has_value(), recent.front().project.has_value());
  EXPECT_TRUE(store->clock_timer.connected());
  ASSERT_TRUE(wait_ready());
  run_for(50ms);
  const int settled = ticks;
  const auto before = store->now;
  ASSERT_TRUE(run_until([&] { return ticks > settled; }, 2500ms));  // the one-second clock on its own
  EXPECT_GE(store->now, before);

  store->discard();
  ASSERT_TRUE(run_until([this] { return !store->running && !store->busy; }));
  EXPECT_TRUE(was_sent("DELETE " + ws_path("/timer")));
  EXPECT_FALSE(store->clock_timer.connected());
  EXPECT_EQ(store->description, recent.front().description);  // kept as the next preset
}

TEST_F(TimerTest, ChoicesWithoutATimerStayLocal) {
  const api::PickerProject* with_tasks = nullptr;
  for (const auto& p : store->projects) {
    if (!p.tasks.empty()) with_tasks = &p;
  }
  ASSERT_NE(with_tasks, nullptr);
  store->select_project(with_tasks->id);
  EXPECT_EQ(store->billable, with_tasks->billable_by_default);
  store->select_task(with_tasks->tasks.front().id);
  ASSERT_NE(store->selected_task(), nullptr);
  int changes = 0;
  store->changed.connect([&] { ++changes; });
  store->select_project(with_tasks->id);  // the same project: nothing happens
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(store->task_id.has_value());
  store->select_project(std::nullopt);
  EXPECT_FALSE(store->task_id.has_value());
  store->set_billable(store->billable);  // the same value still announces itself
  EXPECT_EQ(changes, 2);
  store->set_tracking(false);  // nothing runs: nothing to stop
  run_for(100ms);
  EXPECT_TRUE(sent().empty());
}

TEST_F(TimerTest, ASwitchWhileBusyClearsBusyAndDropsThePendingStop) {
  start_timer("Draft");
  const std::string first = store->workspace_id;
  const std::string entry = store->running->id;
  server.inject_fault(ws_path("/time-entries/" + entry), delayed(300));
  store->description = "Changed";
  store->stop();
  EXPECT_TRUE(store->busy);
  store->select_workspace(server.workspace_ids().at(1));
  EXPECT_FALSE(store->busy);  // the old operation can no longer clear it
  run_for(600ms);
  // The stop meant for the first workspace was never sent, to either workspace.
  for (const auto& line : sent()) EXPECT_EQ(line.find("/timer/stop"), std::string::npos) << line;
  ASSERT_TRUE(wait_ready());
  EXPECT_NE(store->workspace_id, first);
}

}  // namespace
}  // namespace irvelo::test
