#include "core/work_hours.hpp"

#include <charconv>

namespace irvelo {
namespace {

// A whole number from `text` between `low` and `high`, all of it digits.
std::optional<int> number(std::string_view text, int low, int high) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [rest, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || rest != end || value < low || value > high) return std::nullopt;
  return value;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::optional<int> clock_minute(std::string_view text) {
  text = trim(text);
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || text.size() - colon != 3) return std::nullopt;
  const auto hour = number(text.substr(0, colon), 0, 24);
  const auto minute = number(text.substr(colon + 1), 0, 59);
  if (!hour || !minute || (*hour == 24 && *minute != 0)) return std::nullopt;
  return *hour * 60 + *minute;
}

}  // namespace

std::optional<WorkHours> parse_work_hours(std::string_view text) {
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto start = clock_minute(text.substr(0, dash));
  const auto end = clock_minute(text.substr(dash + 1));
  // An empty span would make the reminder silent without saying why.
  if (!start || !end || *start == *end || *start == 24 * 60) return std::nullopt;
  return WorkHours{*start, *end};
}

std::optional<WorkDays> parse_work_days(std::string_view text) {
  WorkDays days{};
  bool any = false;
  while (true) {
    const auto comma = text.find(',');
    const std::string_view item = trim(text.substr(0, comma));
    const auto dash = item.find('-');
    const auto first = number(item.substr(0, dash), 1, 7);
    const auto last = dash == std::string_view::npos ? first : number(item.substr(dash + 1), 1, 7);
    if (!first || !last || *last < *first) return std::nullopt;
    for (int day = *first; day <= *last; ++day) days[static_cast<std::size_t>(day)] = true;
    any = true;
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (!any) return std::nullopt;
  return days;
}

bool within_work_time(const WorkHours& hours, const WorkDays& days, int weekday, int minute) {
  if (weekday < 1 || weekday > 7) return false;
  if (hours.start_minute < hours.end_minute) {
    return days[static_cast<std::size_t>(weekday)] && minute >= hours.start_minute && minute < hours.end_minute;
  }
  // Past midnight: the evening part is today's, the early part yesterday's.
  const int yesterday = weekday == 1 ? 7 : weekday - 1;
  if (minute >= hours.start_minute) return days[static_cast<std::size_t>(weekday)];
  if (minute < hours.end_minute) return days[static_cast<std::size_t>(yesterday)];
  return false;
}

}  // namespace irvelo
