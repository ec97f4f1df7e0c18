#include <regex>

#include "api/defaults.hpp"
#include "core/store_random.hpp"
#include "storage/credentials.hpp"
#include "store_fixture.hpp"

namespace irvelo::test {
namespace {

using Phase = TrackerStore::Phase;

TEST_F(StoreTest, KeySignInAdoptsTheTrimmedKeyAndLoads) {
  persistent_store();
  EXPECT_EQ(store->phase, Phase::SignedOut);
  store->sign_in(server.base_url() + "/", "  " + server.api_key() + " \n");
  EXPECT_TRUE(store->busy);
  ASSERT_TRUE(wait_ready());
  EXPECT_EQ(store->api_key, server.api_key());
  // Kept beside the loading; the settings follow the key.
  ASSERT_TRUE(run_until([&] { return store->key_place == KeyPlace::Keyring; }));
  EXPECT_EQ(Credentials::load(server.base_url()), server.api_key());
  EXPECT_EQ(settings.key_origin, "personal");
  EXPECT_EQ(settings.server_url, server.base_url());
  EXPECT_FALSE(store->workspace_id.empty());
  EXPECT_EQ(settings.workspace_id, store->workspace_id);
  EXPECT_TRUE(store->bootstrap.has_value());
  EXPECT_FALSE(store->error.has_value());
  const auto lines = sent();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "GET /api/health");
  EXPECT_EQ(lines[1], "GET /api/v1/me");

  // A typed key is not revoked on sign-out, only forgotten.
  server.clear_requests();
  store->sign_out();
  EXPECT_EQ(store->phase, Phase::SignedOut);
  EXPECT_TRUE(run_until([&] { return Credentials::load(server.base_url()) == std::nullopt; }));
  run_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(sent().empty());
}

TEST_F(StoreTest, KeySignInFailuresLeaveTheStoreSignedOut) {
  struct Row {
    const char* name;
    std::string server_text;
    std::string key;
    std::string message;
    bool sends;
  };
  std::string closed_port;
  {
    devserver::DevServer gone;
    closed_port = gone.base_url();
  }

  const Row rows[] = {
      {"blank key", server.base_url(), "   ", "API keys start with iv_", false},
      {"wrong prefix", server.base_url(), "key_123", "API keys start with iv_", false},
      {"refused address", "ftp://example.org", server.api_key(), "That address is not an Irvelo server.", false},
      {"plain http elsewhere", "http://example.org", server.api_key(), "That address is not an Irvelo server.", false},
      {"unknown key", server.base_url(), "iv_not-a-key", "That API key is not valid.", true},
      {"bare prefix", server.base_url(), "iv_", "That API key is not valid.", true},
  };
  persistent_store();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    server.clear_requests();
    store->sign_in(row.server_text, row.key);
    ASSERT_TRUE(run_until([this] { return !store->busy; }));
    EXPECT_EQ(store->error.value_or(""), row.message);
    EXPECT_EQ(store->phase, Phase::SignedOut);
    EXPECT_TRUE(store->api_key.empty());
    EXPECT_EQ(!sent().empty(), row.sends);
  }
  EXPECT_TRUE(run_until([&] { return Credentials::load(server.base_url()) == std::nullopt; }));
  EXPECT_EQ(settings.key_origin, "");

  store->sign_in(closed_port, server.api_key());
  ASSERT_TRUE(run_until([this] { return !store->busy; }));
  EXPECT_TRUE(store->error.has_value());
  EXPECT_EQ(store->phase, Phase::SignedOut);
}

TEST_F(StoreTest, KeySignInRefusesAServerThatIsNotThisService) {
  persistent_store();
  server.inject_fault("/api/health", {.status = 200, .body = R"({"ok":true,"name":"other","version":"1"})"});
  store->sign_in(server.base_url(), server.api_key());
  ASSERT_TRUE(run_until([this] { return !store->busy; }));
  EXPECT_EQ(store->error.value_or(""), "That address is not an Irvelo server.");
  EXPECT_FALSE(was_sent("GET /api/v1/me"));
}

TEST(NormalizedServer, BlankMeansTheDefaultService) {
  EXPECT_EQ(TrackerStore::normalized_server(""), std::string(kDefaultServerUrl));
  EXPECT_EQ(TrackerStore::normalized_server(" \t\n"), std::string(kDefaultServerUrl));
  EXPECT_EQ(TrackerStore::normalized_server("time.example.org/"), "https://time.example.org");
  EXPECT_EQ(TrackerStore::normalized_server("http://time.example.org"), std::nullopt);
}

struct ConnectUrl {
  std::string challenge;
  std::string state;
};

