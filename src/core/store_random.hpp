#pragma once

// The random source of the browser sign-in, replaceable by tests so that a
// failing source can be simulated. Not part of the store's interface.

#include <cstddef>
#include <functional>
#include <string>

namespace irvelo::detail {

using RandomSource = std::function<std::string(std::size_t)>;

// Defaults to random_urlsafe.
RandomSource& store_random_source();

}  // namespace irvelo::detail
