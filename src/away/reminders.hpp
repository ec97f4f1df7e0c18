#pragma once

// When to remind: a timer that has run long, and working time with nothing
// tracked. Pure bookkeeping over instants (Unix seconds) that the caller
// reads; nothing here looks at a clock or a bus.

#include <cstdint>
#include <optional>
#include <string>

namespace irvelo::away {

// A reminder to track comes at most this often...
inline constexpr std::int64_t kTrackReminderGapSeconds = 60 * 60;
// ...and only while the user has been at the keyboard within this span.
inline constexpr std::int64_t kActiveWithinMs = 5 * 60 * 1000;

class Reminders {
 public:
  explicit Reminders(std::int64_t now) : last_tracking_(now) {}

  // For a running entry: the hours it has run when that passed a further
  // multiple of `hours` since the last reminder for it, else nothing.
  [[nodiscard]] std::optional<std::int64_t> long_timer_due(const std::string& entry_id, std::int64_t started_at,
                                                           std::int64_t now, int hours);

  // A timer ran at `now`.
  void tracking_seen(std::int64_t now) { last_tracking_ = now; }
  // Whether to remind to track: in working time, nothing tracked for
  // `quiet_seconds`, the last such reminder an hour ago or more, and the user
  // active (idle time unknown counts as active). Records the reminder when due.
  [[nodiscard]] bool track_reminder_due(std::int64_t now, bool working_time, std::optional<std::int64_t> idle_ms,
                                        std::int64_t quiet_seconds);

 private:
  std::string long_entry_;
  std::int64_t long_spans_ = 0;
  int long_hours_ = 0;
  std::int64_t last_tracking_;
  std::optional<std::int64_t> last_track_reminder_;
};

}  // namespace irvelo::away
