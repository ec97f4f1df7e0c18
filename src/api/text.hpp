#pragma once

#include <string>
#include <string_view>

namespace irvelo {

// The white space of the C locale: what users' pasted keys, addresses and
// descriptions are trimmed of.
inline constexpr std::string_view kBlank = " \t\n\v\f\r";

// `text` without leading and trailing white space.
[[nodiscard]] inline std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kBlank) - first + 1));
}

}  // namespace irvelo
