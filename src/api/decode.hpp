#pragma once

// Wire decoding: pure functions from the service's parsed JSON
// answers to the records of records.hpp. Every decoder raises on the first
// value it cannot accept (the JSON library's own exceptions for missing keys
// and wrong types, DecodeError for the rest) and returns nothing partly; the
// request pipeline turns any such raise on a 2xx answer into BadResponse.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/records.hpp"

namespace irvelo::api {

// Raised for values the JSON library itself would accept but the service's
// shapes do not (unreadable instants, numbers out of range, a foreign service).
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest duration accepted from the service: 2^40 seconds.
inline constexpr std::int64_t kMaxDurationSeconds = std::int64_t{1} << 40;

// parse_instant, or DecodeError("invalid instant: " + text).
[[nodiscard]] std::int64_t instant_or_throw(const std::string& text);

[[nodiscard]] Health parse_health(const nlohmann::json& j);
// The service-name check of the health endpoint: the health record unchanged
// when its name is exactly "irvelo", DecodeError("not irvelo") otherwise.
[[nodiscard]] Health require_irvelo(Health health);
// parse_health followed by require_irvelo: the health endpoint's decoder.
[[nodiscard]] Health parse_irvelo_health(const nlohmann::json& j);

[[nodiscard]] User parse_user(const nlohmann::json& j);
[[nodiscard]] Membership parse_membership(const nlohmann::json& j);
[[nodiscard]] Me parse_me(const nlohmann::json& j);
[[nodiscard]] TokenResponse parse_token_response(const nlohmann::json& j);
[[nodiscard]] PickerProject parse_picker_project(const nlohmann::json& j);
[[nodiscard]] std::vector<PickerProject> parse_projects(const nlohmann::json& j);
[[nodiscard]] TimeEntry parse_time_entry(const nlohmann::json& j);
[[nodiscard]] Bootstrap parse_bootstrap(const nlohmann::json& j);
// The answer of the running-entry calls: "running" is required; null means no timer.
[[nodiscard]] std::optional<TimeEntry> running_of(const nlohmann::json& j);
// The decoder of the calls whose answer carries nothing of interest.
[[nodiscard]] Empty ignore_answer(const nlohmann::json& j);

}  // namespace irvelo::api
