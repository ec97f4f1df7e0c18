#pragma once

// Plain value records exchanged with the service. Decoding lives in decode.hpp;
// these carry no behaviour beyond TimeEntry::seconds_at.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace irvelo::api {

struct ProjectRef {
  std::string id;
  std::string name;
  std::string color;
  std::optional<std::string> client_name;
};

struct TaskRef {
  std::string id;
  std::string name;
};

struct TagRef {
  std::string id;
  std::string name;
};

struct TimeEntry {
  std::string id;
  std::string description;
  std::string start_at;
  std::optional<std::string> end_at;
  std::int64_t start_unix = 0;
  std::optional<std::int64_t> end_unix;
  std::optional<std::int64_t> duration_seconds;
  bool is_billable = false;
  std::optional<ProjectRef> project;
  std::optional<TaskRef> task;
  std::vector<TagRef> tags;
  bool is_locked = false;

  // Duration of the entry at the instant `now`; never negative for a running entry.
  [[nodiscard]] std::int64_t seconds_at(std::int64_t now) const;
};

struct PickerProject {
  std::string id;
  std::string name;
  std::string color;
  std::optional<std::string> client_name;
  bool billable_by_default = false;
  std::vector<TaskRef> tasks;
  bool favorite = false;
};

struct Membership {
  std::string workspace_id;
  std::string member_id;
  std::string name;
  std::string slug;
  std::string role;
};

struct User {
  std::string id;
  std::string email;
  std::string name;
  std::string time_zone;
  std::string date_format;
  std::string time_format;
  int week_start = 1;
  std::string locale;
};

struct Me {
  User user;
  std::vector<Membership> workspaces;
};

struct TokenResponse {
  std::string api_key;
  User user;
  std::vector<Membership> workspaces;
};

struct Health {
  bool ok = false;
  std::string name;
  std::string version;
};

struct TrackingRules {
  bool require_project = false;
  bool require_task = false;
  bool require_tag = false;
  bool require_description = false;
  bool force_timer = false;
  std::optional<std::string> lock_before;
  bool members_can_change_billable = false;
};

struct Bootstrap {
  std::string workspace_id;
  std::string workspace_name;
  std::string workspace_slug;
  std::string duration_format;
  std::string workspace_time_zone;
  std::string role;
  std::string time_zone;
  int week_start = 1;
  std::string time_format;
  std::string date_format;
  TrackingRules rules;
  bool can_create_projects = false;
  bool can_create_tags = false;
  bool can_change_billable = false;
  std::optional<TimeEntry> running;
  std::vector<TimeEntry> entries;
  std::string week_from;
  std::string week_to;
};

struct Error {
  enum class Kind { Unauthenticated, Api, Http, Network, BadResponse };

  Kind kind = Kind::Network;
  int status = 0;
  std::string code;
  std::string message;
  // std::map iterates in ascending byte order of the field names.
  std::map<std::string, std::vector<std::string>> field_errors;

  // The sentence shown to the user for this error, translated.
  [[nodiscard]] std::string describe() const;
};

// Placeholder value for calls whose answer carries nothing of interest.
struct Empty {};

template <typename T>
struct [[nodiscard]] Result {
  std::optional<T> value;
  std::optional<Error> error;

  static Result success(T v) { return Result{std::move(v), std::nullopt}; }
  static Result failure(Error e) { return Result{std::nullopt, std::move(e)}; }
  [[nodiscard]] bool ok() const { return value.has_value(); }
};

}  // namespace irvelo::api
