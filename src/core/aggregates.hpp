#pragma once

// Totals, recent entries and required-field checks over the service's records.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "api/records.hpp"

namespace irvelo {

// The week's entries with the running entry merged in once, at the end.
[[nodiscard]] std::vector<api::TimeEntry> week_entries(const std::vector<api::TimeEntry>& entries,
                                                       const std::optional<api::TimeEntry>& running);

// Sum over the entries that started on the date of `now` in `zone`.
[[nodiscard]] std::int64_t today_seconds(const std::vector<api::TimeEntry>& entries, std::int64_t now,
                                         const std::string& zone);

[[nodiscard]] std::int64_t week_seconds(const std::vector<api::TimeEntry>& entries, std::int64_t now);

// The same over week_entries(entries, running), without copying the entries:
// the views ask for both totals on every clock tick.
[[nodiscard]] std::int64_t today_seconds(const std::vector<api::TimeEntry>& entries,
                                         const std::optional<api::TimeEntry>& running, std::int64_t now,
                                         const std::string& zone);
[[nodiscard]] std::int64_t week_seconds(const std::vector<api::TimeEntry>& entries,
                                        const std::optional<api::TimeEntry>& running, std::int64_t now);

// At most n finished entries, the latest of each description/project/task, newest first.
[[nodiscard]] std::vector<api::TimeEntry> recent_entries(const std::vector<api::TimeEntry>& entries, std::size_t n);

// The translated labels of the missing fields joined by ", "; empty when none is missing.
[[nodiscard]] std::string missing_required_fields(const api::TrackingRules& rules, const std::string& description,
                                                  bool has_project, bool has_task, bool project_has_tasks);

}  // namespace irvelo
