#include "api/decode.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "core/time_format.hpp"

namespace irvelo::api {
namespace {

using json = nlohmann::json;

constexpr const char* kDefaultColor = "#9e9e9e";

// The value under `key` when the enclosing value is an object that has the
// key and the value is not null ("usable"); nullptr otherwise.
const json* usable(const json& j, const char* key) {
  if (!j.is_object()) return nullptr;
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return nullptr;
  return &*it;
}

// Required string: `at` fails on a non-object or a missing key, get on a non-string.
std::string required_string(const json& j, const char* key) {
  return j.at(key).get<std::string>();
}

// Required object: the key must exist and hold a JSON object.
const json& required_object(const json& j, const char* key) {
  const json& v = j.at(key);
  if (!v.is_object()) throw DecodeError(std::string(key) + " must be an object");
  return v;
}

std::string string_or(const json& j, const char* key, std::string fallback) {
  const json* v = usable(j, key);
  if (v == nullptr) return fallback;
  return v->get<std::string>();
}

bool bool_or_false(const json& j, const char* key) {
  const json* v = usable(j, key);
  if (v == nullptr) return false;
  return v->get<bool>();
}

std::optional<std::string> opt_string(const json& j, const char* key) {
  const json* v = usable(j, key);
  if (v == nullptr) return std::nullopt;
  return v->get<std::string>();
}

// "weekStart": a boolean (0 or 1), an integer in the 32-bit range, or a finite
// floating number truncated toward zero into that range; 1 when absent or null.
int week_start_or_one(const json& j, const char* key) {
  const json* v = usable(j, key);
  if (v == nullptr) return 1;
  constexpr auto kMin = std::numeric_limits<int>::min();
  constexpr auto kMax = std::numeric_limits<int>::max();
  switch (v->type()) {
    case json::value_t::boolean:
      return v->get<bool>() ? 1 : 0;
    case json::value_t::number_integer: {
      const auto i = v->get<std::int64_t>();
      if (i < kMin || i > kMax) throw DecodeError(std::string(key) + " out of range");
      return static_cast<int>(i);
    }
    case json::value_t::number_unsigned: {
      const auto u = v->get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(kMax)) throw DecodeError(std::string(key) + " out of range");
      return static_cast<int>(u);
    }
    case json::value_t::number_float: {
      const double d = v->get<double>();
      // Truncation toward zero lands in [kMin, kMax] exactly for these bounds;
      // NaN fails both comparisons.
      if (!(d > static_cast<double>(kMin) - 1.0 && d < static_cast<double>(kMax) + 1.0))
        throw DecodeError(std::string(key) + " out of range");
      return static_cast<int>(d);
    }
    default:
      // The JSON library's own "type must be number" failure.
      (void)v->get<std::int64_t>();
      throw DecodeError(std::string(key) + " must be a number");
  }
}

// "durationSeconds": an integer, or a finite floating number truncated toward
// zero; never negative and at most 2^40; absent when absent or null.
std::optional<std::int64_t> duration_of(const json& j, const char* key) {
  const json* v = usable(j, key);
  if (v == nullptr) return std::nullopt;
  std::int64_t out = 0;
  switch (v->type()) {
    case json::value_t::number_integer:
      out = v->get<std::int64_t>();
      break;
    case json::value_t::number_unsigned: {
      const auto u = v->get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(kMaxDurationSeconds)) throw DecodeError(std::string(key) + " out of range");
      out = static_cast<std::int64_t>(u);
      break;
    }
    case json::value_t::number_float: {
      const double d = v->get<double>();
      // Negative values, NaN, infinities and anything whose truncation exceeds
      // 2^40 fail before any conversion.
      if (!(d >= 0.0 && d < static_cast<double>(kMaxDurationSeconds) + 1.0))
        throw DecodeError(std::string(key) + " out of range");
      out = static_cast<std::int64_t>(d);
      break;
    }
    default:
      (void)v->get<std::int64_t>();  // booleans, strings, arrays, objects: the library's own failure
      throw DecodeError(std::string(key) + " must be a number");
  }
  if (out < 0 || out > kMaxDurationSeconds) throw DecodeError(std::string(key) + " out of range");
  return out;
}

// A required list: an array, or null for an empty list; anything else fails.
template <typename F>
void for_each_in_list(const json& list, const char* key, F&& each) {
  if (list.is_null()) return;
  if (!list.is_array()) throw DecodeError(std::string(key) + " must be a list");
  for (const auto& element : list) each(element);
}

// An id/name list used only when present and an array ("tags", "tasks").
template <typename Ref>
std::vector<Ref> refs_if_array(const json& j, const char* key) {
  std::vector<Ref> out;
  if (!j.is_object()) return out;
  const auto it = j.find(key);
  if (it == j.end() || !it->is_array()) return out;
  out.reserve(it->size());
  for (const auto& element : *it) out.push_back(Ref{required_string(element, "id"), required_string(element, "name")});
  return out;
}

}  // namespace

std::int64_t instant_or_throw(const std::string& text) {
  const auto instant = parse_instant(text);
  if (!instant) throw DecodeError("invalid instant: " + text);
  return *instant;
}

Health parse_health(const json& j) {
  Health h;
  h.ok = bool_or_false(j, "ok");
  h.name = string_or(j, "name", "");
  h.version = string_or(j, "version", "");
  return h;
}

Health require_irvelo(Health health) {
  if (health.name != "irvelo") throw DecodeError("not irvelo");
  return health;
}

Health parse_irvelo_health(const json& j) {
  return require_irvelo(parse_health(j));
}

