#include "storage/autostart.hpp"

#include <glib.h>
#include <glib/gstdio.h>

#include "config.hpp"
#include "core/owned.hpp"
#include "storage/autostart_detail.hpp"

namespace irvelo::autostart {
namespace detail {
namespace {

constexpr const char* kAppId = config::kApplicationId;
constexpr const char* kGroup = "Desktop Entry";

std::string build_path(const char* first, const char* second, const char* third = nullptr) {
  const CharPtr joined(g_build_filename(first, second, third, nullptr));
  return joined.get();
}

}  // namespace

Host Host::current() {
  Host host;
  if (const char* appimage = g_getenv("APPIMAGE")) host.appimage = appimage;
  return host;
}

std::string path() {
  const std::string file = std::string(kAppId) + ".desktop";
  return build_path(g_get_user_config_dir(), "autostart", file.c_str());
}

std::string quote_exec_argument(std::string_view argument) {
  std::string out = "\"";
  for (const char c : argument) {
    switch (c) {
      case '"':
      case '`':
      case '$':
        out += "\\\\";  // the quoting's backslash, doubled by the string escaping
        out += c;
        break;
      case '\\':
        out += "\\\\\\\\";  // the quoting's backslash and the character, each doubled
        break;
      case '%':
        out += "%%";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

std::string start_command(const Host& host) {
  if (g_file_test(host.flatpak_marker.c_str(), G_FILE_TEST_EXISTS)) {
    return std::string("flatpak run ") + kAppId + " --background";
  }
  if (host.appimage) return quote_exec_argument(*host.appimage) + " --background";
  return std::string(config::kProgramName) + " --background";
}

std::string entry_content(const Host& host) {
  return std::string("[Desktop Entry]\n") +
         "Type=Application\n"
         "Name=Irvelo\n"
         "Exec=" +
         start_command(host) + "\n" + "Icon=" + kAppId + "\n" +
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n"
         "X-GNOME-Autostart-Delay=3\n";
}

std::string set_enabled(bool on, const Host& host) {
  const std::string entry = path();
  if (on) {
    const CharPtr dir(g_path_get_dirname(entry.c_str()));
    (void)g_mkdir_with_parents(dir.get(), 0755);
    const std::string content = entry_content(host);
    ErrorPtr error;
    if (!g_file_set_contents(entry.c_str(), content.data(), static_cast<gssize>(content.size()), out(error))) {
      return error != nullptr ? error->message : "unknown error";
    }
    return {};
  }
  if (g_unlink(entry.c_str()) == 0) return {};
  if (!g_file_test(entry.c_str(), G_FILE_TEST_EXISTS)) return {};
  return "cannot remove " + entry;
}

}  // namespace detail

bool enabled() {
  const KeyFilePtr key_file(g_key_file_new());
  if (!g_key_file_load_from_file(key_file.get(), detail::path().c_str(), G_KEY_FILE_NONE, nullptr)) return false;
  // A missing or unparsable key reads as false in both cases.
  if (g_key_file_get_boolean(key_file.get(), detail::kGroup, "Hidden", nullptr)) return false;
  return g_key_file_get_boolean(key_file.get(), detail::kGroup, "X-GNOME-Autostart-enabled", nullptr) != FALSE;
}

std::string set_enabled(bool on) {
  return detail::set_enabled(on, detail::Host::current());
}

}  // namespace irvelo::autostart
