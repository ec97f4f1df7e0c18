// A keyring that stays locked: the store waits for it without blocking,
// says so instead of signing out, and reads the key once it is unlocked.
// A real gnome-keyring-daemon on a bus of the test's own whose password
// prompter has no display, so that every unlock it asks for is dismissed.

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "storage/credentials.hpp"
#include "store_fixture.hpp"
#include "support/private_bus.hpp"
#include "support/temp_dir.hpp"

namespace irvelo::test {
namespace {

constexpr const char* kPassword = "keyring-test";
constexpr const char* kLogin = "/org/freedesktop/secrets/collection/login";

class StoreKeyringTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    {
      // What the bus starts (the prompter) inherits its environment.
      const std::string display = g_getenv("DISPLAY") != nullptr ? g_getenv("DISPLAY") : "";
      g_unsetenv("DISPLAY");
      bus_ = std::make_unique<PrivateBus>();
      if (!display.empty()) g_setenv("DISPLAY", display.c_str(), TRUE);
    }
    ASSERT_FALSE(bus_->address().empty());
    g_setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), TRUE);
    const std::string home = dir_.path();
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "HOME", home.c_str(), TRUE);
    env = g_environ_setenv(env, "XDG_DATA_HOME", (home + "/data").c_str(), TRUE);
    env = g_environ_setenv(env, "XDG_RUNTIME_DIR", home.c_str(), TRUE);
    const gchar* argv[] = {"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets", nullptr};
    gint input = -1;
    ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), env, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                         &daemon_, &input, nullptr, nullptr, nullptr));
    g_strfreev(env);
    ASSERT_EQ(write(input, kPassword, strlen(kPassword)), static_cast<ssize_t>(strlen(kPassword)));
    close(input);
    connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(connection_, nullptr);
    // The bus goes before the process does.
    g_dbus_connection_set_exit_on_close(connection_, FALSE);
    ASSERT_TRUE(run_until([this] {
      return call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                  g_variant_new("(s)", "org.freedesktop.secrets"), "(true,)");
    }));
  }

  void TearDown() override {
    store.reset();
    secret_service_disconnect();
    if (connection_ != nullptr) g_object_unref(connection_);
    if (daemon_ > 0) {
      kill(daemon_, SIGTERM);
      waitpid(daemon_, nullptr, 0);
    }
    bus_.reset();
  }

  // Calls a method and tells whether the printed reply is `expected` (any
  // reply when empty).
  bool call(const char* name, const char* path, const char* interface, const char* method, GVariant* parameters,
            const std::string& expected = {}) {
    GVariant* reply = g_dbus_connection_call_sync(connection_, name, path, interface, method, parameters, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply == nullptr) return false;
    gchar* printed = g_variant_print(reply, FALSE);
    const bool matches = expected.empty() || expected == printed;
    g_free(printed);
    g_variant_unref(reply);
    return matches;
  }

  bool lock() {
    return call("org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Lock",
                g_variant_new("(@ao)", g_variant_new_objv(&kLogin, 1)));
  }

  // The daemon's own way in for tests and tools: the password through a
  // plain session, no prompt.
  bool unlock() {
    GVariant* opened = g_dbus_connection_call_sync(connection_, "org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                   "org.freedesktop.Secret.Service", "OpenSession",
                                                   g_variant_new("(sv)", "plain", g_variant_new_string("")), nullptr,
                                                   G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (opened == nullptr) return false;
    const gchar* session = nullptr;
    GVariant* output = nullptr;
    g_variant_get(opened, "(v&o)", &output, &session);
    GVariant* secret =
        g_variant_new("(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
                      g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, kPassword, strlen(kPassword), 1), "text/plain");
    const bool done = call("org.freedesktop.secrets", "/org/freedesktop/secrets",
                           "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
                           g_variant_new("(o@(oayays))", kLogin, secret));
    g_variant_unref(output);
    g_variant_unref(opened);
    return done;
  }

  TempDir dir_{"irvelo-keyring"};
  std::unique_ptr<PrivateBus> bus_;
  GDBusConnection* connection_ = nullptr;
  GPid daemon_ = 0;
};

TEST_F(StoreKeyringTest, ALockedKeyringIsWaitedForToldAndTriedAgainWithoutSigningOut) {
  settings.server_url = server.base_url();
  settings.key_origin = "personal";
  ASSERT_TRUE(Credentials::store(server.base_url(), server.api_key()));
  ASSERT_TRUE(lock());

  store = std::make_unique<TrackerStore>(settings, std::nullopt);
  // The constructor asked and returned: nothing waits on the keyring's answer.
  EXPECT_EQ(store->keyring, TrackerStore::Keyring::Waiting);
  EXPECT_EQ(store->phase, TrackerStore::Phase::Loading);

  // The unlock the keyring asked for was dismissed: locked, not signed out.
  ASSERT_TRUE(run_until([this] { return store->keyring != TrackerStore::Keyring::Waiting; }));
  EXPECT_EQ(store->keyring, TrackerStore::Keyring::Locked);
  EXPECT_EQ(store->phase, TrackerStore::Phase::Loading);
  EXPECT_TRUE(store->api_key.empty());
  EXPECT_TRUE(sent().empty());

  ASSERT_TRUE(unlock());
  store->read_stored_key();
  ASSERT_TRUE(wait_ready());
  EXPECT_EQ(store->keyring, TrackerStore::Keyring::Idle);
  EXPECT_EQ(store->api_key, server.api_key());
  EXPECT_EQ(store->key_place, KeyPlace::Keyring);
}

}  // namespace
}  // namespace irvelo::test
