#pragma once

// Address building and the PKCE proof for the browser sign-in.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace irvelo {

// Unpadded base64url (RFC 4648 section 5).
[[nodiscard]] std::string base64url(const unsigned char* bytes, std::size_t n);

// n bytes from the kernel's random source as base64url; throws std::runtime_error
// ("getrandom failed") when the source reports a failure.
[[nodiscard]] std::string random_urlsafe(std::size_t n);

// The S256 code challenge of RFC 7636 for the verifier.
[[nodiscard]] std::string pkce_challenge(std::string_view verifier);

// Percent-encodes every byte except RFC 3986's unreserved characters.
[[nodiscard]] std::string url_encode(std::string_view text);

// The canonical base address for what a user typed as server, or nothing when refused.
[[nodiscard]] std::optional<std::string> normalise_server_url(std::string_view input);

}  // namespace irvelo
