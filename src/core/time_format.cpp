#include "core/time_format.hpp"

#include <glib.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/owned.hpp"

namespace irvelo {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// The magnitude of the most negative value does not fit; it saturates.
std::uint64_t magnitude(std::int64_t seconds) {
  if (seconds == kMin) return static_cast<std::uint64_t>(kMax);
  return static_cast<std::uint64_t>(seconds < 0 ? -seconds : seconds);
}

TimeZonePtr resolve_zone(const std::string& zone) {
  if (!zone.empty() && is_safe_zone_name(zone)) {
    // Asked for on every clock tick; GLib keeps only the local zone, and would
    // look for a named zone's file each time, also for a name it does not
    // know (which stands for the local zone, and is kept as such).
    thread_local std::string last_name;
    thread_local TimeZonePtr last_zone;
    if (!last_zone || last_name != zone) {
      GTimeZone* tz = g_time_zone_new_identifier(zone.c_str());
      last_zone.reset(tz != nullptr ? tz : g_time_zone_new_local());
      last_name = zone;
    }
    return TimeZonePtr(g_time_zone_ref(last_zone.get()));
  }
  return TimeZonePtr(g_time_zone_new_local());
}

DateTimePtr in_zone(std::int64_t instant, GTimeZone* tz) {
  DateTimePtr utc(g_date_time_new_from_unix_utc(instant));
  if (!utc) return nullptr;
  return DateTimePtr(g_date_time_to_timezone(utc.get(), tz));
}

// The proleptic Gregorian date of a day counted from 1970-01-01 (H. Hinnant's
// civil_from_days).
LocalDate civil_date(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return {static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
}

std::string printf_string(const char* format, auto... args) {
  char buffer[96];
  int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0) return {};
  return std::string(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

}  // namespace

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? kMax : kMin;
  return r;
}

std::int64_t saturating_sub(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kMax : kMin;
  return r;
}

bool is_safe_zone_name(std::string_view zone) {
  if (zone.empty() || zone.front() == '/' || zone.front() == ':') return false;
  if (zone.find("..") != std::string_view::npos) return false;
  for (char c : zone) {
    const bool ok = g_ascii_isalnum(c) || c == '/' || c == '_' || c == '-' || c == '+';
    if (!ok) return false;
  }
  return true;
}

DurationFormat parse_duration_format(std::string_view text) {
  if (text == "compact") return DurationFormat::Compact;
  if (text == "decimal") return DurationFormat::Decimal;
  return DurationFormat::Full;
}

std::string format_duration(std::int64_t seconds, DurationFormat format) {
  const char* prefix = seconds < 0 ? "-" : "";
  const std::uint64_t m = magnitude(seconds);
  const auto h = static_cast<unsigned long long>(m / 3600);
  const auto n = static_cast<unsigned long long>((m % 3600) / 60);
  const auto s = static_cast<unsigned long long>(m % 60);
  switch (format) {
    case DurationFormat::Compact:
      return printf_string("%s%llu:%02llu", prefix, h, n);
    case DurationFormat::Decimal: {
      const double x = std::floor(static_cast<double>(m) / 3600.0 * 100.0 + 0.5 + 1e-9);
      return printf_string("%s%.2f", prefix, x / 100.0);
    }
    case DurationFormat::Full:
      break;
  }
  return printf_string("%s%02llu:%02llu:%02llu", prefix, h, n, s);
}

std::string format_clock(std::int64_t seconds) {
  const std::uint64_t m = seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
  return printf_string("%llu:%02llu:%02llu", static_cast<unsigned long long>(m / 3600),
                       static_cast<unsigned long long>((m % 3600) / 60), static_cast<unsigned long long>(m % 60));
}

std::optional<std::int64_t> parse_instant(const std::string& text) {
  if (text.empty()) return std::nullopt;
  DateTimePtr dt(g_date_time_new_from_iso8601(text.c_str(), nullptr));
  if (!dt) return std::nullopt;
  return static_cast<std::int64_t>(g_date_time_to_unix(dt.get()));
}

std::int64_t now_unix() {
  return static_cast<std::int64_t>(g_get_real_time() / 1000000);
}

ZoneCalendar::ZoneCalendar(const std::string& zone) : zone_(resolve_zone(zone)) {}

LocalDate ZoneCalendar::date_of(std::int64_t instant) const {
  // The totals place every entry of the week on this calendar once a second,
  // so this takes GDateTime's own steps (the zone's interval and its offset,
  // then the civil date) without allocating one per call; the range checks
  // are GDateTime's: years 1 to 9999 in universal time and in the zone.
  constexpr std::int64_t kFirst = -62135596800;  // 0001-01-01T00:00:00Z
  constexpr std::int64_t kEnd = 253402300800;    // 10000-01-01T00:00:00Z
  if (instant < kFirst || instant >= kEnd) return {};
  const gint interval = g_time_zone_find_interval(zone_.get(), G_TIME_TYPE_UNIVERSAL, instant);
  if (interval < 0) return {};
  const std::int64_t local = instant + g_time_zone_get_offset(zone_.get(), interval);
  if (local < kFirst || local >= kEnd) return {};
  return civil_date(local >= 0 ? local / 86400 : (local - 86399) / 86400);
}

LocalDate local_date_of(std::int64_t instant, const std::string& zone) {
  return ZoneCalendar(zone).date_of(instant);
}

ClockTime clock_time_of(std::int64_t instant, const std::string& zone) {
  TimeZonePtr tz = resolve_zone(zone);
  DateTimePtr dt = in_zone(instant, tz.get());
  if (!dt) return {};
  return {g_date_time_get_hour(dt.get()), g_date_time_get_minute(dt.get())};
}

std::string format_clock_time(ClockTime time, bool h12) {
  if (!h12) return printf_string("%02d:%02d", time.hour, time.minute);
  const int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
  return printf_string("%d:%02d %s", hour12, time.minute, time.hour < 12 ? "AM" : "PM");
}

}  // namespace irvelo