class BrowserSignInTest : public StoreTest {
 protected:
  // Starts the browser sign-in and returns the parts of the address it opened.
  ConnectUrl begin() {
    opened.clear();
    store->sign_in_with_browser(server.base_url(), [this](const std::string& url) { opened = url; });
    EXPECT_TRUE(run_until([this] { return !opened.empty(); }));
    std::smatch m;
    const std::regex shape("^" + server.base_url() +
                           R"(/extension/connect\?challenge=([A-Za-z0-9_-]{43})&state=([A-Za-z0-9_-]{32}))"
                           R"(&redirect_uri=irvelo%3A%2F%2Fconnect&browser=Linux%20app$)");
    EXPECT_TRUE(std::regex_match(opened, m, shape)) << opened;
    if (m.size() != 3) return {};
    return {m[1], m[2]};
  }

  std::string opened;
};

TEST_F(BrowserSignInTest, CallbackWithTheRightStateExchangesTheCode) {
  persistent_store();
  const ConnectUrl connect = begin();
  EXPECT_TRUE(store->busy);
  ASSERT_TRUE(store->pending);
  EXPECT_EQ(store->pending->challenge, connect.challenge);
  const std::string code = server.issue_connect_code(connect.challenge);

  EXPECT_TRUE(store->handle_callback("irvelo://connect?code=" + code + "&state=" + connect.state));
  ASSERT_TRUE(wait_ready());
  EXPECT_FALSE(store->error.has_value());
  EXPECT_TRUE(store->api_key.starts_with("iv_"));
  EXPECT_NE(store->api_key, server.api_key());
  ASSERT_TRUE(run_until([&] { return store->key_place == KeyPlace::Keyring; }));
  EXPECT_EQ(settings.key_origin, "connect");
  EXPECT_EQ(Credentials::load(server.base_url()), store->api_key);
  EXPECT_FALSE(store->pending);

  // A browser-issued key is revoked at the service before the session ends.
  server.clear_requests();
  store->sign_out();
  EXPECT_EQ(store->phase, Phase::Ready);  // nothing changes while the revocation is in flight
  ASSERT_TRUE(run_until([this] { return store->phase == Phase::SignedOut; }));
  EXPECT_TRUE(was_sent("DELETE /api/v1/extension/token"));
  EXPECT_TRUE(run_until([&] { return Credentials::load(server.base_url()) == std::nullopt; }));
}

TEST_F(BrowserSignInTest, WrongStateCancelAndForeignAddresses) {
  persistent_store();
  ConnectUrl connect = begin();
  const std::string code = server.issue_connect_code(connect.challenge);
  EXPECT_TRUE(store->handle_callback("irvelo://connect?code=" + code + "&state=forged"));
  EXPECT_FALSE(store->busy);
  EXPECT_EQ(store->error.value_or(""), "Your session expired. Sign in again.");
  EXPECT_FALSE(store->pending);
  // The right state now finds nothing pending.
  EXPECT_TRUE(store->handle_callback("irvelo://connect?code=" + code + "&state=" + connect.state));
  run_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(was_sent("POST /api/v1/extension/token"));
  EXPECT_EQ(store->phase, Phase::SignedOut);

  connect = begin();
  store->cancel_browser_sign_in();
  EXPECT_FALSE(store->busy);
  EXPECT_FALSE(store->error.has_value());
  EXPECT_TRUE(store->handle_callback("irvelo://connect?code=x&state=" + connect.state));
  run_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(was_sent("POST /api/v1/extension/token"));

  for (const char* uri : {"irvelo://other?code=x&state=y", "https://connect?code=x", "irvelo:connect", "",
                          "not a uri at all", "IRVELO://CONNECT?code=x"}) {
    EXPECT_FALSE(store->handle_callback(uri)) << uri;
  }
}

TEST_F(BrowserSignInTest, ACodeWithoutAUsableKeyIsNotASession) {
  persistent_store();
  const ConnectUrl connect = begin();
  server.inject_fault(
      "/api/v1/extension/token",
      {.status = 200, .body = R"({"apiKey":"","user":{"id":"u","email":"e","name":"n"},"workspaces":[]})"});
  EXPECT_TRUE(store->handle_callback("irvelo://connect?code=abc&state=" + connect.state));
  ASSERT_TRUE(run_until([this] { return !store->busy; }));
  EXPECT_EQ(store->phase, Phase::SignedOut);
  EXPECT_TRUE(store->api_key.empty());
  EXPECT_EQ(store->error.value_or(""), "That address is not an Irvelo server.");
}

TEST_F(BrowserSignInTest, AFailingRandomSourceEndsTheSignInWithAMessage) {
  persistent_store();
  detail::store_random_source() = [](std::size_t) -> std::string { throw std::runtime_error("getrandom failed"); };
  bool opened_any = false;
  store->sign_in_with_browser(server.base_url(), [&](const std::string&) { opened_any = true; });
  ASSERT_TRUE(run_until([this] { return !store->busy; }));
  EXPECT_FALSE(opened_any);
  EXPECT_FALSE(store->pending);
  EXPECT_EQ(store->error.value_or(""),
            "Could not start the browser sign-in: the system's random source is not available.");
}

}  // namespace
}  // namespace irvelo::test
