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

  // Never fails: a missing, unreadable or damaged file gives the defaults.
  [[nodiscard]] static Settings load();

  // Writes the whole file (group "main", four keys); a failure is only logged,
  // as the warning "cannot save settings: %s".
  void save() const;
};

}  // namespace irvelo
