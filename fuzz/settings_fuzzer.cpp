// The settings file as it may be found on disk, damaged or written by hand:
// Settings::load never fails, keeps a server address that normalisation
// accepts unchanged, and what it loaded survives a save and a second load.

#include <cstddef>
#include <cstdint>
#include <string>

#include "api/url.hpp"
#include "storage/settings.hpp"
#include "support.hpp"

namespace {

std::string& settings_file() {
  static std::string path;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  settings_file() = irvelo::fuzz::isolate_environment() + "/settings.ini";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using irvelo::fuzz::check;
  irvelo::fuzz::write_file(settings_file(), irvelo::fuzz::as_text(data, size));
  const irvelo::Settings loaded = irvelo::Settings::load();
  const auto server = irvelo::normalise_server_url(loaded.server_url);
  check(server.has_value() && *server == loaded.server_url, "the loaded server address is a canonical one");

  loaded.save();
  const irvelo::Settings again = irvelo::Settings::load();
  check(again.server_url == loaded.server_url, "server_url survives a save");
  check(again.workspace_id == loaded.workspace_id, "workspace_id survives a save");
  check(again.key_origin == loaded.key_origin, "key_origin survives a save");
  check(again.tray_shows_time == loaded.tray_shows_time, "tray_shows_time survives a save");
  return 0;
}
