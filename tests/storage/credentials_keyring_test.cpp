// Against the real Secret Service: the gnome-keyring-daemon (secrets
// component, unlocked) that scripts/test starts on the private session bus.
// Every test uses server addresses of its own, as tests run in parallel
// against the one keyring.

#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <optional>
#include <string>

#include "credentials_test_support.hpp"
#include "storage/credentials.hpp"

namespace irvelo {
namespace {

using test::exists;
using test::fallback_file;
using test::unique_server;
using test::write_file;

constexpr const char* kSchemaName = "com.larkspan.Irvelo.ApiKey";

struct ToolResult {
  bool ran = false;
  int status = -1;
  std::string out;
};

ToolResult secret_tool(std::vector<std::string> args) {
  args.insert(args.begin(), "secret-tool");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ToolResult result;
  gchar* out = nullptr;
  GError* error = nullptr;
  // Without G_MESSAGES_DEBUG (set by LogCapture), whose output would mix with the secret.
  gchar** envp = g_environ_unsetenv(g_get_environ(), "G_MESSAGES_DEBUG");
  result.ran = g_spawn_sync(nullptr, argv.data(), envp,
                            static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                            nullptr, &out, nullptr, &result.status, &error);
  g_strfreev(envp);
  if (error != nullptr) {
    ADD_FAILURE() << "cannot run secret-tool: " << error->message;
    g_error_free(error);
  }
  if (out != nullptr) {
    result.out = out;
    g_free(out);
  }
  return result;
}

// The secret of the item with our schema name and this server, as an
// independent client (secret-tool) sees it in the keyring.
std::optional<std::string> keyring_item(const std::string& server) {
  const auto r = secret_tool({"lookup", "xdg:schema", kSchemaName, "server", server});
  if (!r.ran || r.status != 0) return std::nullopt;
  std::string secret = r.out;
  if (!secret.empty() && secret.back() == '\n') secret.pop_back();
  return secret;
}

class CredentialsKeyring : public test::CredentialsTest {
 protected:
  void SetUp() override {
    // The keyring must answer, else these tests would silently test the fallback.
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (service == nullptr) {
      const std::string message = error != nullptr ? error->message : "unknown error";
      g_clear_error(&error);
      FAIL() << "no Secret Service on the session bus (run through scripts/test): " << message;
    }
    g_object_unref(service);
  }

  void TearDown() override {
    for (const auto& s : servers_) Credentials::clear(s);
    test::CredentialsTest::TearDown();
  }

  std::string server(const std::string& tag) {
    servers_.push_back(unique_server(tag));
    return servers_.back();
  }

  std::vector<std::string> servers_;
};

TEST_F(CredentialsKeyring, NothingStoredGivesNothingAndNoMessage) {
  (void)key();
  EXPECT_EQ(Credentials::load(server("empty")), std::nullopt);
  EXPECT_TRUE(logs_.own().empty()) << logs_.own().front().message;
}

TEST_F(CredentialsKeyring, StoreThenLoadGoesToTheKeyring) {
  const std::string a = server("a");
  const std::string k = key();
  KeyPlace stored_in = KeyPlace::Nowhere;
  ASSERT_TRUE(Credentials::store(a, k, &stored_in));
  EXPECT_EQ(stored_in, KeyPlace::Keyring);
  KeyPlace found_in = KeyPlace::Nowhere;
  EXPECT_EQ(Credentials::load(a, &found_in), k);
  EXPECT_EQ(found_in, KeyPlace::Keyring);
  EXPECT_FALSE(exists(fallback_file()));
  EXPECT_TRUE(logs_.own().empty());

  // Another client finds the item under the schema name, with the label.
  EXPECT_EQ(keyring_item(a), k);
  const auto search = secret_tool({"search", "--all", "xdg:schema", kSchemaName, "server", a});
  EXPECT_NE(search.out.find("label = Irvelo API key (" + a + ")"), std::string::npos) << search.out;
}

TEST_F(CredentialsKeyring, SuccessfulStoreRemovesTheFallbackFile) {
  const std::string a = server("a");
  const std::string old_key = key();
  const std::string k = key();
  g_mkdir_with_parents(config_dir().c_str(), 0700);
  write_file(fallback_file(), a + "\n" + old_key + "\n", 0600);

  ASSERT_TRUE(Credentials::store(a, k));
  EXPECT_FALSE(exists(fallback_file()));
  EXPECT_EQ(Credentials::load(a), k);
  EXPECT_EQ(keyring_item(a), k);
}

TEST_F(CredentialsKeyring, StoreReplacesTheKeyOfTheSameServer) {
  const std::string a = server("a");
  const std::string first = key();
  const std::string second = key();
  ASSERT_TRUE(Credentials::store(a, first));
  ASSERT_TRUE(Credentials::store(a, second));
  EXPECT_EQ(Credentials::load(a), second);
  EXPECT_EQ(keyring_item(a), second);
}

TEST_F(CredentialsKeyring, KeysAreKeptApartPerServer) {
  const std::string a = server("a");
  const std::string a_slash = a + "/";
  servers_.push_back(a_slash);
  const std::string b = server("b");
  const std::string ka = key();
  const std::string ka_slash = key();
  const std::string kb = key();

  ASSERT_TRUE(Credentials::store(a, ka));
  EXPECT_EQ(Credentials::load(a_slash), std::nullopt) << "a trailing slash makes another server";
  EXPECT_EQ(Credentials::load(b), std::nullopt);

  ASSERT_TRUE(Credentials::store(a_slash, ka_slash));
  ASSERT_TRUE(Credentials::store(b, kb));
  EXPECT_EQ(Credentials::load(a), ka);
  EXPECT_EQ(Credentials::load(a_slash), ka_slash);
  EXPECT_EQ(Credentials::load(b), kb);
  EXPECT_EQ(keyring_item(a), ka);
  EXPECT_EQ(keyring_item(a_slash), ka_slash);
}

TEST_F(CredentialsKeyring, ClearRemovesOnlyThatServersItem) {
  const std::string a = server("a");
  const std::string b = server("b");
  const std::string ka = key();
  const std::string kb = key();
  ASSERT_TRUE(Credentials::store(a, ka));
  ASSERT_TRUE(Credentials::store(b, kb));

  Credentials::clear(a);
  EXPECT_EQ(Credentials::load(a), std::nullopt);
  EXPECT_EQ(keyring_item(a), std::nullopt);
  EXPECT_EQ(Credentials::load(b), kb);

  Credentials::clear(a);  // again: nothing to clear, nothing reported
  EXPECT_TRUE(logs_.own().empty());
}

TEST_F(CredentialsKeyring, ClearAlsoDeletesAFallbackFileOfAnotherServer) {
  const std::string a = server("a");
  const std::string b = server("b");
  const std::string kb = key();
  g_mkdir_with_parents(config_dir().c_str(), 0700);
  write_file(fallback_file(), b + "\n" + kb + "\n", 0600);
  EXPECT_EQ(Credentials::load(b), kb) << "nothing in the keyring for b: the fallback file answers";

  Credentials::clear(a);
  EXPECT_FALSE(exists(fallback_file()));
  EXPECT_EQ(Credentials::load(b), std::nullopt);
}

}  // namespace
}  // namespace irvelo
