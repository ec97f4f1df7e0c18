// The browser sign-in: connect page, one-time code, PKCE exchange, revoke.

#include <glib.h>

#include "fixture.hpp"

namespace irvelo::test {
namespace {

using nlohmann::json;

// RFC 7636, appendix B.
constexpr const char* kVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr const char* kChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

std::string connect_path(const std::string& challenge, const std::string& state) {
  return "/extension/connect?challenge=" + challenge + "&state=" + state +
         "&redirect_uri=irvelo%3A%2F%2Fconnect&browser=Linux%20app";
}

// The href of the element with the given id, HTML entities of attributes undone.
std::string href_of(const std::string& html, const std::string& id) {
  const auto at = html.find("id=\"" + id + "\"");
  if (at == std::string::npos) return {};
  const auto start = html.find("href=\"", at);
  if (start == std::string::npos) return {};
  const auto end = html.find('"', start + 6);
  std::string href = html.substr(start + 6, end - start - 6);
  std::string out;
  for (std::size_t i = 0; i < href.size(); ++i) {
    if (href.compare(i, 5, "&amp;") == 0) {
      out += '&';
      i += 4;
    } else {
      out += href[i];
    }
  }
  return out;
}

std::map<std::string, std::string> query_of(const std::string& uri_text) {
  std::map<std::string, std::string> out;
  GUri* uri = g_uri_parse(uri_text.c_str(), G_URI_FLAGS_ENCODED_QUERY, nullptr);
  if (uri == nullptr) return out;
  if (const char* q = g_uri_get_query(uri)) {
    GHashTable* params = g_uri_parse_params(q, -1, "&", G_URI_PARAMS_NONE, nullptr);
    GHashTableIter it;
    gpointer k, v;
    g_hash_table_iter_init(&it, params);
    while (g_hash_table_iter_next(&it, &k, &v)) out[static_cast<char*>(k)] = static_cast<char*>(v);
    g_hash_table_unref(params);
  }
  g_uri_unref(uri);
  return out;
}

Reply exchange(Http& http, const std::string& base, const std::string& code, const std::string& verifier) {
  return http.post(base + "/api/v1/extension/token", json{{"code", code}, {"verifier", verifier}}.dump());
}

TEST_F(DevServerTest, ConnectPageLeadsToTheRedirectWithCodeAndState) {
  const Reply page = http.get(url(connect_path(kChallenge, "st4te-_x")));
  ASSERT_EQ(page.status, 200) << page.body;
  EXPECT_EQ(page.content_type, "text/html");
  EXPECT_NE(page.body.find("Linux app"), std::string::npos);
  const std::string allow = href_of(page.body, "allow");
  ASSERT_EQ(allow.rfind("irvelo://connect?", 0), 0u) << allow;
  const auto q = query_of(allow);
  EXPECT_EQ(q.count("state"), 1u);
  EXPECT_EQ(q.at("state"), "st4te-_x");
  ASSERT_EQ(q.count("code"), 1u);
  EXPECT_FALSE(q.at("code").empty());
  // The cancel link carries the state but no code.
  const auto deny = query_of(href_of(page.body, "deny"));
  EXPECT_EQ(deny.count("code"), 0u);
  EXPECT_EQ(deny.at("state"), "st4te-_x");
  // Each page hands out a new code.
  const auto again = query_of(href_of(http.get(url(connect_path(kChallenge, "s"))).body, "allow"));
  EXPECT_NE(again.at("code"), q.at("code"));
}

TEST_F(DevServerTest, StateIsPercentEncodedIntoTheRedirect) {
  const Reply page = http.get(url(connect_path(kChallenge, "a%26b%3Dc%20d")));
  const std::string allow = href_of(page.body, "allow");
  EXPECT_NE(allow.find("state=a%26b%3Dc%20d"), std::string::npos) << allow;
  EXPECT_EQ(query_of(allow).at("state"), "a&b=c d");
}

TEST_F(DevServerTest, ConnectPageRefusesBadRequests) {
  EXPECT_EQ(http.get(url("/extension/connect?state=x&redirect_uri=irvelo%3A%2F%2Fconnect")).status, 400);
  EXPECT_EQ(http.get(url("/extension/connect?challenge=short&state=x&redirect_uri=irvelo%3A%2F%2Fconnect")).status,
            400);
  EXPECT_EQ(http.get(url(std::string("/extension/connect?challenge=") + kChallenge + "&state=x")).status, 400);
  EXPECT_EQ(http.get(url(std::string("/extension/connect?challenge=") + kChallenge +
                         "&state=x&redirect_uri=javascript%3Aalert(1)"))
                .status,
            400);
}

TEST_F(DevServerTest, CodeExchangeGivesANewKeyOnce) {
  const auto q = query_of(href_of(http.get(url(connect_path(kChallenge, "s"))).body, "allow"));
  const std::string code = q.at("code");

  Reply r = exchange(http, server->base_url(), code, "wrong-verifier-wrong-verifier-wrong-verifier-x");
  EXPECT_EQ(r.status, 400) << r.body;
  EXPECT_EQ(r.json()["error"]["code"], "INVALID_VERIFIER");

  r = exchange(http, server->base_url(), code, kVerifier);
  ASSERT_EQ(r.status, 200) << r.body;
  const json j = r.json();
  const std::string new_key = j["apiKey"];
  EXPECT_EQ(new_key.rfind("iv_", 0), 0u);
  EXPECT_NE(new_key, key);
  EXPECT_EQ(j["user"]["id"], get("/api/v1/me").json()["user"]["id"]);
  EXPECT_TRUE(j["user"]["email"].is_string());
  ASSERT_EQ(j["workspaces"].size(), 3u);
  EXPECT_EQ(j["workspaces"][0]["workspaceId"], alpha);
  EXPECT_EQ(http.get(url("/api/v1/me"), new_key).status, 200);

  r = exchange(http, server->base_url(), code, kVerifier);
  EXPECT_EQ(r.status, 400) << "a code is good once";
  EXPECT_EQ(r.json()["error"]["code"], "INVALID_CODE");
}

TEST_F(DevServerTest, CodeExchangeChecksItsBody) {
  EXPECT_EQ(exchange(http, server->base_url(), "no-such-code", kVerifier).status, 400);
  Reply r = http.post(url("/api/v1/extension/token"), json{{"code", 1}}.dump());
  EXPECT_EQ(r.status, 422);
  EXPECT_TRUE(r.json()["error"]["fieldErrors"].contains("code"));
  EXPECT_TRUE(r.json()["error"]["fieldErrors"].contains("verifier"));
}

TEST_F(DevServerTest, IssuedCodesNeedTheMatchingVerifier) {
  const std::string code = server->issue_connect_code(kChallenge);
  EXPECT_EQ(exchange(http, server->base_url(), code, kChallenge).status, 400) << "the challenge is no verifier";
  EXPECT_EQ(exchange(http, server->base_url(), code, kVerifier).status, 200);
}

TEST_F(DevServerTest, RevokeEndsOnlyTheCallingKey) {
  const std::string extra = server->add_api_key();
  EXPECT_EQ(extra.rfind("iv_", 0), 0u);
  EXPECT_EQ(http.get(url("/api/v1/me"), extra).status, 200);
  Reply r = http.del(url("/api/v1/extension/token"), extra);
  EXPECT_EQ(r.status, 204);
  EXPECT_EQ(http.get(url("/api/v1/me"), extra).status, 401);
  EXPECT_EQ(http.del(url("/api/v1/extension/token"), extra).status, 401);
  EXPECT_EQ(get("/api/v1/me").status, 200);
  // The seeded key can be revoked as well.
  EXPECT_EQ(http.del(url("/api/v1/extension/token"), key).status, 204);
  EXPECT_EQ(get("/api/v1/me").status, 401);
}

}  // namespace
}  // namespace irvelo::test
