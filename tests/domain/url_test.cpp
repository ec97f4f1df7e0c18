#include <gtest/gtest.h>

#include <set>

#include "api/defaults.hpp"
#include "api/url.hpp"

namespace irvelo {
namespace {

std::string b64(std::initializer_list<unsigned char> bytes) {
  std::vector<unsigned char> v(bytes);
  return base64url(v.data(), v.size());
}

TEST(Base64Url, UnpaddedUrlAlphabet) {
  EXPECT_EQ(b64({0xFB, 0xEF, 0xBE}), "----");
  EXPECT_EQ(b64({0x61}), "YQ");
  EXPECT_EQ(b64({0xFB, 0xFF}), "-_8");
  EXPECT_EQ(b64({}), "");
  EXPECT_EQ(b64({'f', 'o', 'o', 'b', 'a', 'r'}), "Zm9vYmFy");
}

TEST(RandomUrlsafe, LengthAlphabetAndVariety) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string token = random_urlsafe(48);
    ASSERT_EQ(token.size(), 64u);
    EXPECT_EQ(token.find_first_not_of(alphabet), std::string::npos) << token;
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 20u);
  EXPECT_EQ(random_urlsafe(24).size(), 32u);
  EXPECT_EQ(random_urlsafe(0), "");
}

TEST(PkceChallenge, Rfc7636AppendixB) {
  EXPECT_EQ(pkce_challenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  EXPECT_EQ(pkce_challenge("").size(), 43u);
}

TEST(UrlEncode, OnlyUnreservedCharactersStay) {
  EXPECT_EQ(url_encode("Linux app"), "Linux%20app");
  EXPECT_EQ(url_encode("a b/c?d=e&f"), "a%20b%2Fc%3Fd%3De%26f");
  EXPECT_EQ(url_encode("\xC3\xA9~-._"), "%C3%A9~-._");
  EXPECT_EQ(url_encode("a+b"), "a%2Bb");
  EXPECT_EQ(url_encode(std::string_view("\0\xff", 2)), "%00%FF");
  EXPECT_EQ(url_encode(""), "");
}

TEST(NormaliseServerUrl, WorkedExamples) {
  struct Row {
    const char* input;
    std::optional<std::string> expected;
  };
  const Row rows[] = {
      {"time.example.org", "https://time.example.org"},
      {"  time.example.org/ \t", "https://time.example.org"},
      {"https://time.example.org/base///", "https://time.example.org/base"},
      {"time.example.org:8443", "https://time.example.org:8443"},
      {"http://localhost:8080/", "http://localhost:8080"},
      {"http://127.0.0.1", "http://127.0.0.1"},
      {"http://[::1]:3000", "http://[::1]:3000"},
      {"https://Time.Example.ORG/Base", "https://Time.Example.ORG/Base"},
      {"HTTPS://time.example.org", "HTTPS://time.example.org"},
      {"https://time.example.org/api/v1", "https://time.example.org/api/v1"},
      {"https://user@time.example.org", "https://user@time.example.org"},
      {"http://time.example.org", std::nullopt},
      {"http://localhost.example.org", std::nullopt},
      {"ftp://time.example.org", std::nullopt},
      {"https://time.example.org/?a=1", std::nullopt},
      {"https://time.example.org/#top", std::nullopt},
      {"https://", std::nullopt},
      {"   ", std::nullopt},
      {"", std::nullopt},
      {"time.example.org/x://y", std::nullopt},
      {"time.example.org/ //", std::nullopt},
      {"https://time.example.org/a b", std::nullopt},
      {"https://time.example.org\t:8443", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input);
    EXPECT_EQ(normalise_server_url(row.input), row.expected);
    // The result is canonical: the settings file stores it and normalises it again on load.
    if (row.expected) {
      EXPECT_EQ(normalise_server_url(*row.expected), row.expected);
    }
  }
  EXPECT_EQ(normalise_server_url(std::string_view("https://a.org\0.evil", 19)), std::nullopt);
  EXPECT_EQ(normalise_server_url(kDefaultServerUrl), std::string(kDefaultServerUrl));
}

}  // namespace
}  // namespace irvelo
