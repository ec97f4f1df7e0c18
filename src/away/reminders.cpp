#include "away/reminders.hpp"

namespace irvelo::away {

std::optional<std::int64_t> Reminders::long_timer_due(const std::string& entry_id, std::int64_t started_at,
                                                      std::int64_t now, int hours) {
  if (hours <= 0 || now <= started_at) return std::nullopt;
  const std::int64_t span = static_cast<std::int64_t>(hours) * 3600;
  const std::int64_t spans = (now - started_at) / span;
  if (entry_id != long_entry_) {
    long_entry_ = entry_id;
    long_spans_ = 0;
  } else if (hours != long_hours_) {
    // The spans counted so far were of the old length: counted anew in the
    // new one, so that the next reminder comes at its next multiple, neither
    // at once nor after many silent hours.
    long_spans_ = spans;
  }
  long_hours_ = hours;
  if (spans <= long_spans_) return std::nullopt;
  long_spans_ = spans;
  return spans * hours;
}

bool Reminders::track_reminder_due(std::int64_t now, bool working_time, std::optional<std::int64_t> idle_ms,
                                   std::int64_t quiet_seconds) {
  if (!working_time || now - last_tracking_ < quiet_seconds) return false;
  if (last_track_reminder_ && now - *last_track_reminder_ < kTrackReminderGapSeconds) return false;
  if (idle_ms && *idle_ms >= kActiveWithinMs) return false;
  last_track_reminder_ = now;
  return true;
}

}  // namespace irvelo::away
