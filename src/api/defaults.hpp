#pragma once

#include <string_view>

namespace irvelo {

// The hosted service, used whenever no other server was chosen.
inline constexpr std::string_view kDefaultServerUrl = "https://app.irvelo.com";

}  // namespace irvelo
