#include <glib.h>

#include <nlohmann/json.hpp>

#include "storage/credentials.hpp"
#include "store_fixture.hpp"

namespace irvelo::test {
namespace {

using Phase = TrackerStore::Phase;
using namespace std::chrono_literals;

TEST_F(StoreTest, WithoutAKeyNothingIsSent) {
  persistent_store();
  EXPECT_EQ(store->phase, Phase::SignedOut);
  EXPECT_FALSE(store->client);
  store->refresh_running();
  store->refresh_all();
  store->start();
  run_for(200ms);
  EXPECT_TRUE(sent().empty());
}

TEST_F(StoreTest, NothingIsPolledWhileLoading) {
  ephemeral_store();
  ASSERT_EQ(store->phase, Phase::Loading);
  store->refresh_running();
  ASSERT_TRUE(wait_ready());
  for (const auto& line : sent()) EXPECT_EQ(line.find("/time-entries/running"), std::string::npos) << line;
  store->refresh_running();  // once ready, the poll goes out
  ASSERT_TRUE(run_until([this] { return was_sent("GET " + ws_path("/time-entries/running")); }));
}

TEST(StoreRecovery, ThePollLoadsEverythingOnceAServiceDownAtStartComesUp) {
  Settings settings = Settings::load();
  std::uint16_t port = 0;
  std::string key;
  {
    devserver::DevServer probe;
    port = probe.port();
    key = probe.api_key();
  }
  TrackerStore store(settings, TrackerStore::Ephemeral{"http://127.0.0.1:" + std::to_string(port), key});
  ASSERT_TRUE(run_until([&] { return store.phase == Phase::Ready && store.error.has_value(); }));
  EXPECT_FALSE(store.me);

  devserver::DevServer::Options options;
  options.port = port;
  devserver::DevServer server(options);
  store.refresh_running();  // what the 30-second poll runs
  ASSERT_TRUE(run_until([&] { return store.bootstrap.has_value(); }));
  EXPECT_TRUE(store.me);
  EXPECT_FALSE(store.workspace_id.empty());
}

TEST_F(StoreTest, StoredKeyLoadsOnStartAndAnExpiredKeyEndsTheSession) {
  settings.server_url = server.base_url();
  ASSERT_TRUE(Credentials::store(server.base_url(), server.api_key()));
  persistent_store();
  EXPECT_EQ(store->phase, Phase::Loading);
  ASSERT_TRUE(wait_ready());
  ASSERT_TRUE(store->bootstrap);

  server.inject_fault("/api/v1/me",
                      {.status = 401, .body = R"({"error":{"code":"UNAUTHENTICATED","message":"Key revoked"}})"});
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return store->phase == Phase::SignedOut; }));
  EXPECT_EQ(store->error.value_or(""), "Your session expired. Sign in again.");
  EXPECT_TRUE(run_until([&] { return Credentials::load(server.base_url()) == std::nullopt; }));
  EXPECT_FALSE(store->bootstrap);
  EXPECT_FALSE(store->me);
  EXPECT_TRUE(store->projects.empty());
  EXPECT_FALSE(store->client);
  run_for(50ms);  // the retired client goes away from an idle callback without trouble
}

// No Secret Service answers and a file stands where the settings folder
// should be: the key cannot be kept, but the session works and says so.
TEST_F(StoreTest, AKeyThatCannotBeSavedKeepsTheSessionAndSaysSo) {
  g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", TRUE);
  const std::string folder = std::string(g_get_user_config_dir()) + "/irvelo-desktop";
  ASSERT_TRUE(g_file_set_contents(folder.c_str(), "blocker\n", -1, nullptr));
  persistent_store();
  store->sign_in(server.base_url(), server.api_key());
  ASSERT_TRUE(wait_ready());
  // The key is saved beside the loading.
  ASSERT_TRUE(run_until([this] { return store->error.has_value(); }));
  EXPECT_EQ(store->error.value_or(""),
            "Signed in, but your API key could not be saved. You will need to sign in again after a restart.");
  EXPECT_EQ(store->api_key, server.api_key());
  EXPECT_TRUE(store->bootstrap);
  EXPECT_TRUE(run_until([&] { return Credentials::load(server.base_url()) == std::nullopt; }));
}

TEST_F(StoreTest, EphemeralSessionsLeaveStoredCredentialsAndServerAlone) {
  settings.server_url = "https://stored.example.org";
  settings.key_origin = "connect";  // describes the stored key, not the one in use
  ASSERT_TRUE(Credentials::store(server.base_url(), "iv_stored"));
  ephemeral_store();
  EXPECT_FALSE(store->persist);
  ASSERT_TRUE(wait_ready());
  EXPECT_EQ(store->key_origin, "personal");

  server.clear_requests();
  store->sign_out();
  EXPECT_EQ(store->phase, Phase::SignedOut);
  run_for(100ms);
  EXPECT_FALSE(was_sent("DELETE /api/v1/extension/token"));  // never revoke a key we did not issue
  EXPECT_TRUE(run_until([&] { return Credentials::load(server.base_url()) == "iv_stored"; }));
  EXPECT_EQ(Settings::load().server_url, "https://stored.example.org");
  EXPECT_EQ(settings.server_url, "https://stored.example.org");
  EXPECT_EQ(Settings::load().workspace_id, store->workspace_id);  // the workspace choice is still written
}

