// The application object in this process, for what a command line alone
// cannot set up: a browser sign-in waiting for its callback, a description on
// the running entry. Later invocations are still the real executable.

#include <glib.h>
#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

#include "api/defaults.hpp"
#include "app/application.hpp"
#include "app_fixture.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

std::map<std::string, std::string> query_of(const std::string& url) {
  std::map<std::string, std::string> result;
  const auto mark = url.find('?');
  if (mark == std::string::npos) return result;
  GHashTable* params = g_uri_parse_params(url.c_str() + mark + 1, -1, "&", G_URI_PARAMS_NONE, nullptr);
  if (params == nullptr) return result;
  GHashTableIter iter;
  gpointer key = nullptr;
  gpointer value = nullptr;
  g_hash_table_iter_init(&iter, params);
  while (g_hash_table_iter_next(&iter, &key, &value)) {
    result[static_cast<const char*>(key)] = static_cast<const char*>(value);
  }
  g_hash_table_unref(params);
  return result;
}

// Runs `body` inside the application's own main loop, then quits it.
void run_application(const Glib::RefPtr<Application>& app, const std::function<void()>& body) {
  Glib::signal_idle().connect_once([app, body] {
    body();
    app->quit_app();
  });
  char name[] = "irvelo-desktop";
  char background[] = "--background";
  char* argv[] = {name, background, nullptr};
  app->run(2, argv);
}

// Runs `body` in the application signed in through the environment, once its
// store is loaded; whether the body ran to its end.
bool run_signed_in(const devserver::DevServer& server,
                   const std::function<void(Application& app, TrackerStore& store)>& body) {
  g_setenv("IRVELO_API_KEY", server.api_key().c_str(), TRUE);
  g_setenv("IRVELO_SERVER", server.base_url().c_str(), TRUE);
  auto app = Application::create();
  bool finished = false;
  run_application(app, [&] {
    TrackerStore& store = *app->store();
    ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::Ready && !store.busy; }));
    body(*app, store);
    finished = !::testing::Test::HasFatalFailure();
  });
  g_unsetenv("IRVELO_API_KEY");
  g_unsetenv("IRVELO_SERVER");
  return finished;
}

TEST_F(AppSession, CallbackArgumentReachesTheStore) {
  primary_ = getpid();
  auto app = Application::create();
  bool finished = false;
  run_application(app, [&] {
    TrackerStore& store = *app->store();
    // Signed out once the keyring has said it holds no key.
    ASSERT_TRUE(run_until([&] { return app->tray()->available(); }));
    ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::SignedOut; }));
    EXPECT_EQ(host_->string_property(item(), "IconName"), "com.larkspan.Irvelo-signedout-symbolic");
    EXPECT_EQ(tooltip_text(), "Not signed in");

    std::string url;
    store.sign_in_with_browser(server_->base_url(), [&](const std::string& opened) { url = opened; });
    ASSERT_TRUE(run_until([&] { return !url.empty(); }));
    const auto query = query_of(url);
    const std::string code = server_->issue_connect_code(query.at("challenge"));

    // The instance answers a command line only after handling it: a taken
    // callback would have used up the waiting sign-in by now.
    EXPECT_EQ(invoke({"irvelo:/connect?code=" + code + "&state=" + query.at("state")}), 0);
    EXPECT_NE(store.pending, nullptr) << "a single slash is not a callback";
    EXPECT_TRUE(store.api_key.empty());
    EXPECT_EQ(invoke({"irvelo://connect?code=" + code + "&state=" + query.at("state")}), 0);

    ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::Ready && !store.busy; }));
    EXPECT_FALSE(store.api_key.empty());
    EXPECT_EQ(count("POST", "/token"), 1);
    EXPECT_TRUE(
        run_until([&] { return host_->string_property(item(), "IconName") == "com.larkspan.Irvelo-idle-symbolic"; }));
    EXPECT_EQ(tooltip_text(), "Not tracking");
    finished = true;
  });
  EXPECT_TRUE(finished);
}

