// What a user types as server address (and what a damaged settings file
// holds): normalise_server_url either refuses it or gives a canonical base
// address, which must itself be accepted unchanged.

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "api/url.hpp"
#include "support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using irvelo::fuzz::check;
  const auto out = irvelo::normalise_server_url(irvelo::fuzz::as_text(data, size));
  if (!out) return 0;
  // The scheme keeps the letter case it was typed in.
  const bool web =
      g_ascii_strncasecmp(out->c_str(), "https://", 8) == 0 || g_ascii_strncasecmp(out->c_str(), "http://", 7) == 0;
  check(web, "a base address has a web scheme");
  check(!out->ends_with("/"), "a base address has no trailing slash");
  check(out->find_first_of("?#") == std::string::npos, "a base address has no query or fragment");
  const auto again = irvelo::normalise_server_url(*out);
  check(again.has_value() && *again == *out, "a canonical address stays as it is");
  return 0;
}