TEST_F(StoreTest, DerivedViewsOfTheLoadedAccount) {
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  ASSERT_TRUE(store->me);
  const auto usable = store->workspaces();
  for (const auto& m : usable) EXPECT_NE(m.role, "client");
  EXPECT_LT(usable.size(), store->me->workspaces.size());
  ASSERT_TRUE(store->current_workspace());
  EXPECT_EQ(store->current_workspace()->workspace_id, server.workspace_ids().front());
  EXPECT_EQ(store->web_app_url(), server.base_url() + "/" + store->current_workspace()->slug + "/tracker");
  EXPECT_FALSE(store->time_zone().empty());

  // Choosing the client-only workspace by hand is not offered as the current one.
  store->workspace_id = server.workspace_ids().back();
  EXPECT_FALSE(store->current_workspace());
  EXPECT_EQ(store->web_app_url(), server.base_url());
}

TEST_F(StoreTest, AnAccountWithOnlyClientRolesHasNothingToTrackIn) {
  server.inject_fault("/api/v1/me", {.status = 200,
                                     .body = R"({"user":{"id":"u1","email":"a@b.c","name":"A"},"workspaces":[)"
                                             R"({"workspaceId":"w9","memberId":"m9","name":"Client view",)"
                                             R"("slug":"cv","role":"client"}]})",
                                     .count = 10});
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  EXPECT_EQ(store->error.value_or(""), "Your account has no workspace you can track time in.");
  EXPECT_TRUE(store->workspace_id.empty());
  EXPECT_FALSE(store->bootstrap);
  run_for(100ms);
  EXPECT_EQ(sent(), (std::vector<std::string>{"GET /api/v1/me"}));
  store->refresh_running();
  run_for(100ms);
  EXPECT_EQ(sent().size(), 1u);
}

TEST_F(StoreTest, LosingTheLastWorkspaceClearsItsDataAndItsCalls) {
  g_setenv("IRVELO_TEST_POLL_SECONDS", "1", TRUE);
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  store->start();
  // The refresh after the start has brought the running entry in.
  ASSERT_TRUE(run_until([this] { return store->bootstrap && store->bootstrap->running && !store->busy; }));

  for (const auto& id : server.workspace_ids()) server.remove_membership(id);
  // The poll finds the workspace gone and reads what the account has left.
  ASSERT_TRUE(run_until(
      [this] { return store->error.value_or("") == "Your account has no workspace you can track time in."; }));
  EXPECT_TRUE(store->workspace_id.empty());
  EXPECT_FALSE(store->bootstrap);
  EXPECT_TRUE(store->projects.empty());
  EXPECT_FALSE(store->running);
  EXPECT_FALSE(store->busy);

  server.clear_requests();
  store->start();
  store->set_tracking(true);
  EXPECT_FALSE(store->busy) << "an operation went out";
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return was_sent("GET /api/v1/me"); }));
  ASSERT_TRUE(wait_ready());
  for (const auto& line : sent()) EXPECT_EQ(line, "GET /api/v1/me");
  g_unsetenv("IRVELO_TEST_POLL_SECONDS");
}

TEST_F(StoreTest, AnswersAfterSignOutOrWorkspaceSwitchAreDropped) {
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  const std::string first = store->workspace_id;
  const std::string second = server.workspace_ids().at(1);

  // A slow bootstrap of the first workspace arrives after the switch.
  server.inject_fault("/api/v1/workspaces/" + first + "/bootstrap", delayed(300));
  store->refresh_all();
  ASSERT_TRUE(run_until([this, first] { return was_sent("GET /api/v1/workspaces/" + first + "/bootstrap"); }));
  server.clear_requests();
  store->select_workspace(second);
  EXPECT_FALSE(store->bootstrap);
  EXPECT_EQ(settings.workspace_id, second);
  ASSERT_TRUE(run_until([this] { return store->bootstrap.has_value(); }));
  run_for(400ms);
  ASSERT_TRUE(store->bootstrap);
  EXPECT_EQ(store->bootstrap->workspace_id, second);

  // A slow refresh that lands after sign-out changes nothing.
  server.inject_fault("/api/v1/me", delayed(300));
  store->refresh_all();
  store->sign_out();
  run_for(500ms);
  EXPECT_EQ(store->phase, Phase::SignedOut);
  EXPECT_FALSE(store->me);
  EXPECT_FALSE(store->bootstrap);
}

TEST_F(StoreTest, ErrorsAreReplacedAndDismissed) {
  ephemeral_store();
  ASSERT_TRUE(wait_ready());
  int changes = 0;
  store->changed.connect([&] { ++changes; });
  server.inject_fault("/api/v1/me", {.status = 500, .body = "<html>oops</html>", .content_type = "text/html"});
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return store->error.has_value(); }));
  EXPECT_EQ(*store->error, "The server answered with HTTP 500.");
  EXPECT_EQ(store->phase, Phase::Ready);
  EXPECT_TRUE(store->bootstrap);  // what was loaded stays
  store->dismiss_error();
  EXPECT_FALSE(store->error);
  EXPECT_GE(changes, 2);
}

}  // namespace
}  // namespace irvelo::test
