// Offline as the desktop's network monitor reports it, through a network
// manager of our own on a private system bus: no polls while it lasts, and
// everything at once when it ends.

#include <gio/gio.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "store_fixture.hpp"
#include "support/private_bus.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPath = "/org/freedesktop/NetworkManager";
constexpr const char* kInterface = "org.freedesktop.NetworkManager";
constexpr const char* kXml = R"(<node><interface name="org.freedesktop.NetworkManager">
  <property name="State" type="u" access="read"/>
  <property name="Connectivity" type="u" access="read"/>
  <property name="Metered" type="u" access="read"/>
</interface></node>)";

// The network manager runs on a thread of its own: GIO asks it for its
// properties synchronously while the store is being made on this one.
class StandInNetworkManager {
 public:
  explicit StandInNetworkManager(const std::string& address) : address_(address) {
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }

  ~StandInNetworkManager() {
    g_main_context_invoke(
        context_,
        [](gpointer data) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(data));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  [[nodiscard]] bool owned() const { return owned_; }

  // Says so to its subscribers, from its own thread.
  void set_online(bool online) {
    online_ = online;
    g_main_context_invoke(
        context_,
        [](gpointer data) -> gboolean {
          static_cast<StandInNetworkManager*>(data)->announce();
          return G_SOURCE_REMOVE;
        },
        this);
  }

 private:
  GVariant* property(const std::string& name) const {
    if (name == "State") return g_variant_new_uint32(online_ ? 70 : 20);       // connected (global) / disconnected
    if (name == "Connectivity") return g_variant_new_uint32(online_ ? 4 : 1);  // full / none
    return g_variant_new_uint32(4);                                            // not metered, as far as known
  }

  void announce() {
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&changed, "{sv}", "State", property("State"));
    g_variant_builder_add(&changed, "{sv}", "Connectivity", property("Connectivity"));
    g_dbus_connection_emit_signal(connection_, nullptr, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                  g_variant_new("(sa{sv}as)", kInterface, &changed, nullptr), nullptr);
  }

  void run() {
    g_main_context_push_thread_default(context_);
    connection_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {
        nullptr,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
           gpointer data) -> GVariant* { return static_cast<StandInNetworkManager*>(data)->property(name); },
        nullptr,
        {}};
    guint registration = 0;
    if (connection_ != nullptr && node != nullptr) {
      registration =
          g_dbus_connection_register_object(connection_, kPath, node->interfaces[0], &vtable, this, nullptr, nullptr);
      GVariant* reply = g_dbus_connection_call_sync(
          connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
          g_variant_new("(su)", kInterface, 0u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      owned_ = registration != 0 && reply != nullptr;
      if (reply != nullptr) g_variant_unref(reply);
    }
    if (node != nullptr) g_dbus_node_info_unref(node);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      started_ = true;
    }
    ready_.notify_all();
    g_main_loop_run(loop_);
    if (registration != 0) g_dbus_connection_unregister_object(connection_, registration);
    if (connection_ != nullptr) {
      g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
    g_main_context_pop_thread_default(context_);
  }

  std::string address_;
  GMainContext* context_ = g_main_context_new();
  GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
  GDBusConnection* connection_ = nullptr;
  std::atomic<bool> online_ = true;
  bool owned_ = false;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  std::thread thread_;
};

class OfflineTest : public StoreTest {
 protected:
  void SetUp() override {
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", system_bus_.address().c_str(), TRUE);
    g_setenv("GIO_USE_NETWORK_MONITOR", "networkmanager", TRUE);
    network_ = std::make_unique<StandInNetworkManager>(system_bus_.address());
    ASSERT_TRUE(network_->owned());
    StoreTest::SetUp();
  }

  void TearDown() override {
    store.reset();
    network_.reset();
  }

  void set_online(bool online) { network_->set_online(online); }

  PrivateBus system_bus_;
  std::unique_ptr<StandInNetworkManager> network_;
};

TEST_F(OfflineTest, NothingIsPolledWhileOfflineAndEverythingIsFetchedTheMomentItEnds) {
  g_setenv("IRVELO_TEST_POLL_SECONDS", "1", TRUE);
  g_setenv("IRVELO_TEST_PENDING_RETRY_MS", "100", TRUE);
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  EXPECT_FALSE(store->offline);
  EXPECT_STREQ(G_OBJECT_TYPE_NAME(g_network_monitor_get_default()), "GNetworkMonitorNM");
  start_timer("");

  set_online(false);
  ASSERT_TRUE(run_until([this] { return store->offline; }));
  // The lid-close race: the stop itself is still tried, and kept.
  server.refuse_connections();
  ASSERT_TRUE(store->stop());
  ASSERT_TRUE(run_until([this] { return store->pending_action && !store->busy; }));

  server.accept_connections();
  server.clear_requests();
  int polls = 0;
  store->polled.connect([&] { ++polls; });
  ASSERT_TRUE(run_until([&] { return polls >= 3; }));
  EXPECT_TRUE(sent().empty()) << "neither polls nor tries while offline: " << testing::PrintToString(sent());
  EXPECT_FALSE(store->error.has_value()) << store->error.value_or("");

  set_online(true);
  // The poll never asks for the account: only the refresh on return does.
  ASSERT_TRUE(run_until([this] { return !store->offline && was_sent("GET /api/v1/me"); }));
  ASSERT_TRUE(run_until([this] { return !store->pending_action; }));
  EXPECT_TRUE(was_sent("POST " + ws_path("/timer/stop")));
}

}  // namespace
}  // namespace irvelo::test
