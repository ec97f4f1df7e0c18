#pragma once

// A real store on the test's main loop, talking over loopback to an
// in-process development service whose request log witnesses what was sent.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/tracker_store.hpp"
#include "dev_server.hpp"
#include "storage/settings.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {

// The normal answer, after a delay.
inline devserver::Fault delayed(int ms) {
  devserver::Fault fault;
  fault.status = 0;
  fault.delay_ms = ms;
  return fault;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = Settings::load(); }

  // A store signed in with the service's key through the environment route.
  TrackerStore& ephemeral_store() {
    store = std::make_unique<TrackerStore>(settings, TrackerStore::Ephemeral{server.base_url(), server.api_key()});
    return *store;
  }

  // A store that reads its key from the credential store, once it has.
  TrackerStore& persistent_store() {
    store = std::make_unique<TrackerStore>(settings, std::nullopt);
    EXPECT_TRUE(run_until([this] { return store->keyring == TrackerStore::Keyring::Idle; }));
    return *store;
  }

  // Waits until the store is Ready and idle.
  bool wait_ready() {
    return run_until([this] { return store->phase == TrackerStore::Phase::Ready && !store->busy; });
  }

  // Starts a timer through the store and waits until the refresh after the
  // start has brought the entry in too.
  void start_timer(const std::string& text) {
    store->description = text;
    store->start();
    ASSERT_TRUE(run_until([this] {
      return store->running && !store->busy && store->bootstrap && store->bootstrap->running &&
             store->bootstrap->running->id == store->running->id;
    }));
  }

  // "METHOD /path" for every request the service received.
  std::vector<std::string> sent() const {
    std::vector<std::string> out;
    for (const auto& r : server.requests()) out.push_back(r.method + " " + r.path);
    return out;
  }

  bool was_sent(const std::string& line) const {
    for (const auto& s : sent()) {
      if (s == line) return true;
    }
    return false;
  }

  std::string ws_path(const std::string& suffix) const { return "/api/v1/workspaces/" + store->workspace_id + suffix; }

  devserver::DevServer server;
  Settings settings;
  std::unique_ptr<TrackerStore> store;
};

}  // namespace irvelo::test
