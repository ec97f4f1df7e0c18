#pragma once

// Turning instants and durations into the texts the panel and the tray show.
// Instants are Unix seconds; a zone is an identifier as the service sends it,
// with the empty string standing for the desktop's local zone.

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/owned.hpp"

namespace irvelo {

enum class DurationFormat { Full = 0, Compact = 1, Decimal = 2 };

struct LocalDate {
  std::int32_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;

  friend bool operator==(const LocalDate&, const LocalDate&) = default;
};

struct ClockTime {
  std::int32_t hour = 0;
  std::int32_t minute = 0;

  friend bool operator==(const ClockTime&, const ClockTime&) = default;
};

[[nodiscard]] DurationFormat parse_duration_format(std::string_view text);
[[nodiscard]] std::string format_duration(std::int64_t seconds, DurationFormat format);
[[nodiscard]] std::string format_clock(std::int64_t seconds);
[[nodiscard]] std::optional<std::int64_t> parse_instant(const std::string& text);
[[nodiscard]] std::int64_t now_unix();

// Both give the all-zero value when the instant cannot be converted (outside
// the range of years the calendar code handles), so such a date is never today.
[[nodiscard]] LocalDate local_date_of(std::int64_t instant, const std::string& zone);
[[nodiscard]] ClockTime clock_time_of(std::int64_t instant, const std::string& zone);

[[nodiscard]] std::string format_clock_time(ClockTime time, bool h12);

// A zone resolved once, for placing many instants on its calendar (the
// totals do so for every entry on every tick).
class ZoneCalendar {
 public:
  explicit ZoneCalendar(const std::string& zone);
  ZoneCalendar(const ZoneCalendar&) = delete;
  ZoneCalendar& operator=(const ZoneCalendar&) = delete;

  // As local_date_of, in this zone.
  [[nodiscard]] LocalDate date_of(std::int64_t instant) const;

 private:
  TimeZonePtr zone_;
};

// True for names shaped like IANA zone identifiers; anything else would be
// read by GLib as a file path and is treated as the local zone instead.
[[nodiscard]] bool is_safe_zone_name(std::string_view zone);

// Saturating arithmetic for durations and sums of them.
[[nodiscard]] std::int64_t saturating_add(std::int64_t a, std::int64_t b);
[[nodiscard]] std::int64_t saturating_sub(std::int64_t a, std::int64_t b);

}  // namespace irvelo
