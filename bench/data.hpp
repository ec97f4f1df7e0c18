#pragma once

// Large answers in the development service's own shapes: its demo account's
// bootstrap and project list, repeated until they hold the sizes a busy
// account reaches.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/tracker_store.hpp"

namespace irvelo::bench {

// A bootstrap answer body with `entries` finished entries spread over the
// seven days before `now`, newest first, and no running entry.
[[nodiscard]] std::string bootstrap_body(std::size_t entries, std::int64_t now);

// A project list answer body with `projects` projects of `tasks` tasks each.
[[nodiscard]] std::string projects_body(std::size_t projects, std::size_t tasks);

// A store without a key (no client, no refresh) holding a bootstrap of
// 5,000 entries with one timer running, and 3,000 projects of five tasks.
// Built once; a program's benchmarks share it.
[[nodiscard]] TrackerStore& busy_store();

}  // namespace irvelo::bench