TEST_F(AppSession, DescriptionReachesTheTooltipEscaped) {
  primary_ = getpid();
  EXPECT_TRUE(run_signed_in(*server_, [&](Application& app, TrackerStore& store) {
    store.description = "R&D <b>review</b>";
    store.start();
    ASSERT_TRUE(run_until([&] { return store.running && !store.busy; }));
    ASSERT_TRUE(run_until([&] { return tooltip_text().find("review") != std::string::npos; }));
    EXPECT_EQ(tooltip_text(), "Tracking " + host_->string_property(item(), "XAyatanaLabel") +
                                  " \u00b7 R&amp;D &lt;b&gt;review&lt;/b&gt;");
    // A signed-out store drops a waiting action at its next change.
    store.stop();
    ASSERT_TRUE(run_until([&] { return !store.running && !store.busy; }));
    store.sign_out();
    ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::SignedOut; }));
    const int starts = count("POST", "/timer/start");
    app.run_when_ready([&] { store.start(); });
    store.changed.emit();
    // Signed in again, the dropped action must not come back.
    store.sign_in(server_->base_url(), server_->api_key());
    ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::Ready && !store.busy; }));
    // A surviving action would run from an idle callback and make the store busy at once.
    ASSERT_TRUE(run_until_idle());
    EXPECT_FALSE(store.busy);
    EXPECT_EQ(count("POST", "/timer/start"), starts);
    EXPECT_FALSE(store.running);
  }));
}

// A shortcut that had to wait is queued on the idle queue once the store is
// free; if something else (a forwarded --stop) made it busy again before the
// queue got there, the shortcut waits once more instead of acting twice.
TEST_F(AppSession, AQueuedShortcutWaitsAgainWhenTheStoreIsBusyOnceMore) {
  primary_ = getpid();
  EXPECT_TRUE(run_signed_in(*server_, [&](Application& app, TrackerStore& store) {
    const std::string timer = "/api/v1/workspaces/" + store.workspace_id + "/timer/";
    devserver::Fault slow;
    slow.status = 0;
    slow.delay_ms = 300;
    server_->inject_fault(timer + "start", slow);
    server_->inject_fault(timer + "stop", slow);
    server_->clear_requests();

    store.start();
    app.run_when_ready([&] { store.set_tracking(!store.running.has_value()); });
    ASSERT_TRUE(run_until([&] { return store.running && !store.busy; }));
    store.stop();
    ASSERT_TRUE(run_until([&] { return count("POST", "/timer/start") == 2 && store.running && !store.busy; }));
    std::vector<std::string> changes;
    for (const auto& r : server_->requests()) {
      if (r.method == "POST") changes.push_back(r.path);
    }
    EXPECT_EQ(changes, (std::vector<std::string>{timer + "start", timer + "stop", timer + "start"}));
  }));
}

TEST(EphemeralCredentials, FromTheEnvironment) {
  struct Row {
    const char* key;
    const char* server;
    bool present;
    std::string expected_server;
    std::string expected_key;
  };
  const std::string fallback(kDefaultServerUrl);
  const std::vector<Row> rows = {
      {nullptr, nullptr, false, "", ""},
      {nullptr, "http://127.0.0.1:9000", false, "", ""},
      // Set but empty or blank counts as unset: it must not replace a stored key with nothing.
      {"", "http://127.0.0.1:9000", false, "", ""},
      {" \t\n", nullptr, false, "", ""},
      {"iv_abc", nullptr, true, fallback, "iv_abc"},
      {"iv_abc", "", true, fallback, "iv_abc"},
      {" iv_abc ", "http://127.0.0.1:9000", true, "http://127.0.0.1:9000", " iv_abc "},
      {"iv_abc", "ftp://example.com", false, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.key ? row.key : "(unset)") + " @ " + (row.server ? row.server : "(unset)"));
    const auto ephemeral = ephemeral_credentials(row.key, row.server);
    ASSERT_EQ(ephemeral.has_value(), row.present);
    if (ephemeral) {
      EXPECT_EQ(ephemeral->server, row.expected_server);
      EXPECT_EQ(ephemeral->api_key, row.expected_key);
    }
  }
}

}  // namespace
}  // namespace irvelo::test
