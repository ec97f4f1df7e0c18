#include "api/url.hpp"

#include "api/text.hpp"

#include <glib.h>
#include <sys/random.h>

#include <stdexcept>
#include <vector>

#include "core/owned.hpp"

namespace irvelo {

std::string base64url(const unsigned char* bytes, std::size_t n) {
  if (n == 0) return {};
  const CharPtr encoded(g_base64_encode(bytes, n));
  std::string out(encoded.get());
  for (char& c : out) {
    if (c == '+')
      c = '-';
    else if (c == '/')
      c = '_';
  }
  while (!out.empty() && out.back() == '=') out.pop_back();
  return out;
}

std::string random_urlsafe(std::size_t n) {
  std::vector<unsigned char> buffer(n);
  std::size_t filled = 0;
  while (filled < n) {
    const ssize_t got = getrandom(buffer.data() + filled, n - filled, 0);
    if (got < 0) throw std::runtime_error("getrandom failed");
    filled += static_cast<std::size_t>(got);
  }
  return base64url(buffer.data(), n);
}

std::string pkce_challenge(std::string_view verifier) {
  guint8 digest[32];
  gsize length = sizeof digest;
  const ChecksumPtr sum(g_checksum_new(G_CHECKSUM_SHA256));
  g_checksum_update(sum.get(), reinterpret_cast<const guchar*>(verifier.data()), static_cast<gssize>(verifier.size()));
  g_checksum_get_digest(sum.get(), digest, &length);
  return base64url(digest, length);
}

std::string url_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (g_ascii_isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::optional<std::string> normalise_server_url(std::string_view input) {
  std::string text = trimmed(input);
  if (text.empty()) return std::nullopt;

  if (text.find("://") == std::string::npos) text = "https://" + text;
  while (!text.empty() && text.back() == '/') text.pop_back();

  // GLib's parser stops at an embedded NUL; such text is not an address.
  if (text.find('\0') != std::string::npos) return std::nullopt;
  // Nor is text with white space inside, which GLib's parser lets through.
  // Kept, "host/ /" would give "https://host/ ", which the next normalisation
  // (the next settings load) turns into another address, losing the key
  // stored under the first.
  if (text.find_first_of(kBlank) != std::string::npos) return std::nullopt;
  const UriPtr uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr));
  if (!uri) return std::nullopt;
  if (g_uri_get_query(uri.get()) != nullptr || g_uri_get_fragment(uri.get()) != nullptr) return std::nullopt;

  const char* host = g_uri_get_host(uri.get());
  if (host == nullptr || *host == '\0') return std::nullopt;
  const std::string_view scheme = g_uri_get_scheme(uri.get());
  if (scheme == "https") return text;
  if (scheme == "http") {
    const std::string_view h = host;
    if (h == "localhost" || h == "127.0.0.1" || h == "::1") return text;
  }
  return std::nullopt;
}

}  // namespace irvelo
