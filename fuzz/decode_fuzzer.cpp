// The service's answers as the client sees them: one exchange (status, body,
// transport failure) through the answer classification and one endpoint's
// decoder, then what the store computes from a decoded week.
//
// Input: byte 0 picks the decoder, byte 1 the status (its high bit adds a
// transport failure), the rest is the body.

#include <glib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "api/decode.hpp"
#include "api/pipeline.hpp"
#include "core/aggregates.hpp"
#include "support.hpp"

namespace {

using namespace irvelo;

constexpr std::array<int, 12> kStatuses = {200, 201, 204, 0, 301, 400, 401, 403, 404, 422, 500, 503};

// Instants around which the calculations run: the epoch, now-ish, the far ends.
constexpr std::array<std::int64_t, 4> kNows = {0, 1767225600, -62135596800, 253402300799};

template <typename T>
void check_result(const api::Result<T>& result) {
  fuzz::check(result.value.has_value() != result.error.has_value(), "a result holds exactly one of value and error");
  if (result.error) fuzz::check(!result.error->describe().empty(), "an error describes itself");
}

void use_entries(const std::vector<api::TimeEntry>& entries, const std::optional<api::TimeEntry>& running,
                 const std::string& zone) {
  const auto week = week_entries(entries, running);
  for (const std::int64_t now : kNows) {
    for (const auto& e : week) (void)e.seconds_at(now);
    (void)today_seconds(week, now, zone);
    (void)week_seconds(week, now);
  }
  const auto recent = recent_entries(week, 5);
  fuzz::check(recent.size() <= 5, "at most five recent entries");
}

template <typename T, typename Decode>
std::optional<T> run(int status, const std::string& body, const std::optional<std::string>& transport,
                     const Decode& decode) {
  auto result = api::classify<T>(status, body, transport, decode);
  check_result(result);
  if (status < 200 || status > 299 || transport) fuzz::check(!result.value, "only a 2xx answer succeeds");
  return std::move(result.value);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::isolate_environment();
  // Decoded instants are compared in the zones the service names.
  g_setenv("TZ", "UTC", TRUE);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int status = kStatuses[(data[1] & 0x7f) % kStatuses.size()];
  const std::optional<std::string> transport =
      (data[1] & 0x80) != 0 ? std::optional<std::string>("Connection terminated unexpectedly") : std::nullopt;
  const std::string body(fuzz::as_text(data + 2, size - 2));

  switch (data[0] % 8) {
    case 0:
      (void)run<api::Health>(status, body, transport, &api::parse_irvelo_health);
      break;
    case 1:
      (void)run<api::Me>(status, body, transport, &api::parse_me);
      break;
    case 2:
      (void)run<api::TokenResponse>(status, body, transport, &api::parse_token_response);
      break;
    case 3:
      (void)run<std::vector<api::PickerProject>>(status, body, transport, &api::parse_projects);
      break;
    case 4:
      if (auto b = run<api::Bootstrap>(status, body, transport, &api::parse_bootstrap)) {
        use_entries(b->entries, b->running, b->time_zone);
      }
      break;
    case 5:
      if (auto r = run<std::optional<api::TimeEntry>>(status, body, transport, &api::running_of); r && *r) {
        use_entries({}, *r, "UTC");
      }
      break;
    case 6:
      (void)run<api::Empty>(status, body, transport, &api::ignore_answer);
      break;
    default:
      if (auto e = run<api::TimeEntry>(status, body, transport, &api::parse_time_entry)) {
        use_entries({*e}, std::nullopt, "Europe/Berlin");
      }
      break;
  }
  return 0;
}
