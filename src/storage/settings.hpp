#pragma once

// The user's preferences and session hints kept between runs: one
// GLib key file, "settings.ini", in config_dir().

#include <string>

namespace irvelo {

// The user configuration directory (as GLib reports it) joined with
// "irvelo-desktop". Not created here.
[[nodiscard]] std::string config_dir();

struct Settings {
  std::string server_url;    // already normalised; load() puts the default service URL
  std::string workspace_id;  // empty: none chosen
  std::string key_origin;    // "personal" or "connect", as the store records it
  bool tray_shows_time = true;
  // Where the tray shows the running time: "auto", "label", "icon" or "off".
  std::string tray_time_style = "auto";

  // Away from the desk: each stop is off by default, as some people lock the
  // screen in meetings and keep working.
  bool stop_on_lock = false;
  bool stop_on_sleep = false;
  int idle_stop_minutes = 0;  // 0 is off; at most kMaxIdleStopMinutes
  int long_timer_hours = 0;   // 0 is off
  bool remind_to_track = false;
  std::string work_hours = "09:00-17:00";  // as parse_work_hours reads it
  std::string work_days = "1-5";           // as parse_work_days reads it

  static constexpr int kMaxIdleStopMinutes = 480;
  static constexpr int kMaxLongTimerHours = 24;

  // Never fails: a missing, unreadable or damaged file gives the defaults.
  [[nodiscard]] static Settings load();

  // Writes the whole file (group "main", every key); a failure is only logged,
  // as the warning "cannot save settings: %s".
  void save() const;
};

}  // namespace irvelo
