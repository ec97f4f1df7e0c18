// Every action reaches the service exactly once: while an operation is on its
// way, nothing else that changes the service's data goes out, and nothing a
// view does while following the store can leave it locked.

#include <stdexcept>

#include "store_fixture.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

class OnceTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    ephemeral_store();
    ASSERT_TRUE(wait_ready());
    ASSERT_FALSE(store->running);
    ASSERT_FALSE(store->recent_entries().empty());
  }

  // Requests that change something at the service, in order.
  std::vector<std::string> changes() const {
    std::vector<std::string> out;
    for (const auto& line : sent()) {
      if (line.rfind("GET ", 0) != 0) out.push_back(line);
    }
    return out;
  }
};

TEST_F(OnceTest, NothingElseGoesOutWhileAnOperationIsOnItsWay) {
  server.inject_fault(ws_path("/timer/start"), delayed(300));
  server.clear_requests();
  store->start();
  ASSERT_TRUE(store->busy);
  // A second Enter, the switch flipped back and on, a recent row, the pickers.
  const std::string project = store->projects.front().id;
  store->start();
  store->set_tracking(false);
  store->set_tracking(true);
  store->continue_entry(store->recent_entries().front());
  store->select_project(project);
  store->set_billable(!store->billable);
  ASSERT_TRUE(run_until([this] { return store->running && !store->busy; }));
  EXPECT_NE(store->project_id, project);
  ASSERT_TRUE(wait_ready());
  EXPECT_EQ(changes(), std::vector<std::string>{"POST " + ws_path("/timer/start")});

  // Once it is over, the next one goes out.
  store->description = "Renamed";
  store->stop();
  ASSERT_TRUE(run_until([this] { return !store->running && !store->busy; }));
  EXPECT_EQ(changes().size(), 3u);
}

// Saving a changed description and the stop are one operation: the store
// stays busy in between, so nothing can slip in.
TEST_F(OnceTest, StopWithAChangedDescriptionStaysBusyUntilTheStop) {
  store->start();
  ASSERT_TRUE(run_until([this] { return store->running && !store->busy; }));
  ASSERT_TRUE(wait_ready());
  server.clear_requests();
  bool released_early = false;
  bool tried = false;
  store->changed.connect([&] {
    const bool patched = was_sent("PATCH " + ws_path("/time-entries/" + store->running.value_or(api::TimeEntry{}).id));
    if (!store->busy && store->running) released_early = true;
    if (patched && store->busy && !tried) {
      tried = true;
      store->start();
      store->set_tracking(false);
    }
  });
  store->description = "Written at the last moment";
  store->stop();
  ASSERT_TRUE(run_until([this] { return !store->running && !store->busy; }));
  EXPECT_TRUE(tried);
  EXPECT_FALSE(released_early);
  const std::vector<std::string> log = changes();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("PATCH ", 0), 0u);
  EXPECT_EQ(log[1], "POST " + ws_path("/timer/stop"));
}

// A refresh that went out before a start answers with the world before it:
// that answer must not take the running timer away again.
TEST_F(OnceTest, ARefreshSentBeforeAStartDoesNotUndoIt) {
  devserver::Fault late = delayed(1000);
  late.answer_on_arrival = true;
  server.inject_fault(ws_path("/bootstrap"), late);
  server.clear_requests();
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return was_sent("GET " + ws_path("/bootstrap")); }));
  store->start();
  // The refresh after the start is answered long before the late one.
  ASSERT_TRUE(run_until([this] { return store->bootstrap && store->bootstrap->running; }));
  ASSERT_TRUE(run_until([this] { return store->bootstrap && !store->bootstrap->running; }));
  EXPECT_TRUE(store->running);
}

TEST_F(OnceTest, AHandlerThatRaisesCannotLeaveTheStoreBusy) {
  int raised = 0;
  store->tick.connect([&] {
    ++raised;
    throw std::runtime_error("a view failed");
  });
  store->changed.connect([&] {
    ++raised;
    throw std::runtime_error("another view failed");
  });
  store->start();
  ASSERT_TRUE(run_until([this] { return store->running && !store->busy; }));
  EXPECT_GT(raised, 0);
  store->stop();
  ASSERT_TRUE(run_until([this] { return !store->running && !store->busy; }));
}

}  // namespace
}  // namespace irvelo::test