User parse_user(const json& j) {
  User u;
  u.id = required_string(j, "id");
  u.email = required_string(j, "email");
  u.name = string_or(j, "name", "");
  u.time_zone = string_or(j, "timeZone", "UTC");
  u.date_format = string_or(j, "dateFormat", "");
  u.time_format = string_or(j, "timeFormat", "h24");
  u.week_start = week_start_or_one(j, "weekStart");
  u.locale = string_or(j, "locale", "en");
  return u;
}

Membership parse_membership(const json& j) {
  if (!j.is_object()) throw DecodeError("membership must be an object");
  Membership m;
  m.workspace_id = required_string(j, "workspaceId");
  m.member_id = required_string(j, "memberId");
  m.name = required_string(j, "name");
  m.slug = required_string(j, "slug");
  m.role = required_string(j, "role");
  return m;
}

namespace {

void read_user_and_workspaces(const json& j, User& user, std::vector<Membership>& workspaces) {
  user = parse_user(required_object(j, "user"));
  for_each_in_list(j.at("workspaces"), "workspaces",
                   [&](const json& element) { workspaces.push_back(parse_membership(element)); });
}

}  // namespace

Me parse_me(const json& j) {
  Me me;
  read_user_and_workspaces(j, me.user, me.workspaces);
  return me;
}

TokenResponse parse_token_response(const json& j) {
  TokenResponse t;
  t.api_key = required_string(j, "apiKey");
  read_user_and_workspaces(j, t.user, t.workspaces);
  return t;
}

PickerProject parse_picker_project(const json& j) {
  PickerProject p;
  p.id = required_string(j, "id");
  p.name = required_string(j, "name");
  p.color = string_or(j, "color", kDefaultColor);
  p.client_name = opt_string(j, "clientName");
  p.billable_by_default = bool_or_false(j, "billableByDefault");
  p.tasks = refs_if_array<TaskRef>(j, "tasks");
  p.favorite = bool_or_false(j, "favorite");
  return p;
}

std::vector<PickerProject> parse_projects(const json& j) {
  std::vector<PickerProject> out;
  for_each_in_list(j.at("data"), "data", [&](const json& element) { out.push_back(parse_picker_project(element)); });
  return out;
}

TimeEntry parse_time_entry(const json& j) {
  TimeEntry e;
  e.id = required_string(j, "id");
  e.description = string_or(j, "description", "");
  e.start_at = required_string(j, "startAt");
  e.start_unix = instant_or_throw(e.start_at);
  e.end_at = opt_string(j, "endAt");
  if (e.end_at) e.end_unix = instant_or_throw(*e.end_at);
  e.duration_seconds = duration_of(j, "durationSeconds");
  e.is_billable = bool_or_false(j, "isBillable");
  if (const json* p = usable(j, "project")) {
    ProjectRef ref;
    ref.id = required_string(*p, "id");
    ref.name = required_string(*p, "name");
    ref.color = string_or(*p, "color", kDefaultColor);
    ref.client_name = opt_string(*p, "clientName");
    e.project = std::move(ref);
  }
  if (const json* t = usable(j, "task")) e.task = TaskRef{required_string(*t, "id"), required_string(*t, "name")};
  e.tags = refs_if_array<TagRef>(j, "tags");
  e.is_locked = bool_or_false(j, "isLocked");
  return e;
}

Bootstrap parse_bootstrap(const json& j) {
  Bootstrap b;
  const json& workspace = required_object(j, "workspace");
  b.workspace_id = required_string(workspace, "id");
  b.workspace_name = required_string(workspace, "name");
  b.workspace_slug = required_string(workspace, "slug");
  b.duration_format = string_or(workspace, "durationFormat", "full");
  b.workspace_time_zone = string_or(workspace, "timeZone", "UTC");

  const json& viewer = required_object(j, "viewer");
  b.role = string_or(viewer, "role", "member");
  b.time_zone = string_or(viewer, "timeZone", b.workspace_time_zone);
  b.week_start = week_start_or_one(viewer, "weekStart");
  b.time_format = string_or(viewer, "timeFormat", "h24");
  b.date_format = string_or(viewer, "dateFormat", "");

  const json& rules = required_object(j, "rules");
  const json& required = required_object(rules, "requiredFields");
  b.rules.require_project = bool_or_false(required, "project");
  b.rules.require_task = bool_or_false(required, "task");
  b.rules.require_tag = bool_or_false(required, "tag");
  b.rules.require_description = bool_or_false(required, "description");
  b.rules.force_timer = bool_or_false(rules, "forceTimer");
  b.rules.lock_before = opt_string(rules, "lockBefore");
  b.rules.members_can_change_billable = bool_or_false(rules, "membersCanChangeBillable");

  const json& can = required_object(j, "can");
  b.can_create_projects = bool_or_false(can, "createProjects");
  b.can_create_tags = bool_or_false(can, "createTags");
  b.can_change_billable = bool_or_false(can, "changeBillable");

  if (const json* running = usable(j, "running")) b.running = parse_time_entry(*running);
  for_each_in_list(j.at("entries"), "entries",
                   [&](const json& element) { b.entries.push_back(parse_time_entry(element)); });

  const json& week = required_object(j, "week");
  b.week_from = required_string(week, "from");
  b.week_to = required_string(week, "to");
  return b;
}

std::optional<TimeEntry> running_of(const json& j) {
  const json& running = j.at("running");
  if (running.is_null()) return std::nullopt;
  return parse_time_entry(running);
}

Empty ignore_answer(const json&) {
  return {};
}

}  // namespace irvelo::api
