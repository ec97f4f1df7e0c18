#include "core/aggregates.hpp"

#include <glib/gi18n-lib.h>

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "api/text.hpp"
#include "core/time_format.hpp"

namespace irvelo {

std::int64_t api::TimeEntry::seconds_at(std::int64_t now) const {
  if (end_at) {
    if (duration_seconds) return *duration_seconds;
    if (end_unix) return saturating_sub(*end_unix, start_unix);
    return 0;
  }
  return now > start_unix ? saturating_sub(now, start_unix) : 0;
}

namespace {

// Visits what week_entries returns, in its order.
template <typename Visit>
void for_each_week_entry(const std::vector<api::TimeEntry>& entries, const std::optional<api::TimeEntry>& running,
                         Visit visit) {
  for (const auto& e : entries) {
    if (!running || e.id != running->id) visit(e);
  }
  if (running) visit(*running);
}

}  // namespace

std::vector<api::TimeEntry> week_entries(const std::vector<api::TimeEntry>& entries,
                                         const std::optional<api::TimeEntry>& running) {
  std::vector<api::TimeEntry> out;
  out.reserve(entries.size() + 1);
  for (const auto& e : entries) {
    if (running && e.id == running->id) continue;
    out.push_back(e);
  }
  if (running) out.push_back(*running);
  return out;
}

std::int64_t today_seconds(const std::vector<api::TimeEntry>& entries, std::int64_t now, const std::string& zone) {
  return today_seconds(entries, std::nullopt, now, zone);
}

std::int64_t week_seconds(const std::vector<api::TimeEntry>& entries, std::int64_t now) {
  return week_seconds(entries, std::nullopt, now);
}

std::int64_t today_seconds(const std::vector<api::TimeEntry>& entries, const std::optional<api::TimeEntry>& running,
                           std::int64_t now, const std::string& zone) {
  const ZoneCalendar calendar(zone);
  const LocalDate today = calendar.date_of(now);
  if (today == LocalDate{}) return 0;  // the clock itself cannot be placed on a calendar
  std::int64_t sum = 0;
  for_each_week_entry(entries, running, [&](const api::TimeEntry& e) {
    if (calendar.date_of(e.start_unix) == today) sum = saturating_add(sum, e.seconds_at(now));
  });
  return sum;
}

std::int64_t week_seconds(const std::vector<api::TimeEntry>& entries, const std::optional<api::TimeEntry>& running,
                          std::int64_t now) {
  std::int64_t sum = 0;
  for_each_week_entry(entries, running, [&](const api::TimeEntry& e) { sum = saturating_add(sum, e.seconds_at(now)); });
  return sum;
}

std::vector<api::TimeEntry> recent_entries(const std::vector<api::TimeEntry>& entries, std::size_t n) {
  // Sorted by reference: only the n entries shown are copied.
  std::vector<const api::TimeEntry*> finished;
  finished.reserve(entries.size());
  for (const auto& e : entries) {
    if (e.end_at) finished.push_back(&e);
  }
  std::stable_sort(finished.begin(), finished.end(),
                   [](const api::TimeEntry* a, const api::TimeEntry* b) { return a->start_unix > b->start_unix; });
  std::vector<api::TimeEntry> out;
  std::unordered_set<std::string> seen;
  for (const auto* e : finished) {
    if (out.size() >= n) break;
    std::string key = e->description + "|" + (e->project ? e->project->id : std::string()) + "|" +
                      (e->task ? e->task->id : std::string());
    if (seen.insert(std::move(key)).second) out.push_back(*e);
  }
  return out;
}

std::string missing_required_fields(const api::TrackingRules& rules, const std::string& description, bool has_project,
                                    bool has_task, bool project_has_tasks) {
  const bool description_empty = trimmed(description).empty();

  std::string out;
  auto add = [&out](const char* label) {
    if (!out.empty()) out += ", ";
    out += label;
  };
  if (rules.require_description && description_empty) add(_("description"));
  if (rules.require_project && !has_project) add(_("project"));
  if (rules.require_task && !has_task && project_has_tasks) add(_("task"));
  return out;
}

}  // namespace irvelo
