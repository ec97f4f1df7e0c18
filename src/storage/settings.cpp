#include "storage/settings.hpp"

#include <glib.h>

#include "api/defaults.hpp"
#include "api/url.hpp"
#include "config.hpp"
#include "core/owned.hpp"
#include "core/work_hours.hpp"

namespace irvelo {
namespace {

constexpr const char* kGroup = "main";
constexpr const char* kFileName = "settings.ini";

std::string settings_path() {
  const CharPtr path(g_build_filename(config_dir().c_str(), kFileName, nullptr));
  return path.get();
}

// The string value of `key` in group "main", or `fallback` when it cannot be read.
std::string read_string(GKeyFile* key_file, const char* key, const std::string& fallback) {
  const CharPtr value(g_key_file_get_string(key_file, kGroup, key, nullptr));
  if (value == nullptr) return fallback;
  return value.get();
}

// The boolean `key`, or `fallback` when it is missing or cannot be read.
bool read_bool(GKeyFile* key_file, const char* key, bool fallback) {
  ErrorPtr error;
  const gboolean value = g_key_file_get_boolean(key_file, kGroup, key, out(error));
  if (error != nullptr) {
    if (!g_error_matches(error.get(), G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_KEY_NOT_FOUND)) {
      g_info("settings: %s left at its default: %s", key, error->message);
    }
    return fallback;
  }
  return value != FALSE;
}

// The whole number `key` from 0 to `high`, or `fallback` otherwise.
int read_int(GKeyFile* key_file, const char* key, int high, int fallback) {
  ErrorPtr error;
  const gint value = g_key_file_get_integer(key_file, kGroup, key, out(error));
  if (error != nullptr || value < 0 || value > high) return fallback;
  return value;
}

}  // namespace

std::string config_dir() {
  const CharPtr dir(g_build_filename(g_get_user_config_dir(), config::kProgramName, nullptr));
  return dir.get();
}

Settings Settings::load() {
  const std::string default_server(kDefaultServerUrl);
  Settings settings;
  settings.server_url = default_server;

  KeyFilePtr key_file(g_key_file_new());
  if (!g_key_file_load_from_file(key_file.get(), settings_path().c_str(), G_KEY_FILE_NONE, nullptr)) return settings;

  if (auto server = normalise_server_url(read_string(key_file.get(), "server_url", default_server))) {
    settings.server_url = std::move(*server);
  }
  settings.workspace_id = read_string(key_file.get(), "workspace_id", "");
  settings.key_origin = read_string(key_file.get(), "key_origin", "");

  settings.tray_shows_time = read_bool(key_file.get(), "tray_shows_time", settings.tray_shows_time);
  const std::string style = read_string(key_file.get(), "tray_time_style", settings.tray_time_style);
  if (style == "auto" || style == "label" || style == "icon" || style == "off") settings.tray_time_style = style;
  settings.stop_on_lock = read_bool(key_file.get(), "stop_on_lock", settings.stop_on_lock);
  settings.stop_on_sleep = read_bool(key_file.get(), "stop_on_sleep", settings.stop_on_sleep);
  settings.idle_stop_minutes =
      read_int(key_file.get(), "idle_stop_minutes", kMaxIdleStopMinutes, settings.idle_stop_minutes);
  settings.long_timer_hours =
      read_int(key_file.get(), "long_timer_hours", kMaxLongTimerHours, settings.long_timer_hours);
  settings.remind_to_track = read_bool(key_file.get(), "remind_to_track", settings.remind_to_track);
  const std::string hours = read_string(key_file.get(), "work_hours", settings.work_hours);
  if (parse_work_hours(hours)) settings.work_hours = hours;
  const std::string days = read_string(key_file.get(), "work_days", settings.work_days);
  if (parse_work_days(days)) settings.work_days = days;
  return settings;
}

void Settings::save() const {
  KeyFilePtr key_file(g_key_file_new());
  g_key_file_set_string(key_file.get(), kGroup, "server_url", server_url.c_str());
  g_key_file_set_string(key_file.get(), kGroup, "workspace_id", workspace_id.c_str());
  g_key_file_set_string(key_file.get(), kGroup, "key_origin", key_origin.c_str());
  g_key_file_set_boolean(key_file.get(), kGroup, "tray_shows_time", tray_shows_time ? TRUE : FALSE);
  g_key_file_set_string(key_file.get(), kGroup, "tray_time_style", tray_time_style.c_str());
  g_key_file_set_boolean(key_file.get(), kGroup, "stop_on_lock", stop_on_lock ? TRUE : FALSE);
  g_key_file_set_boolean(key_file.get(), kGroup, "stop_on_sleep", stop_on_sleep ? TRUE : FALSE);
  g_key_file_set_integer(key_file.get(), kGroup, "idle_stop_minutes", idle_stop_minutes);
  g_key_file_set_integer(key_file.get(), kGroup, "long_timer_hours", long_timer_hours);
  g_key_file_set_boolean(key_file.get(), kGroup, "remind_to_track", remind_to_track ? TRUE : FALSE);
  g_key_file_set_string(key_file.get(), kGroup, "work_hours", work_hours.c_str());
  g_key_file_set_string(key_file.get(), kGroup, "work_days", work_days.c_str());

  (void)g_mkdir_with_parents(config_dir().c_str(), 0700);

  ErrorPtr error;
  if (!g_key_file_save_to_file(key_file.get(), settings_path().c_str(), out(error))) {
    g_warning("cannot save settings: %s", error != nullptr ? error->message : "unknown error");
  }
}

}  // namespace irvelo
