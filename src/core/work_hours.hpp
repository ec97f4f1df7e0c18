#pragma once

// Working hours and days as the user writes them in the settings: hours as
// "HH:MM-HH:MM" in local time (an end before the start runs past midnight),
// days as ISO weekdays (1 is Monday), a range "1-5" or a list "1,2,3,4,6".

#include <array>
#include <optional>
#include <string_view>

namespace irvelo {

struct WorkHours {
  int start_minute = 9 * 60;  // minutes after local midnight
  int end_minute = 17 * 60;
};

// Indexed by ISO weekday; index 0 is unused.
using WorkDays = std::array<bool, 8>;

[[nodiscard]] std::optional<WorkHours> parse_work_hours(std::string_view text);
[[nodiscard]] std::optional<WorkDays> parse_work_days(std::string_view text);

// Whether the local moment (ISO weekday, minutes after midnight) is working
// time. A span past midnight belongs to the day it started on.
[[nodiscard]] bool within_work_time(const WorkHours& hours, const WorkDays& days, int weekday, int minute);

}  // namespace irvelo
