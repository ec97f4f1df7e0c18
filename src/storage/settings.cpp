#include "storage/settings.hpp"

#include <glib.h>

#include "api/defaults.hpp"
#include "api/url.hpp"
#include "config.hpp"
#include "core/owned.hpp"

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

  ErrorPtr error;
  const gboolean tray = g_key_file_get_boolean(key_file.get(), kGroup, "tray_shows_time", out(error));
  if (error == nullptr) {
    settings.tray_shows_time = tray != FALSE;
  } else {
    g_info("settings: tray_shows_time left at its default: %s", error->message);
  }
  return settings;
}

void Settings::save() const {
  KeyFilePtr key_file(g_key_file_new());
  g_key_file_set_string(key_file.get(), kGroup, "server_url", server_url.c_str());
  g_key_file_set_string(key_file.get(), kGroup, "workspace_id", workspace_id.c_str());
  g_key_file_set_string(key_file.get(), kGroup, "key_origin", key_origin.c_str());
  g_key_file_set_boolean(key_file.get(), kGroup, "tray_shows_time", tray_shows_time ? TRUE : FALSE);

  (void)g_mkdir_with_parents(config_dir().c_str(), 0700);

  ErrorPtr error;
  if (!g_key_file_save_to_file(key_file.get(), settings_path().c_str(), out(error))) {
    g_warning("cannot save settings: %s", error != nullptr ? error->message : "unknown error");
  }
}

}  // namespace irvelo
