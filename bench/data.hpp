#pragma once

// Large answers in the development service's own shapes: its demo account's
// bootstrap and project list, repeated until they hold the sizes a busy
// account reaches.

#include <cstddef>
#include <cstdint>
#include <string>

namespace irvelo::bench {

// A bootstrap answer body with `entries` finished entries spread over the
// seven days before `now`, newest first, and no running entry.
[[nodiscard]] std::string bootstrap_body(std::size_t entries, std::int64_t now);

// A project list answer body with `projects` projects of `tasks` tasks each.
[[nodiscard]] std::string projects_body(std::size_t projects, std::size_t tasks);

}  // namespace irvelo::bench
