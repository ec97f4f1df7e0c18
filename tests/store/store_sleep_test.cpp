// The wake-up reload, with a login manager of our own on a private system bus.

#include <gio/gio.h>

#include "store_fixture.hpp"
#include "support/private_bus.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

struct ObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};

class SleepTest : public StoreTest {
 protected:
  void SetUp() override {
    // Before anything in this process asks for the system bus.
    const char* address = system_bus_.address().c_str();
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", address, TRUE);

    GError* error = nullptr;
    login1_.reset(g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error));
    ASSERT_TRUE(login1_) << (error ? error->message : "");
    GVariant* reply = g_dbus_connection_call_sync(connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", "org.freedesktop.login1", 0u),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    ASSERT_TRUE(reply) << (error ? error->message : "");
    g_variant_unref(reply);
    StoreTest::SetUp();
  }

  void TearDown() override {
    store.reset();
    login1_.reset();
  }

  GDBusConnection* connection() { return static_cast<GDBusConnection*>(login1_.get()); }

  void emit_prepare_for_sleep(bool going_to_sleep) {
    g_dbus_connection_emit_signal(connection(), nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                  "PrepareForSleep", g_variant_new("(b)", going_to_sleep), nullptr);
    g_dbus_connection_flush_sync(connection(), nullptr, nullptr);
  }

  PrivateBus system_bus_;
  std::unique_ptr<void, ObjectDeleter> login1_;
};

TEST_F(SleepTest, WakingUpReloadsEverythingGoingToSleepNothing) {
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  EXPECT_NE(store->sleep_watch, 0u);
  server.clear_requests();

  emit_prepare_for_sleep(true);
  run_for(300ms);
  EXPECT_TRUE(sent().empty());

  emit_prepare_for_sleep(false);
  ASSERT_TRUE(run_until([this] { return was_sent("GET /api/v1/me"); }, 5s));
}

TEST_F(SleepTest, AStopThatRacedTheNetworkIntoSleepIsSentOnWaking) {
  g_setenv("IRVELO_TEST_PENDING_RETRY_MS", "100", TRUE);
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  start_timer("");
  // The link goes down with the lid: the stop fails, and so does the first
  // try after it. From then on only the poll (30 s away) or waking retries.
  devserver::Fault down;
  down.status = 503;
  down.count = -1;
  server.inject_fault(ws_path("/timer/stop"), down);
  server.inject_fault(ws_path("/time-entries/running"), down);
  emit_prepare_for_sleep(true);
  ASSERT_TRUE(store->stop(PendingAction::Reason::Sleep));
  ASSERT_TRUE(run_until([this] { return store->pending_action && !store->busy; }));
  ASSERT_TRUE(
      run_until([this] { return was_sent("GET " + ws_path("/time-entries/running")) && !store->pending_trying; }));
  EXPECT_EQ(store->pending_action->reason, PendingAction::Reason::Sleep);
  EXPECT_NE(store->pending_line().find("the service is unavailable"), std::string::npos) << store->pending_line();

  server.clear_faults();
  server.clear_requests();
  emit_prepare_for_sleep(false);
  ASSERT_TRUE(run_until([this] { return !store->pending_action; }));
  EXPECT_TRUE(was_sent("POST " + ws_path("/timer/stop")));
  EXPECT_FALSE(store->running);
}

}  // namespace
}  // namespace irvelo::test
